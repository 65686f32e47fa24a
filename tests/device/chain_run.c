/*
 * The playback chain driven directly through its C interface, as the plug-in
 * would for one profile: the reference for the plug-in's output in a real
 * LADSPA host on the board and on this machine.
 *
 *   chain_run SETTINGS INPUT.wav OUTPUT.f32
 *
 * Reads the input as libsndfile delivers floats (16-bit samples divided by
 * 32768, as ALSA's conversion to float gives them), applies the settings
 * file in the order of SettingApplyOrder.h, runs one sample per block and
 * writes the output as raw 32-bit floats in the machine's byte order.
 * Exit status 0, or 2 on a usage or file error.
 */
#include <libconfig.h>
#include <sndfile.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "SettingApplyOrder.h"
#include "ladspa_settings.h"
#include "playbackprocessing_cwrapper.h"

static int applySettings(const char* path, PlaybackProcessingData* chain) {
    config_t c;
    config_init(&c);
    if (config_read_file(&c, path) != CONFIG_TRUE) {
        fprintf(stderr, "chain_run: cannot read %s: %s (line %d)\n", path, config_error_text(&c),
                config_error_line(&c));
        config_destroy(&c);
        return -1;
    }
    for (size_t i = 0; i < SETTING_APPLY_ORDER_COUNT; ++i) {
        const LadspaSetting* setting = findLadspaSetting(kSettingApplyOrder[i]);
        if (setting != NULL) {
            applyLadspaSetting(&c, setting, chain);
        }
    }
    config_destroy(&c);
    return 0;
}

int main(int argc, char** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: chain_run SETTINGS INPUT.wav OUTPUT.f32\n");
        return 2;
    }
    SF_INFO info;
    memset(&info, 0, sizeof info);
    SNDFILE* file = sf_open(argv[2], SFM_READ, &info);
    if (file == NULL || info.channels != 1 || info.frames <= 0) {
        fprintf(stderr, "chain_run: %s is not a readable mono sound file\n", argv[2]);
        return 2;
    }
    float* samples = (float*)malloc((size_t)info.frames * sizeof(float));
    sf_count_t frames = samples ? sf_readf_float(file, samples, info.frames) : 0;
    sf_close(file);
    PlaybackProcessingData* chain =
        PlaybackProcessing_Init("CHAIN_RUN", 1, (unsigned)info.samplerate);
    FILE* out = fopen(argv[3], "wb");
    int status = 2;
    if (frames > 0 && chain != NULL && out != NULL && applySettings(argv[1], chain) == 0) {
        for (sf_count_t i = 0; i < frames; ++i) {
            float y = 0.0f;
            PlaybackProcessing_Process(chain, &samples[i], &y);
            samples[i] = y;
        }
        status = fwrite(samples, sizeof(float), (size_t)frames, out) == (size_t)frames ? 0 : 2;
    }
    if (out != NULL && fclose(out) != 0) {
        status = 2;
    }
    PlaybackProcessing_Uninit(chain);
    free(samples);
    if (status != 0) {
        fprintf(stderr, "chain_run: failed\n");
    }
    return status;
}
