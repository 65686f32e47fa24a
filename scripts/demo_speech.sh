#!/usr/bin/env bash
# Synthesises the demo's speech recording: a quiet talker, then a loud one, so
# the AGC has work to do; 48000 Hz, mono, 16 bits. sox's dither is seeded
# (-R), so the same espeak-ng and sox give the same file every time, which
# lets scripts/output_checksums.sh compare two builds on it.
#   bash scripts/demo_speech.sh OUT.wav [QUIET_PART.wav]
# The second file, if named, receives the quiet talker alone, whose length
# says where the loud one starts.
set -euo pipefail
[ $# -ge 1 ] && [ $# -le 2 ] || { echo "usage: $0 OUT.wav [QUIET_PART.wav]" >&2; exit 2; }
out=$1 quiet_part=${2:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
espeak-ng -s 150 -w "$work/quiet_talker.wav" \
    "Hello, this is the far end. I am speaking quietly, far from my microphone."
espeak-ng -s 150 -w "$work/loud_talker.wav" \
    "And now I am much closer and much louder. Can you still hear me clearly?"
sox -R "$work/quiet_talker.wav" -r 48000 -c 1 -b 16 "$work/quiet.wav" gain -n -32 pad 0 1
sox -R "$work/loud_talker.wav" -r 48000 -c 1 -b 16 "$work/loud.wav" gain -n -1 pad 0 1
sox -R "$work/quiet.wav" "$work/loud.wav" "$out"
[ -z "$quiet_part" ] || cp "$work/quiet.wav" "$quiet_part"
