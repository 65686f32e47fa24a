#!/usr/bin/env bash
# The main job: installs what is missing, builds, and installs the libraries,
# the LADSPA plug-in and the sample configuration into a local prefix with a
# configuration directory of its own. Then runs a speech recording through the
# installed plug-in in a real LADSPA host (applyplugin) with the acoustic
# profile, writes the processed WAV and prints the processor time and the
# real-time factor. Then draws the tuning views (the shipped equalizer's
# response, the recording's level trace) and prints their paths.
#
# usage: scripts/demo.sh [SPEECH.wav]
# Without an argument a short speech recording is synthesised (espeak-ng and
# sox): a quiet talker followed by a loud one, so the AGC has work to do.
set -euo pipefail
input=
if [ $# -gt 0 ]; then
    [ -f "$1" ] || { echo "demo: no such file: $1" >&2; exit 1; }
    input=$(realpath "$1")
fi
cd "$(dirname "$0")/.."
root=$(pwd)
prefix="$root/build/demo/prefix"

bash scripts/setup.sh
cmake -S "$root" -B "$root/build/demo/build" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_INSTALL_PREFIX="$prefix" -DLYRANE_CONFIG_DIR="$prefix/etc/Lyrane" \
  -DLYRANE_BUILD_TESTS=OFF -DLYRANE_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$root/build/demo/build" -j "$(nproc)"
cmake --install "$root/build/demo/build" >/dev/null
echo "Installed into build/demo/prefix:"
(cd "$prefix" && find . -type f | sort)

work="$root/build/demo"
module=liblyrane_ladspa_playback_processing.so
plugin=$(find "$prefix" -name "$module" -path "*/ladspa/*" | head -n 1)
[ -n "$plugin" ] || { echo "demo: $module was not installed" >&2; exit 1; }

# The input as the plug-in takes it: mono, 16-bit, at a rate the shipped
# equalizer file has a filter set for (16000 or 48000 Hz).
speech="$work/speech.wav"
if [ -z "$input" ]; then
    bash scripts/demo_speech.sh "$speech" "$work/quiet.wav"
    echo "Synthesised speech: build/demo/speech.wav (a quiet talker, then a loud one)"
else
    rate=$(soxi -r "$input")
    if [ "$rate" != 16000 ] && [ "$rate" != 48000 ]; then
        echo "demo: $rate Hz has no equalizer set; resampling to 48000 Hz"
        rate=48000
    fi
    sox "$input" -r "$rate" -c 1 -b 16 "$speech"
    echo "Input: $input, as mono 16-bit at $rate Hz"
fi
output="$work/speech_processed.wav"

# The library logs through log4cxx and never configures it; the host process
# does, here from this file, so the plug-in's set-up shows in a log.
cat >"$work/log4cxx.properties" <<EOF
log4j.rootLogger=INFO, file
log4j.appender.file=org.apache.log4j.FileAppender
log4j.appender.file.File=$work/plugin.log
log4j.appender.file.Append=false
log4j.appender.file.layout=org.apache.log4j.PatternLayout
log4j.appender.file.layout.ConversionPattern=%-5p %c - %m%n
EOF

# Mode 0 selects the acoustic profile (ladspa_acoustic.cfg of the prefix).
export LADSPA_PATH
LADSPA_PATH=$(dirname "$plugin")
export LOG4CXX_CONFIGURATION="$work/log4cxx.properties"
TIMEFORMAT='%U %S %R'
{ time applyplugin "$speech" "$output" "$module" PLAYBACKPROCESSING 0 \
    >"$work/applyplugin.log" 2>&1; } 2>"$work/time.txt" || {
    cat "$work/applyplugin.log" >&2
    echo "demo: applyplugin failed" >&2
    exit 1
}

echo
echo "Plug-in set-up (build/demo/plugin.log):"
grep -E "Registered|Successfully parsed|enabled|disabled|output gain|ERROR|reduced" \
    "$work/plugin.log" | sed 's/^/  /' || true

level() {  # peak and RMS level of a sound file in dB full scale
    sox "$1" -n stats 2>&1 | awk '/^Pk lev dB/ {pk=$4} /^RMS lev dB/ {rms=$4}
        END {printf "peak %6.1f dBFS, RMS %6.1f dBFS", pk, rms}'
}
seconds=$(soxi -D "$speech")
read -r user sys real <"$work/time.txt"
echo
echo "Input:  build/demo/speech.wav            $(level "$speech")"
echo "Output: build/demo/speech_processed.wav  $(level "$output")"
if [ -z "$input" ]; then
    # The AGC lifts the quiet talker and holds the loud one below full scale.
    quiet=$(soxi -D "$work/quiet.wav")
    sox "$speech" "$work/part.wav" trim 0 "$quiet"
    echo "  quiet talker in:  $(level "$work/part.wav")"
    sox "$output" "$work/part.wav" trim 0 "$quiet"
    echo "  quiet talker out: $(level "$work/part.wav")"
    sox "$speech" "$work/part.wav" trim "$quiet"
    echo "  loud talker in:   $(level "$work/part.wav")"
    sox "$output" "$work/part.wav" trim "$quiet"
    echo "  loud talker out:  $(level "$work/part.wav")"
    rm -f "$work/part.wav"
fi
awk -v u="$user" -v s="$sys" -v r="$real" -v d="$seconds" 'BEGIN {
    cpu = u + s
    printf "Processed %.2f s of audio with applyplugin in %.3f s of processor time " \
           "(%.3f s wall clock).\n", d, cpu, r
    printf "Real-time factor: %.4f (processor time / audio duration; %.0f times faster " \
           "than real time).\n", cpu / d, (cpu > 0 ? d / cpu : 0)
}'

# Tuning views: the shipped coefficient file's response at each of its rates,
# and the recording traced through the chain's blocks with the acoustic
# profile, drawn by the installed LyraneTuning and lyrane_tuning_plot.py.
views="$work/tuning"
mkdir -p "$views"
"$prefix/bin/LyraneTuning" response --output "$views/equalizer_coefficients" \
    "$prefix/etc/Lyrane/equalizer_coefficients.cfg" >"$views/response.txt"
"$prefix/bin/LyraneTuning" trace --output "$views/speech" "$speech" \
    "$prefix/etc/Lyrane/ladspa_acoustic.cfg" >"$views/trace.txt"
"$prefix/bin/lyrane_tuning_plot.py" response "$views/equalizer_coefficients" >/dev/null
"$prefix/bin/lyrane_tuning_plot.py" trace "$views/speech" >/dev/null
echo
echo "Tuning views (LyraneTuning):"
grep -E " at [0-9]+ Hz:|peak gain" "$views/response.txt" | sed 's/^[^ ]*\/etc\/Lyrane\//  /'
grep -E "maximum gain|AGC gain|speech in" "$views/trace.txt"
echo "  equalizer response: build/demo/tuning/equalizer_coefficients.response.png"
echo "  level trace:        build/demo/tuning/speech.trace.png"

if [ -f scripts/run_benchmark.sh ]; then
    echo
    bash scripts/run_benchmark.sh "$speech"
fi
