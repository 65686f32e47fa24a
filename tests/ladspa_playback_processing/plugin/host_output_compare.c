/*
 * Compares a sound system's 16-bit output of the PLAYBACKPROCESSING plug-in
 * with applyplugin's 16-bit output for the same input and profile.
 *
 *   host_output_compare TOLERANCE REFERENCE.wav HOST.wav [prefix]
 *       Every sample of HOST within TOLERANCE steps of 16 bits of the same
 *       sample of REFERENCE, at the same rate. Both files must have the same
 *       length, or with "prefix" HOST may run on past the reference's end
 *       (a host that appends silence it was fed after the input).
 *   host_output_compare lead-in HOST.wav
 *       Prints the index of HOST's first sample that is not zero: the
 *       silence a host fed the plug-in before the input, when the input
 *       starts with a sample loud enough to come out not zero.
 *
 * The hosts convert the plug-in's float output to 16 bits their own way
 * (rounding to nearest) where applyplugin rounds toward minus infinity, so
 * a tolerance of 1 is what a correct plug-in gives; 0 checks a host that
 * converts as applyplugin does.
 *
 * Exit status 0 when every sample matches and the reference is not silence,
 * 1 on a mismatch, 2 on a usage or file error.
 */
#include <sndfile.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef struct {
    short* samples;
    sf_count_t frames;
    int rate;
} Sound;

static int readSound(const char* path, Sound* sound) {
    SF_INFO info;
    memset(&info, 0, sizeof info);
    SNDFILE* file = sf_open(path, SFM_READ, &info);
    if (file == NULL || info.channels != 1 ||
        (info.format & SF_FORMAT_SUBMASK) != SF_FORMAT_PCM_16) {
        fprintf(stderr, "host_output_compare: %s is not a readable mono 16-bit sound file\n", path);
        if (file != NULL) {
            sf_close(file);
        }
        return -1;
    }
    sound->samples = (short*)malloc((size_t)(info.frames > 0 ? info.frames : 1) * sizeof(short));
    sound->frames = sound->samples ? sf_readf_short(file, sound->samples, info.frames) : 0;
    sound->rate = info.samplerate;
    sf_close(file);
    return sound->samples != NULL && sound->frames == info.frames ? 0 : -1;
}

static int leadIn(const char* path) {
    Sound host;
    if (readSound(path, &host) != 0) {
        return 2;
    }
    sf_count_t i = 0;
    while (i < host.frames && host.samples[i] == 0) {
        ++i;
    }
    free(host.samples);
    if (i == host.frames) {
        fprintf(stderr, "host_output_compare: %s is silence\n", path);
        return 1;
    }
    printf("%ld\n", (long)i);
    return 0;
}

static int compare(long tolerance, const Sound* reference, const Sound* host) {
    long mismatches = 0, differing = 0, largest = 0, peak = 0;
    for (sf_count_t i = 0; i < reference->frames; ++i) {
        const long want = reference->samples[i], got = host->samples[i];
        const long difference = labs(got - want);
        peak = labs(want) > peak ? labs(want) : peak;
        largest = difference > largest ? difference : largest;
        differing += difference != 0;
        if (difference > tolerance && mismatches++ == 0) {
            fprintf(stderr, "host_output_compare: sample %ld: applyplugin %ld, host %ld\n", (long)i,
                    want, got);
        }
    }
    printf(
        "%ld samples at %d Hz: %ld differ, by at most %ld (tolerance %ld), %ld mismatches, "
        "peak %ld\n",
        (long)reference->frames, reference->rate, differing, largest, tolerance, mismatches, peak);
    if (peak == 0) {
        fprintf(stderr, "host_output_compare: the reference is silence; nothing was compared\n");
        return 1;
    }
    return mismatches == 0 ? 0 : 1;
}

int main(int argc, char** argv) {
    if (argc == 3 && strcmp(argv[1], "lead-in") == 0) {
        return leadIn(argv[2]);
    }
    char* end = NULL;
    const long tolerance = argc >= 4 ? strtol(argv[1], &end, 10) : -1;
    const int prefix = argc == 5 && strcmp(argv[4], "prefix") == 0;
    if (argc < 4 || argc > 5 || (argc == 5 && !prefix) || *end != '\0' || tolerance < 0) {
        fprintf(stderr,
                "usage: host_output_compare TOLERANCE REFERENCE HOST [prefix]\n"
                "       host_output_compare lead-in HOST\n");
        return 2;
    }
    Sound reference = {NULL, 0, 0}, host = {NULL, 0, 0};
    int status = 2;
    if (readSound(argv[2], &reference) == 0 && readSound(argv[3], &host) == 0) {
        if (reference.rate != host.rate || host.frames < reference.frames ||
            (!prefix && host.frames != reference.frames)) {
            fprintf(stderr,
                    "host_output_compare: %ld frames at %d Hz from applyplugin, %ld at %d Hz "
                    "from the host\n",
                    (long)reference.frames, reference.rate, (long)host.frames, host.rate);
            status = 1;
        } else {
            status = compare(tolerance, &reference, &host);
        }
    }
    free(reference.samples);
    free(host.samples);
    return status;
}
