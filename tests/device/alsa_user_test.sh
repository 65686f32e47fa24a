#!/usr/bin/env bash
# The plug-in in ALSA's own LADSPA host on the device's ABI, under qemu-arm:
# Debian's armhf aplay plays 30 s of 48 kHz speech through the lyrane_chain
# PCM of asound.conf.in (plug, LADSPA, plug, file) in Mode 0 and Mode 1, and
# each output must be bit for bit the chain's C interface run with that
# profile's settings file (chain_run).
#
# usage: alsa_user_test.sh QEMU SYSROOT PLUGIN CHAIN_RUN CONFIG_DIR WORK TEMPLATE
# Exits 77 when a prerequisite is missing, 1 instead when
# LYRANE_SKIP_IS_FAILURE=1.
set -euo pipefail
qemu=$1 sysroot=$2 plugin=$3 chain_run=$4 configdir=$5 work=$6 template=$7

skip() {
    echo "SKIP: $1 missing"
    if [ "${LYRANE_SKIP_IS_FAILURE:-0}" = 1 ]; then exit 1; fi
    exit 77
}
[ -x "$sysroot/usr/bin/aplay" ] || skip "armhf aplay (alsa-utils in the armhf tree)"
command -v espeak-ng >/dev/null || skip "espeak-ng"
command -v sox >/dev/null || skip "sox"

rm -rf "$work"
mkdir -p "$work"
espeak-ng -s 150 -w "$work/voice.wav" "The quick brown fox jumps over the lazy dog. \
Please call me back after the meeting; the number is four five six, seven eight nine."
sox "$work/voice.wav" -r 48000 -c 1 -b 16 "$work/quiet.wav" gain -n -32 pad 0 0.5
sox "$work/voice.wav" -r 48000 -c 1 -b 16 "$work/loud.wav" gain -n -1 pad 0 0.5
sox "$work/quiet.wav" "$work/loud.wav" "$work/pair.wav"
sox "$work/pair.wav" "$work/speech.wav" repeat 6 trim 0 30
bytes=$(($(soxi -s "$work/speech.wav") * 4))

sed -e "s|@ALSA_CONF@|$sysroot/usr/share/alsa/alsa.conf|" -e "s|@LADSPA_DIR@|$(dirname "$plugin")|" \
    -e "s|@OUT_DIR@|$work|" "$template" >"$work/asound.conf"
status=0
for mode in 0 1; do
    [ "$mode" = 1 ] && profile=afil || profile=acoustic
    ALSA_CONFIG_PATH=$work/asound.conf "$qemu" -L "$sysroot" "$sysroot/usr/bin/aplay" -q \
        -D "lyrane_chain:$mode" "$work/speech.wav"
    "$qemu" -L "$sysroot" "$chain_run" "$configdir/ladspa_$profile.cfg" "$work/speech.wav" \
        "$work/chain-$profile.f32" 2>"$work/chain-$profile.log"
    # aplay pads its last period with silence: the speech's samples are compared.
    if cmp -n "$bytes" "$work/plugin-mode$mode.f32" "$work/chain-$profile.f32"; then
        echo "PASS: Mode $mode through ALSA's LADSPA host is the $profile profile, bit for bit"
    else
        echo "FAIL: Mode $mode through ALSA's LADSPA host differs from the $profile profile"
        status=1
    fi
done
exit "$status"
