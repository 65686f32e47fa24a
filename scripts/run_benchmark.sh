#!/usr/bin/env bash
# Runs LyraneBenchmark, as scripts/demo.sh installs it into build/demo/prefix,
# over a speech recording and shows its report.
#
# From the speech it builds the two-channel recording the benchmark expects:
#   channel 0, microphone: the speech as the device's microphone hears its own
#     loudspeaker (attenuated, delayed by the acoustic path) plus a little noise;
#   channel 1, far-end: the speech itself, as the device plays it out;
# with event annotations in the file's comment. The files go to
# build/demo/benchmark/; the processed signal is speech_2ch_out.wav there.
#
# Usage: scripts/run_benchmark.sh <speech.wav>
set -euo pipefail

if [ $# -ne 1 ]; then
  echo "usage: $0 <speech.wav>" >&2
  exit 2
fi
if [ ! -f "$1" ]; then
  echo "run_benchmark: no such file: $1" >&2
  exit 1
fi
speech=$(realpath "$1")
cd "$(dirname "$0")/.."
root=$(pwd)
prefix="$root/build/demo/prefix"
program="$prefix/bin/LyraneBenchmark"
if [ ! -x "$program" ]; then
  echo "run_benchmark: $program is missing; scripts/demo.sh installs it" >&2
  exit 1
fi
library=$(find "$prefix" -name 'liblyrane.so*' -print -quit)
libdir=$(dirname "$library")

fs=16000             # the rate of the shipped configuration
path_delay_s=0.030   # loudspeaker to microphone
echo_gain=0.3        # about -10 dB
noise_gain=0.01      # white noise, about -40 dBFS
# "f <frame>" picks a 16 ms frame, "v <n>" and "a <n>" are events of the
# core's two kinds at that frame: here at the start, at 1 s and at 2 s.
events="f 0 v 12 a 1 f 62 v 10 f 125 v 14"

work="$root/build/demo/benchmark"
rm -rf "$work"
mkdir -p "$work"
# Both channels end up with the same length: the far-end is padded at the
# end by the delay the microphone copy gets at the start.
sox "$speech" -r "$fs" -c 1 -b 16 "$work/speech.wav"
sox "$work/speech.wav" "$work/farend.wav" pad 0 "$path_delay_s"
sox "$work/speech.wav" "$work/echo.wav" vol "$echo_gain" pad "$path_delay_s" 0
sox "$work/farend.wav" "$work/noise.wav" synth whitenoise vol "$noise_gain"
sox -m -v 1 "$work/echo.wav" -v 1 "$work/noise.wav" "$work/mic.wav"
sox -M "$work/mic.wav" "$work/farend.wav" "$work/plain_2ch.wav"
sndfile-metadata-set --str-comment "$events" "$work/plain_2ch.wav" "$work/speech_2ch.wav"

echo "=== LyraneBenchmark over $(basename "$speech") (microphone + far-end, $fs Hz) ==="
LD_LIBRARY_PATH="$libdir${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" "$program" \
  --input="$work/speech_2ch.wav" --output_dir="$work" --client_volume_level=10
echo "=== processed signal ==="
soxi "$work/speech_2ch_out.wav" | grep -E 'Channels|Sample Rate|Duration|Sample Encoding'
echo "(The stand-in core writes the mean of the microphone channels, here the one"
echo " microphone itself; the device's core is not part of this repository.)"
