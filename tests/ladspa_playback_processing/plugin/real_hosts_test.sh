#!/usr/bin/env bash
# Installs the build tree into a scratch prefix and runs the installed
# plug-ins in one of Debian's LADSPA hosts:
#   analyseplugin  the descriptors as a host reads them, compared line by line;
#   applyplugin    speech WAV files through "Void" and "PLAYBACKPROCESSING"
#                  (both profiles, 16, 44.1 and 48 kHz), each output checked
#                  sample for sample against the chain's C interface;
#   sox            the same through sox's ladspa effect.
# The AFIL profile gets a settings file of the test's own (every key, values
# off the defaults); the acoustic profile runs on the shipped file. The
# shipped AFIL file is put back on exit.
#
# usage: real_hosts_test.sh HOST BUILD_DIR LIBDIR CONFIG_DIR REFERENCE_PROGRAM
#                           COEFFICIENT_FILE
# LYRANE_HOST_PRELOAD, if set, is preloaded into the host programs (the
# sanitizer runtimes of an instrumented plug-in).
set -euo pipefail
host=$1 build=$2 libdir=$3 configdir=$4 reference=$5 coefficients=$6
module=liblyrane_ladspa_playback_processing.so

fail() {
    echo "real_hosts_test: $*" >&2
    exit 1
}

scratch=$(mktemp -d "${TMPDIR:-/tmp}/lyrane-hosts-XXXXXX")
afil="$configdir/ladspa_afil.cfg"
cleanup() {
    if [ -f "$scratch/ladspa_afil.cfg.shipped" ]; then
        cp "$scratch/ladspa_afil.cfg.shipped" "$afil"
    fi
    rm -rf "$scratch"
}
trap cleanup EXIT

unset DESTDIR
if ! cmake --install "$build" --prefix "$scratch/prefix" >"$scratch/install.log" 2>&1; then
    cat "$scratch/install.log"
    fail "cmake --install failed (is the whole tree built?)"
fi
export LADSPA_PATH="$scratch/prefix/$libdir/ladspa"
[ -f "$LADSPA_PATH/$module" ] || fail "$module not installed under $libdir/ladspa"

# The host programs are not instrumented; leaks are theirs, not ours.
run_host() {
    LD_PRELOAD="${LYRANE_HOST_PRELOAD:-}" ASAN_OPTIONS="${ASAN_OPTIONS:-}:detect_leaks=0" "$@"
}

# Sample data of two sound files, as raw 16-bit samples.
same_samples() {
    cmp -s <(sox "$1" -t raw -) <(sox "$2" -t raw -)
}

make_inputs() {
    espeak-ng -w "$scratch/voice.wav" \
        "The quick brown fox jumps over the lazy dog. Please call me back after the meeting."
    for fs in 16000 44100 48000; do
        sox "$scratch/voice.wav" -r "$fs" -c 1 -b 16 "$scratch/loud.wav" gain -n -1
        sox "$scratch/voice.wav" -r "$fs" -c 1 -b 16 "$scratch/quiet.wav" gain -n -36 pad 0 2
        # Loud (ducking, clipping, maximum-gain reduction), then quiet
        # (the gain climbs) with pauses, then loud again.
        sox "$scratch/loud.wav" "$scratch/quiet.wav" "$scratch/loud.wav" "$scratch/quiet.wav" \
            "$scratch/in_$fs.wav"
    done
}

# The AFIL profile on the tests' coefficient file, which has no 44.1 kHz set:
# the equalizer stays off there in the plug-in and the reference.
write_afil_settings() {
    if [ -f "$afil" ]; then
        cp "$afil" "$scratch/ladspa_afil.cfg.shipped"
    fi
    cat >"$afil" <<EOF
equalizer_coefficients_file = "$coefficients";
agc_target_level_db = -14.5;
agc_max_gain_db = 21.0;
agc_max_amp = 0.7;
agc_nonspeech_hold_gain_time = 0.4;
agc_nonspeech_release_speed = 5.5;
volume_db = -2.5;
agc_enabled = true;
agc_decrease_max_gain = true;
equalizer_enabled = true;
EOF
}

check_analyseplugin() {
    run_host analyseplugin "$module" Void >"$scratch/void.txt"
    run_host analyseplugin "$module" PLAYBACKPROCESSING >"$scratch/chain.txt"
    diff -u - "$scratch/void.txt" <<'EOF' || fail "analyseplugin: Void differs"

Plugin Name: "Void"
Plugin Label: "Void"
Plugin Unique ID: 5021
Maker: "Talvane"
Copyright: "None"
Must Run Real-Time: No
Has activate() Function: No
Has deactivate() Function: No
Has run_adding() Function: No
Environment: Normal or Hard Real-Time
Ports:	"Input" input, audio
	"Output" output, audio

EOF
    diff -u - "$scratch/chain.txt" <<'EOF' || fail "analyseplugin: PLAYBACKPROCESSING differs"

Plugin Name: "Talvane Lyrane"
Plugin Label: "PLAYBACKPROCESSING"
Plugin Unique ID: 5020
Maker: "Talvane"
Copyright: "None"
Must Run Real-Time: No
Has activate() Function: Yes
Has deactivate() Function: No
Has run_adding() Function: No
Environment: Normal or Hard Real-Time
Ports:	"Input" input, audio
	"Output" output, audio
	"Mode" input, control, 0 to ...

EOF
    # Listing the whole path finds both plug-ins of the module.
    run_host listplugins | grep -q "Talvane Lyrane (5020/PLAYBACKPROCESSING)" ||
        fail "listplugins does not list PLAYBACKPROCESSING"
    run_host listplugins | grep -q "Void (5021/Void)" || fail "listplugins does not list Void"
    echo "analyseplugin: both descriptors as expected"
}

check_applyplugin() {
    make_inputs
    write_afil_settings
    for fs in 16000 44100 48000; do
        local in="$scratch/in_$fs.wav"
        run_host applyplugin "$in" "$scratch/void.wav" "$module" Void >/dev/null
        same_samples "$in" "$scratch/void.wav" || fail "applyplugin: Void changed the samples"

        run_host applyplugin "$in" "$scratch/afil.wav" "$module" PLAYBACKPROCESSING 1 >/dev/null
        "$reference" applyplugin "$afil" "$in" "$scratch/afil.wav"
        run_host applyplugin "$in" "$scratch/acoustic.wav" "$module" PLAYBACKPROCESSING 0 \
            >/dev/null
        "$reference" applyplugin "$configdir/ladspa_acoustic.cfg" "$in" "$scratch/acoustic.wav"

        # Both plug-ins of the module in one host, one after the other.
        run_host applyplugin "$in" "$scratch/both.wav" "$module" Void \
            "$module" PLAYBACKPROCESSING 1 >/dev/null
        same_samples "$scratch/afil.wav" "$scratch/both.wav" ||
            fail "applyplugin: Void before PLAYBACKPROCESSING changed the result"
    done
}

check_sox() {
    make_inputs
    write_afil_settings
    for fs in 16000 48000; do
        local in="$scratch/in_$fs.wav"
        run_host sox -D "$in" -b 16 "$scratch/void.wav" ladspa "$module" Void
        same_samples "$in" "$scratch/void.wav" || fail "sox: Void changed the samples"
        run_host sox -D "$in" -b 16 "$scratch/afil.wav" ladspa "$module" PLAYBACKPROCESSING 1
        "$reference" sox "$afil" "$in" "$scratch/afil.wav"
        run_host sox -D "$in" -b 16 "$scratch/acoustic.wav" ladspa "$module" PLAYBACKPROCESSING 0
        "$reference" sox "$configdir/ladspa_acoustic.cfg" "$in" "$scratch/acoustic.wav"
    done
}

case $host in
analyseplugin) check_analyseplugin ;;
applyplugin) check_applyplugin ;;
sox) check_sox ;;
*) fail "unknown host $host" ;;
esac
