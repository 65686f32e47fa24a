#!/usr/bin/env bash
# Processor cost of our chain beside the nearest peer chain of Debian's LADSPA
# plug-ins, both in the same real host (applyplugin) on the same 5-minute
# 48 kHz mono speech file:
#   ours   PLAYBACKPROCESSING, acoustic profile (equalizer of six sections,
#          AGC with decrease-max-gain, volume)
#   peers  tap-plugins' tap_equalizer (8 bands) followed by swh-plugins' sc4m
#          (a compressor), set to a comparable curve
#   host   the Void pass-through alone: what applyplugin itself costs (reading,
#          converting and writing the file), part of both figures above
# The three run in rounds, interleaved (ours, peers, host, ours, peers, ...),
# REPS rounds (default 7). Each round gives its own ratio ours / peers, with
# and without the host's share; the ratios printed are the medians of these
# per-round ratios, so a change of machine load between rounds cancels out.
# The median processor time (user + system) of each is printed as well.
#
# usage: scripts/compare_peers.sh [SPEECH.wav]
# Without an argument a speech file is synthesised with espeak-ng and sox.
# A given file is converted to 48 kHz mono 16-bit and cut or looped to 5 min.
set -euo pipefail
input=
if [ $# -gt 0 ]; then
    [ -f "$1" ] || { echo "compare_peers: no such file: $1" >&2; exit 1; }
    input=$(realpath "$1")
fi
reps=${REPS:-7}
cd "$(dirname "$0")/.."
root=$(pwd)
work="$root/build/compare"
prefix="$work/prefix"
mkdir -p "$work"

bash scripts/setup.sh
cmake -S "$root" -B "$work/build" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DLYRANE_CONFIG_DIR="$prefix/etc/Lyrane" \
    -DLYRANE_BUILD_TESTS=OFF -DLYRANE_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$work/build" -j "$(nproc)" >/dev/null
cmake --install "$work/build" >/dev/null
module=liblyrane_ladspa_playback_processing.so
plugin=$(find "$prefix" -name "$module" -path "*/ladspa/*" | head -n 1)
[ -n "$plugin" ] || { echo "compare_peers: $module was not installed" >&2; exit 1; }
export LADSPA_PATH
LADSPA_PATH="$(dirname "$plugin"):/usr/lib/ladspa"

speech="$work/speech_5min.wav"
if [ -n "$input" ]; then
    sox "$input" -r 48000 -c 1 -b 16 "$work/given.wav"
    sox "$work/given.wav" "$speech" repeat 300 trim 0 300
else
    # Talkers at different levels and speeds, with pauses, looped to 5 min.
    espeak-ng -s 140 -w "$work/t1.wav" "Good morning. This is the far end speaking. The \
meeting has been moved to half past ten, and we will meet in the small room on the second floor."
    espeak-ng -s 170 -v en-us -w "$work/t2.wav" "Could you please repeat the last number? \
The line was breaking up and I only heard the first three digits."
    espeak-ng -s 120 -p 30 -w "$work/t3.wav" "Thank you. I will call you back as soon as I \
have the results, probably before the end of the afternoon."
    sox "$work/t1.wav" -r 48000 -c 1 -b 16 "$work/s1.wav" gain -n -3 pad 0 0.8
    sox "$work/t2.wav" -r 48000 -c 1 -b 16 "$work/s2.wav" gain -n -28 pad 0 1.5
    sox "$work/t3.wav" -r 48000 -c 1 -b 16 "$work/s3.wav" gain -n -12 pad 0 0.5
    sox "$work/s1.wav" "$work/s2.wav" "$work/s3.wav" "$work/cycle.wav"
    sox "$work/cycle.wav" "$speech" repeat 40 trim 0 300
fi
seconds=$(soxi -D "$speech")

# tap_equalizer: band gains (dB) 1-8, then band frequencies (Hz) 1-8; close to
# the shipped curve (high-pass 150 Hz, -3 dB at 400 Hz, +4 dB at 3 kHz, +2 dB
# shelf from 5 kHz, low-pass 7 kHz).
tap_eq=(tap_eq.so tap_equalizer -12 -3 -3 0 4 2 -12 -18 100 200 400 1000 3000 6000 9000 15000)
# sc4m: RMS/peak, attack ms, release ms, threshold dB, ratio, knee dB, makeup dB.
sc4m=(sc4m_1916.so sc4m 0.5 10 300 -24 4 6 10)
ours=("$module" PLAYBACKPROCESSING 0)
host=("$module" Void)

cpu_seconds() {  # runs applyplugin with the given plug-ins; prints user + system seconds
    local TIMEFORMAT='%U %S'
    local t
    t=$({ time applyplugin "$speech" "$work/out.wav" "$@" >"$work/applyplugin.log" 2>&1; } 2>&1) ||
        { cat "$work/applyplugin.log" >&2; echo "compare_peers: applyplugin $* failed" >&2; exit 1; }
    awk -v t="$t" 'BEGIN { split(t, p, " "); printf "%.3f\n", p[1] + p[2] }'
}

# Prints nothing for no input.
median() { sort -g | awk '{ v[NR] = $1 } END { if (NR) print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

declare -A runs
ratios=() plugin_ratios=()
for ((r = 1; r <= reps; r++)); do
    # Interleaved, so a change of machine load hits all three alike.
    t_ours=$(cpu_seconds "${ours[@]}")
    t_peers=$(cpu_seconds "${tap_eq[@]}" "${sc4m[@]}")
    t_host=$(cpu_seconds "${host[@]}")
    runs[ours]+="$t_ours " runs[peers]+="$t_peers " runs[host]+="$t_host "
    ratios+=("$(awk -v o="$t_ours" -v p="$t_peers" 'BEGIN { printf "%.3f", o / p }')")
    # Without the host's share; only meaningful while the peers cost more
    # than the host alone.
    plugin_ratios+=("$(awk -v o="$t_ours" -v p="$t_peers" -v h="$t_host" \
        'BEGIN { if (p - h > 0) printf "%.3f", (o - h) / (p - h); else print "nan" }')")
    echo "run $r of $reps done: ours/peers ${ratios[-1]}"
done

m_ours=$(tr ' ' '\n' <<<"${runs[ours]}" | grep . | median)
m_peers=$(tr ' ' '\n' <<<"${runs[peers]}" | grep . | median)
m_host=$(tr ' ' '\n' <<<"${runs[host]}" | grep . | median)
m_ratio=$(printf '%s\n' "${ratios[@]}" | median)
m_plugin_ratio=$(printf '%s\n' "${plugin_ratios[@]}" | { grep -v nan || true; } | median)
echo
echo "Speech file: $(basename "$speech"), ${seconds} s at 48000 Hz mono; $reps runs each, interleaved"
printf "%-52s %s\n" "applyplugin PLAYBACKPROCESSING (acoustic):" "${runs[ours]}"
printf "%-52s %s\n" "applyplugin tap_equalizer + sc4m:" "${runs[peers]}"
printf "%-52s %s\n" "applyplugin Void (the host alone):" "${runs[host]}"
printf "%-52s %s\n" "Ratio ours / peers per round:" "${ratios[*]}"
awk -v o="$m_ours" -v p="$m_peers" -v h="$m_host" -v d="$seconds" -v r="$m_ratio" \
    -v pr="$m_plugin_ratio" 'BEGIN {
    printf "\nMedian processor seconds: ours %.3f, peers %.3f, host alone %.3f\n", o, p, h
    printf "Ratio ours / peers: %.2f (median of the per-round ratios)\n", r
    if (pr != "") printf "Plug-ins only (minus the host alone): ours %.3f, peers %.3f, ratio %.2f (median of the per-round ratios)\n", \
        o - h, p - h, pr
    printf "Real-time factor of ours: %.4f\n", o / d
}'
