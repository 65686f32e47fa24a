/*
 * Compares the first <count> samples of two raw 32-bit float files (this
 * machine's byte order) bit for bit; where they differ, says by how much at
 * most (in dB below full scale), where, and how many samples differ.
 *
 *   f32cmp <a.f32> <b.f32> <count> <sample rate>
 *
 * Exit status 0 when identical, 1 when not, 2 on a file error or when a
 * file holds fewer samples or only silence.
 */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static float* load(const char* path, long count) {
    FILE* f = fopen(path, "rb");
    float* data = malloc((size_t)count * sizeof(float));

    if (!f || !data || fread(data, sizeof(float), (size_t)count, f) != (size_t)count) {
        fprintf(stderr, "f32cmp: %s: fewer than %ld samples\n", path, count);
        exit(2);
    }
    fclose(f);
    return data;
}

int main(int argc, char** argv) {
    if (argc != 5) {
        fprintf(stderr, "usage: f32cmp <a.f32> <b.f32> <count> <sample rate>\n");
        return 2;
    }
    const long count = strtol(argv[3], NULL, 10);
    const double rate = strtod(argv[4], NULL);
    const float* a = load(argv[1], count);
    const float* b = load(argv[2], count);
    long differ = 0, first = -1, worst = -1;
    double largest = 0.0, peak = 0.0;

    for (long i = 0; i < count; i++) {
        const double d = fabs((double)a[i] - (double)b[i]);
        peak = fmax(peak, fabs((double)a[i]));
        if (memcmp(&a[i], &b[i], sizeof(float)) != 0) {
            differ++;
            if (first < 0)
                first = i;
            if (worst < 0 || d > largest) {
                largest = d;
                worst = i;
            }
        }
    }
    if (peak == 0.0) {
        fprintf(stderr, "f32cmp: %s is silence\n", argv[1]);
        return 2;
    }
    if (differ == 0) {
        printf("identical, %ld samples, peak %.1f dBFS\n", count, 20.0 * log10(peak));
        return 0;
    }
    printf(
        "%ld of %ld samples differ, first at %ld (%.3f s); largest difference %.3g "
        "(%.1f dB below full scale) at sample %ld (%.3f s): %.9g against %.9g\n",
        differ, count, first, first / rate, largest,
        largest > 0.0 ? -20.0 * log10(largest) : INFINITY, worst, worst / rate, a[worst], b[worst]);
    return 1;
}
