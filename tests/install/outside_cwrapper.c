/* A C user of the installed package: creates a playback chain through the C
 * interface, configures it as the LADSPA plug-in does, runs a WAV recording
 * through it one sample per call and releases it.
 * usage: outside_cwrapper SCRATCH_DIR
 * pkg-config-also: sndfile
 */
#include <playbackprocessing_cwrapper.h>
#include <sndfile.h>
#include <stdio.h>

enum { kFs = 16000, kFrames = kFs };

static int writeCoefficientFile(const char* path) {
    /* One FIR low-pass section (1/4, 1/2, 1/4) for 16 kHz. */
    FILE* file = fopen(path, "w");
    if (!file)
        return -1;
    fputs(
        "filter_fs_16000 = {\n  fs = 16000;\n  gain = 1.0;\n  b0 = [ 0.25 ];\n"
        "  b1 = [ 0.5 ];\n  b2 = [ 0.25 ];\n  a1 = [ 0.0 ];\n  a2 = [ 0.0 ];\n};\n",
        file);
    return fclose(file);
}

static sf_count_t writeWav(const char* path, const float* samples, sf_count_t frames) {
    SF_INFO info = {0};
    info.samplerate = kFs;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(path, SFM_WRITE, &info);
    if (!file)
        return -1;
    const sf_count_t written = sf_writef_float(file, samples, frames);
    sf_close(file);
    return written;
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: outside_cwrapper SCRATCH_DIR\n");
        return 1;
    }
    char eqPath[4096], inPath[4096], outPath[4096];
    snprintf(eqPath, sizeof eqPath, "%s/eq.cfg", argv[1]);
    snprintf(inPath, sizeof inPath, "%s/in.wav", argv[1]);
    snprintf(outPath, sizeof outPath, "%s/out.wav", argv[1]);
    static float in[kFrames], out[kFrames];

    /* The recording: a 200 Hz triangle tone in syllables of 200 ms (integer
     * phases, so no maths library is needed). */
    for (int i = 0; i < kFrames; ++i) {
        const int tone = i % 80, syllable = i % 3200;
        const float wave = (tone < 40 ? tone - 20 : 60 - tone) / 20.0f;
        const float envelope = (syllable < 1600 ? syllable : 3200 - syllable) / 1600.0f;
        in[i] = 0.3f * envelope * wave;
    }
    if (writeCoefficientFile(eqPath) != 0 || writeWav(inPath, in, kFrames) != kFrames) {
        fprintf(stderr, "outside_cwrapper: cannot write the scratch files\n");
        return 1;
    }

    PlaybackProcessingData* chain = PlaybackProcessing_Init("OUTSIDE_C", 1, kFs);
    printf("init: %s\n", chain ? "ok" : "failed");
    if (!chain)
        return 1;

    /* The plug-in's order: coefficient file, AGC settings, volume, switches;
     * one call per statement, as C leaves the order of initialisers open. */
    int status[7];
    status[0] = PlaybackProcessing_setEqualizerFilename(chain, eqPath);
    status[1] = PlaybackProcessing_setAGCTargetLevelDb(chain, -12.0f);
    status[2] = PlaybackProcessing_setAGCMaxGainDb(chain, 20.0f);
    status[3] = PlaybackProcessing_setAGCMaxAmp(chain, 0.9f);
    status[4] = PlaybackProcessing_setOutputGainDb(chain, 0.0f);
    status[5] = PlaybackProcessing_setAGCEnabled(chain, 1);
    status[6] = PlaybackProcessing_setEqualizerEnabled(chain, 1);
    printf("configure:");
    for (size_t i = 0; i < sizeof status / sizeof status[0]; ++i)
        printf(" %d", status[i]);
    printf("\n");
    int agc = -1, equalizer = -1;
    PlaybackProcessing_getAGCEnabled(chain, &agc);
    PlaybackProcessing_getEqualizerEnabled(chain, &equalizer);
    printf("agc %d, equalizer %d\n", agc, equalizer);

    SF_INFO info = {0};
    SNDFILE* file = sf_open(inPath, SFM_READ, &info);
    if (!file) {
        fprintf(stderr, "outside_cwrapper: %s\n", sf_strerror(NULL));
        return 1;
    }
    const sf_count_t frames = sf_readf_float(file, in, kFrames);
    sf_close(file);
    printf("read in.wav: %lld frames, %d Hz, %d channel\n", (long long)frames, info.samplerate,
           info.channels);

    int failures = 0;
    float peak = 0.0f;
    for (sf_count_t i = 0; i < frames; ++i) {
        failures += PlaybackProcessing_Process(chain, &in[i], &out[i]) != 0;
        const float magnitude = out[i] < 0.0f ? -out[i] : out[i];
        if (magnitude > peak)
            peak = magnitude;
    }
    printf("processed: %lld samples, %d failed\n", (long long)frames, failures);
    printf("output peak: %s\n", peak > 0.05f && peak <= 0.9f ? "audible, within max_amp" : "wrong");
    printf("wrote out.wav: %lld frames\n", (long long)writeWav(outPath, out, frames));

    printf("null buffers refused: %d\n", PlaybackProcessing_Process(chain, NULL, out));
    printf("uninit: %d\n", PlaybackProcessing_Uninit(chain));
    printf("null handle refused: %d\n", PlaybackProcessing_setOutputGainDb(NULL, 0.0f));
    return 0;
}
