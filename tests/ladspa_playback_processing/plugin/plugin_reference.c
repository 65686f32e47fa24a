/*
 * Checks a real LADSPA host's output of the PLAYBACKPROCESSING plug-in
 * against the chain's C interface driven directly with the same input and
 * settings.
 *
 *   plugin_reference HOST SETTINGS INPUT.wav HOST_OUTPUT.wav
 *
 * HOST says how the host turned float output into 16-bit samples:
 *   applyplugin  llrintf(y * 2^31) kept as a 32-bit integer, then libsndfile
 *                drops the low 16 bits (an arithmetic shift, so rounding
 *                toward minus infinity): reproduced exactly, no tolerance;
 *   sox          rounded to nearest in two steps (float to 32-bit, 32-bit to
 *                16-bit, run with dither off): within 1 step of 16 bits.
 * SETTINGS is the profile's settings file, read here with libconfig and
 * applied in the order of SettingApplyOrder.h, independently of the order
 * the plug-in's table gives. Both readers take the input as libsndfile
 * delivers floats (16-bit samples divided by 32768).
 *
 * Exit status 0 when every sample matches and the expected output is not
 * silence, 1 on a mismatch, 2 on a usage or file error.
 */
#include <libconfig.h>
#include <math.h>
#include <sndfile.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "SettingApplyOrder.h"
#include "ladspa_settings.h"
#include "playbackprocessing_cwrapper.h"

/* Applies the keys the settings file holds in the order written out in
 * SettingApplyOrder.h, each with the lookup and the call the plug-in's table
 * gives it; a settings key the plug-in does not read is an error here. */
static int applySettings(const char* path, PlaybackProcessingData* chain) {
    config_t c;
    config_init(&c);
    if (config_read_file(&c, path) != CONFIG_TRUE) {
        fprintf(stderr, "plugin_reference: cannot read %s: %s (line %d)\n", path,
                config_error_text(&c), config_error_line(&c));
        config_destroy(&c);
        return -1;
    }
    int status = 0;
    const config_setting_t* root = config_root_setting(&c);
    for (int i = 0; i < config_setting_length(root); ++i) {
        const char* key = config_setting_name(config_setting_get_elem(root, i));
        if (findLadspaSetting(key) == NULL) {
            fprintf(stderr, "plugin_reference: %s: the plug-in reads no setting %s\n", path, key);
            status = -1;
        }
    }
    for (size_t i = 0; status == 0 && i < SETTING_APPLY_ORDER_COUNT; ++i) {
        const LadspaSetting* setting = findLadspaSetting(kSettingApplyOrder[i]);
        if (setting == NULL) {
            fprintf(stderr, "plugin_reference: the plug-in reads no setting %s\n",
                    kSettingApplyOrder[i]);
            status = -1;
        } else {
            applyLadspaSetting(&c, setting, chain);
        }
    }
    config_destroy(&c);
    return status;
}

/* applyplugin's conversion, for |y| < 1 where it does not overflow. */
static int applypluginSample(float y) {
    int32_t wide = (int32_t)llrintf(y * 2147483648.0f);
    return wide >> 16;
}

static float* readMono(const char* path, sf_count_t* frames, int* rate) {
    SF_INFO info;
    memset(&info, 0, sizeof info);
    SNDFILE* file = sf_open(path, SFM_READ, &info);
    if (file == NULL || info.channels != 1) {
        fprintf(stderr, "plugin_reference: %s is not a readable mono sound file\n", path);
        if (file != NULL) {
            sf_close(file);
        }
        return NULL;
    }
    float* samples = (float*)malloc((size_t)(info.frames > 0 ? info.frames : 1) * sizeof(float));
    *frames = samples ? sf_readf_float(file, samples, info.frames) : 0;
    *rate = info.samplerate;
    sf_close(file);
    return samples;
}

/* Runs the input through the chain and counts the host samples that differ
 * from its output; returns the exit status. */
static int compare(PlaybackProcessingData* chain, int exact, const float* in, const float* host,
                   sf_count_t frames, int rate, const char* hostName) {
    long mismatches = 0;
    float peak = 0.0f;
    for (sf_count_t i = 0; i < frames; ++i) {
        float y;
        PlaybackProcessing_Process(chain, &in[i], &y);
        peak = fmaxf(peak, fabsf(y));
        /* libsndfile read the host's 16-bit sample s as s / 32768, exactly. */
        const long got = lrintf(host[i] * 32768.0f);
        const int ok = fabsf(y) < 1.0f && (exact ? got == applypluginSample(y)
                                                 : fabsf((float)got - y * 32768.0f) <= 1.0f);
        if (!ok && mismatches++ == 0) {
            fprintf(stderr, "plugin_reference: sample %ld: C interface %.9g, host %ld/32768\n",
                    (long)i, y, got);
        }
    }
    printf("%s: %ld samples at %d Hz, %ld mismatches, peak %.6f\n", hostName, (long)frames, rate,
           mismatches, peak);
    if (peak == 0.0f) {
        fprintf(stderr, "plugin_reference: the expected output is silence; nothing was compared\n");
        return 1;
    }
    return mismatches == 0 ? 0 : 1;
}

int main(int argc, char** argv) {
    if (argc != 5 || (strcmp(argv[1], "applyplugin") != 0 && strcmp(argv[1], "sox") != 0)) {
        fprintf(stderr, "usage: plugin_reference applyplugin|sox SETTINGS INPUT HOST_OUTPUT\n");
        return 2;
    }
    sf_count_t frames = 0, hostFrames = 0;
    int rate = 0, hostRate = 0;
    float* in = readMono(argv[3], &frames, &rate);
    float* host = readMono(argv[4], &hostFrames, &hostRate);
    PlaybackProcessingData* chain =
        in != NULL ? PlaybackProcessing_Init("PLUGIN_REFERENCE", 1, (unsigned)rate) : NULL;
    int status = 2;
    if (in != NULL && host != NULL && chain != NULL && applySettings(argv[2], chain) == 0) {
        if (frames != hostFrames || rate != hostRate) {
            fprintf(stderr, "plugin_reference: %ld frames at %d Hz in, %ld at %d Hz out\n",
                    (long)frames, rate, (long)hostFrames, hostRate);
        } else {
            status = compare(chain, strcmp(argv[1], "applyplugin") == 0, in, host, frames, rate,
                             argv[1]);
        }
    }
    PlaybackProcessing_Uninit(chain);
    free(in);
    free(host);
    return status;
}
