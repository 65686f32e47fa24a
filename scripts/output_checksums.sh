#!/usr/bin/env bash
# Prints a checksum of every output the audio programs produce from one fixed
# speech recording, so that a change meant to keep results bit for bit can be
# checked by comparing two runs of this script (one per build) with diff:
#   - the LADSPA plug-in in Debian's applyplugin, both profiles (Mode 0 and
#     1), at 16000, 44100 and 48000 Hz;
#   - the raw float output of a small dlopen() host, same profiles and rates,
#     in host blocks of 256 samples;
#   - LyraneBenchmark's output WAV for a two-channel recording made from the
#     speech (as scripts/run_benchmark.sh makes it, with fixed noise);
#   - every CSV LyraneTuning writes: the shipped coefficient file's
#     response, and a trace of the speech through both profiles at both
#     rates of that file, at one-sample and 160-sample blocks.
#
# usage: scripts/output_checksums.sh BUILD_DIR
# BUILD_DIR is a build tree configured with
#   -DLYRANE_CONFIG_DIR=BUILD_DIR/etc/Lyrane
# (the plug-in and LyraneBenchmark read the settings staged there) in which
# the targets lyrane_ladspa_playback_processing, LyraneBenchmark and
# LyraneTuning are built. Needs espeak-ng, sox, applyplugin and a C compiler
# (scripts/setup.sh installs them).
set -euo pipefail

if [ $# -ne 1 ] || [ ! -d "$1" ]; then
    echo "usage: $0 BUILD_DIR" >&2
    exit 2
fi
build=$(realpath "$1")
root=$(realpath "$(dirname "$0")/..")
plugin="$build/ladspa_playback_processing/liblyrane_ladspa_playback_processing.so"
benchmark="$build/liblyrane/LyraneBenchmark"
tuning="$build/tuning/LyraneTuning"
configdir="$build/etc/Lyrane"
for file in "$plugin" "$benchmark" "$tuning" "$configdir/ladspa_acoustic.cfg"; do
    [ -e "$file" ] || { echo "output_checksums: $file is missing" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Repeatable: sox seeds its dither and noise from the clock otherwise.
sox() { command sox -R "$@"; }

sum() {  # checksum and a name for one file
    printf '%s  %s\n' "$(sha256sum <"$1" | cut -d' ' -f1)" "$2"
}

# The speech: a quiet talker, then a loud one, the demo's recording.
bash "$root/scripts/demo_speech.sh" "$work/speech_48000.wav"
for fs in 16000 44100; do
    sox "$work/speech_48000.wav" -r "$fs" "$work/speech_$fs.wav"
done
for fs in 16000 44100 48000; do
    sum "$work/speech_$fs.wav" "input speech_$fs.wav"
done

# A host of our own: the plug-in's raw floats, before any host rounds them.
cat >"$work/rawhost.c" <<'EOF'
#include <dlfcn.h>
#include <ladspa.h>
#include <stdio.h>
#include <stdlib.h>
#include <sndfile.h>

int main(int argc, char** argv) {
    if (argc != 5) return 2;
    void* module = dlopen(argv[1], RTLD_NOW);
    if (!module) { fprintf(stderr, "%s\n", dlerror()); return 1; }
    LADSPA_Descriptor_Function discover =
        (LADSPA_Descriptor_Function)dlsym(module, "ladspa_descriptor");
    const LADSPA_Descriptor* d = discover ? discover(1) : NULL;
    SF_INFO info = {0};
    SNDFILE* in = sf_open(argv[3], SFM_READ, &info);
    if (!d || !in || info.channels != 1) return 1;
    float* samples = malloc(sizeof(float) * (size_t)info.frames);
    sf_count_t n = sf_readf_float(in, samples, info.frames);
    sf_close(in);
    LADSPA_Handle h = d->instantiate(d, (unsigned long)info.samplerate);
    LADSPA_Data mode = (LADSPA_Data)atof(argv[2]);
    LADSPA_Data inBlock[256], outBlock[256];
    d->connect_port(h, 0, inBlock);
    d->connect_port(h, 1, outBlock);
    d->connect_port(h, 2, &mode);
    d->activate(h);
    FILE* out = fopen(argv[4], "wb");
    for (sf_count_t start = 0; start < n; start += 256) {
        unsigned long count = (unsigned long)(n - start < 256 ? n - start : 256);
        for (unsigned long i = 0; i < count; ++i) inBlock[i] = samples[start + (sf_count_t)i];
        d->run(h, count);
        fwrite(outBlock, sizeof(float), count, out);
    }
    fclose(out);
    if (d->deactivate) d->deactivate(h);
    d->cleanup(h);
    free(samples);
    return 0;
}
EOF
cc -O1 -o "$work/rawhost" "$work/rawhost.c" $(pkg-config --cflags --libs sndfile) -ldl

export LADSPA_PATH
LADSPA_PATH=$(dirname "$plugin")
for fs in 16000 44100 48000; do
    for mode in 0 1; do
        applyplugin "$work/speech_$fs.wav" "$work/applyplugin.wav" \
            "$(basename "$plugin")" PLAYBACKPROCESSING "$mode" >/dev/null 2>&1
        sum "$work/applyplugin.wav" "applyplugin Mode $mode at $fs Hz"
        "$work/rawhost" "$plugin" "$mode" "$work/speech_$fs.wav" "$work/raw.f32"
        sum "$work/raw.f32" "dlopen host raw floats Mode $mode at $fs Hz"
    done
done

# LyraneBenchmark: microphone (delayed, attenuated speech plus noise from a
# fixed seed) and far-end channels at 16000 Hz, with event annotations.
bench="$work/benchmark"
mkdir -p "$bench"
sox "$work/speech_16000.wav" "$bench/speech.wav"
sox "$bench/speech.wav" "$bench/farend.wav" pad 0 0.030
sox "$bench/speech.wav" "$bench/echo.wav" vol 0.3 pad 0.030 0
sox "$bench/farend.wav" "$bench/noise.wav" synth whitenoise vol 0.01
sox -m -v 1 "$bench/echo.wav" -v 1 "$bench/noise.wav" "$bench/mic.wav"
sox -M "$bench/mic.wav" "$bench/farend.wav" "$bench/plain_2ch.wav"
sndfile-metadata-set --str-comment "f 0 v 12 a 1 f 62 v 10 f 125 v 14" \
    "$bench/plain_2ch.wav" "$bench/speech_2ch.wav" >/dev/null
sum "$bench/speech_2ch.wav" "LyraneBenchmark input"
"$benchmark" --input="$bench/speech_2ch.wav" --output_dir="$bench" \
    --client_volume_level=10 >/dev/null 2>&1
sum "$bench/speech_2ch_out.wav" "LyraneBenchmark output"

# LyraneTuning's CSV files. Their headers name the files given, so the
# program runs in the scratch folder on relative names, the same for every
# build.
mkdir -p "$work/tuning" "$work/profiles"
cp "$configdir/equalizer_coefficients.cfg" "$configdir"/ladspa_*.cfg "$work/profiles/"
(
    cd "$work"
    "$tuning" response --output tuning/equalizer_coefficients \
        profiles/equalizer_coefficients.cfg >/dev/null
    for fs in 16000 48000; do
        for profile in acoustic afil; do
            for block in 1 160; do
                "$tuning" trace --block "$block" --output "tuning/speech_${fs}_${profile}_$block" \
                    "speech_$fs.wav" "profiles/ladspa_$profile.cfg" >/dev/null
            done
        done
    done
)
(cd "$work/tuning" && find . -name '*.csv' | sort) | while read -r csv; do
    sum "$work/tuning/$csv" "LyraneTuning ${csv#./}"
done
