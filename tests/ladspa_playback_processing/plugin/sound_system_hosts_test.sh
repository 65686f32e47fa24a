#!/usr/bin/env bash
# Installs the build tree into a scratch prefix and plays speech through the
# installed PLAYBACKPROCESSING plug-in in the sound systems that put it in a
# playback path, each set up by the installed example a user would copy:
#   alsa       aplay into ALSA's ladspa PCM (examples/asoundrc), whose output
#              plug converts to S16_LE into a file PCM;
#   gstreamer  gst-launch-1.0 through the element's mode property
#              (examples/gstreamer-play.sh), converted to S16LE by
#              audioconvert without dither or noise shaping;
#   pipewire   pw-cat through the filter chain's sinks
#              (examples/pipewire-filter-chain.conf) in a PipeWire daemon of
#              the test's own, recorded by pw-cat as S16;
#   log4cxx    applyplugin with LOG4CXX_CONFIGURATION naming the shipped
#              log4cxx.properties: the plug-in's load records on standard
#              error and no warning about a missing appender.
# Both profiles (Mode 0 and 1) at 16 and 48 kHz. With ALSA and GStreamer also
# a stream that stops and starts again at another rate in the same process
# (ALSA's drain, hw_free and new hw_params between two files; GStreamer's
# renegotiation when concat switches to the second file), so the plug-in is
# cleaned up and instantiated again with the new rate.
#
# Each output is compared with applyplugin's 16-bit output for the same input
# and Mode. That reference is first checked sample for sample against the
# chain's C interface run with the profile's settings file, so a plug-in that
# picks the wrong profile fails even though every host loads the same one.
# The hosts round the float output to nearest where applyplugin rounds down:
# within one step of 16 bits. (ALSA's plug mostly rounds as applyplugin does,
# but not on every sample.)
#
# usage: sound_system_hosts_test.sh HOST BUILD_DIR LIBDIR DATADIR CONFIG_DIR
#                                   REFERENCE_PROGRAM COMPARE_PROGRAM
# LYRANE_HOST_PRELOAD, if set, is preloaded into the host programs (the
# sanitizer runtimes of an instrumented plug-in).
set -euo pipefail
host=$1 build=$2 libdir=$3 datadir=$4 configdir=$5 reference=$6 compare=$7
module=liblyrane_ladspa_playback_processing.so
element=ladspa-liblyrane-ladspa-playback-processing-so-playbackprocessing
rates=(16000 48000)
# aplay writes whole periods, padding the last one of a file with silence
# that the chain then processes; inputs are whole periods long.
period=1000

fail() {
    echo "sound_system_hosts_test: $*" >&2
    exit 1
}

scratch=$(mktemp -d "${TMPDIR:-/tmp}/lyrane-sound-systems-XXXXXX")
trap 'rm -rf "$scratch"' EXIT

unset DESTDIR
if ! cmake --install "$build" --prefix "$scratch/prefix" >"$scratch/install.log" 2>&1; then
    cat "$scratch/install.log"
    fail "cmake --install failed (is the whole tree built?)"
fi
ladspa_dir="$scratch/prefix/$libdir/ladspa"
examples="$scratch/prefix/$datadir/lyrane/examples"
[ -f "$ladspa_dir/$module" ] || fail "$module not installed under $libdir/ladspa"
[ -d "$examples" ] || fail "no examples installed under $datadir/lyrane/examples"

# The host programs are not instrumented; leaks are theirs, not ours.
run_host() {
    LD_PRELOAD="${LYRANE_HOST_PRELOAD:-}" ASAN_OPTIONS="${ASAN_OPTIONS:-}:detect_leaks=0" "$@"
}

settings_of_mode() {
    if [ "$1" = 1 ]; then
        echo "$configdir/ladspa_afil.cfg"
    else
        echo "$configdir/ladspa_acoustic.cfg"
    fi
}

# Speech that starts loud right away (the first samples are well above
# silence) and goes on quiet, so the gain control ducks and then climbs;
# a few seconds, padded with silence to whole periods.
make_inputs() {
    espeak-ng -w "$scratch/voice.wav" "The quick brown fox jumps over the lazy dog."
    local fs n
    for fs in "${rates[@]}"; do
        sox "$scratch/voice.wav" -r "$fs" -c 1 -b 16 "$scratch/loud.wav" silence 1 1s 5% gain -n -1
        sox "$scratch/voice.wav" -r "$fs" -c 1 -b 16 "$scratch/quiet.wav" gain -n -36
        sox "$scratch/loud.wav" "$scratch/quiet.wav" "$scratch/speech.wav"
        n=$(soxi -s "$scratch/speech.wav")
        sox "$scratch/speech.wav" "$scratch/in_$fs.wav" pad 0 "$(((period - n % period) % period))s"
    done
}

# applyplugin's output for one input, checked against the C interface with
# the profile's settings.
make_reference() {  # input, output, mode, rate
    run_host applyplugin "$1" "$2" "$ladspa_dir/$module" PLAYBACKPROCESSING "$3" >/dev/null 2>&1 ||
        fail "applyplugin failed at $4 Hz, Mode $3"
    "$reference" applyplugin "$(settings_of_mode "$3")" "$1" "$2" >/dev/null ||
        fail "applyplugin's Mode $3 output at $4 Hz is not the profile's"
}

# The reference for every rate and Mode.
make_references() {
    local fs mode
    for fs in "${rates[@]}"; do
        for mode in 0 1; do
            make_reference "$scratch/in_$fs.wav" "$scratch/ref_${mode}_$fs.wav" "$mode" "$fs"
        done
    done
}

# Checks one host output file against applyplugin's for the same Mode and rate.
check_output() {  # what, mode, rate, host output (16-bit WAV)
    echo -n "$1, Mode $2, $3 Hz: "
    "$compare" 1 "$scratch/ref_$2_$3.wav" "$4" || fail "$1: Mode $2 at $3 Hz differs"
}

# A raw 16-bit stream of the 16 kHz input's output followed by the 48 kHz
# input's, as one process played them: split at the first input's length.
check_restarted() {  # what, mode, raw output
    local n16 n48 total
    n16=$(soxi -s "$scratch/in_16000.wav")
    n48=$(soxi -s "$scratch/in_48000.wav")
    total=$(($(stat -c %s "$3") / 2))
    [ "$total" -eq $((n16 + n48)) ] ||
        fail "$1: $total samples written for $n16 at 16 kHz and $n48 at 48 kHz"
    sox -t raw -e signed -b 16 -c 1 -r 16000 "$3" "$scratch/part_16000.wav" trim 0 "${n16}s"
    sox -t raw -e signed -b 16 -c 1 -r 48000 "$3" "$scratch/part_48000.wav" trim "${n16}s"
    check_output "$1" "$2" 16000 "$scratch/part_16000.wav"
    check_output "$1 after the restart" "$2" 48000 "$scratch/part_48000.wav"
}

# The asoundrc example as installed, its loudspeaker replaced by a plug to
# S16_LE into a file PCM (the way a user points lyrane_speaker at a card).
check_alsa() {
    make_inputs
    make_references
    cat >"$scratch/test.asoundrc" <<EOF
pcm.!lyrane_speaker {
    type plug
    slave {
        pcm "lyrane_test_file"
        format S16_LE
    }
}
pcm.lyrane_test_file {
    type file
    slave.pcm "lyrane_test_null"
    file "$scratch/alsa.raw"
    format "raw"
}
pcm.lyrane_test_null {
    type null
}
EOF
    local mode device
    for mode in 0 1; do
        device=lyrane
        [ "$mode" = 1 ] && device=lyrane_afil
        rm -f "$scratch/alsa.raw"
        # Two files in one aplay: it drains after the first, frees the
        # stream's setup and sets it up again at the second file's rate.
        ALSA_CONFIG_PATH="$examples/asoundrc:$scratch/test.asoundrc" run_host aplay -q \
            --period-size=$period --buffer-size=$((4 * period)) -D "$device" \
            "$scratch/in_16000.wav" "$scratch/in_48000.wav" ||
            fail "aplay -D $device failed"
        check_restarted "ALSA $device, plug to S16_LE" "$mode" "$scratch/alsa.raw"
    done
}

check_gstreamer() {
    make_inputs
    make_references
    # A registry of the test's own, so the installed plug-in is scanned
    # here and the user's cache is left alone.
    export GST_REGISTRY="$scratch/gstreamer-registry.bin"
    local fs mode
    for fs in "${rates[@]}"; do
        for mode in 0 1; do
            run_host sh "$examples/gstreamer-play.sh" "$scratch/in_$fs.wav" "$mode" \
                audioconvert dithering=none noise-shaping=none ! audio/x-raw,format=S16LE ! \
                wavenc ! filesink location="$scratch/gst.wav" ||
                fail "gstreamer-play.sh at $fs Hz, Mode $mode failed"
            check_output "GStreamer, audioconvert to S16LE undithered" "$mode" "$fs" \
                "$scratch/gst.wav"
        done
    done
    # One stream, 16 kHz then 48 kHz: the element is set up again with the
    # new rate, which cleans up the plug-in's instance and makes a new one.
    for mode in 0 1; do
        LADSPA_PATH="$ladspa_dir" run_host gst-launch-1.0 -q concat name=c ! audioconvert ! \
            "$element" mode="$mode" ! audioconvert dithering=none noise-shaping=none ! \
            audio/x-raw,format=S16LE ! filesink location="$scratch/gst.raw" \
            filesrc location="$scratch/in_16000.wav" ! wavparse ! c. \
            filesrc location="$scratch/in_48000.wav" ! wavparse ! c. ||
            fail "gst-launch-1.0 of two rates, Mode $mode failed"
        check_restarted "GStreamer concat, audioconvert to S16LE undithered" "$mode" \
            "$scratch/gst.raw"
    done
}

# PipeWire: a daemon of the test's own (its configuration and runtime
# directory in the scratch directory, no session manager, D-Bus or sound
# card), with the filter-chain example dropped into its configuration's .d
# directory as a user drops it into pipewire.conf.d. One player feeds both
# sinks (Mode 0 and Mode 1) at once; a recorder takes each chain's output as
# S16 (PipeWire rounds to nearest). Without a session manager the test gives
# the streams and the filters' sides their port configuration and links them.
#
# The graph runs the chains on silence from the moment they are linked until
# the player's first sample arrives, and their output depends on how much
# silence they saw. Each recorder is linked before anything feeds its chain
# and is scheduled with it, so the silence a chain saw is the silence before
# its recording's first sound (the input starts loud, so its first sample
# comes out not zero); the reference is applyplugin's output for the input
# after that much silence.
# A long cycle (a sixth of a second at 48 kHz) leaves the clients time to
# answer on a busy machine: a late one makes the graph skip a cycle.
pipewire_quantum=8192
pipewire_pids=()
stop_pipewire() {
    local pid
    for pid in "${pipewire_pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    pipewire_pids=()
}

# Polls a command until it succeeds, for at most $1 seconds.
poll() {
    local deadline=$((SECONDS + $1))
    shift
    until "$@" >/dev/null 2>&1; do
        [ "$SECONDS" -lt "$deadline" ] || return 1
        sleep 0.1
    done
}

pw_node_id() {
    timeout 10 pw-cli ls Node | awk -v name="\"$1\"" '
        /^[ \t]+id / { id = $2; sub(",", "", id) }
        $1 == "node.name" && $3 == name { print id }'
}

has_node() {
    [ -n "$(pw_node_id "$1")" ]
}

# One mono float port on the given side, at the graph's rate.
pw_port_config() {  # node name, Input|Output, rate
    local id
    id=$(pw_node_id "$1")
    [ -n "$id" ] || fail "PipeWire: no node $1"
    timeout 10 pw-cli s "$id" PortConfig "{ \"direction\": \"$2\", \"mode\": \"dsp\",
        \"format\": { \"mediaType\": \"audio\", \"mediaSubtype\": \"raw\", \"format\": \"F32P\",
        \"rate\": $3, \"channels\": 1, \"position\": [\"MONO\"] } }" >/dev/null ||
        fail "PipeWire: port configuration of $1 failed"
}

start_pipewire() {  # rate
    local conf="$scratch/pipewire-conf"
    rm -rf "$conf" "$XDG_RUNTIME_DIR"
    mkdir -p "$conf/lyrane-test.conf.d" "$XDG_RUNTIME_DIR"
    chmod 700 "$XDG_RUNTIME_DIR"
    cp "$examples/pipewire-filter-chain.conf" "$conf/lyrane-test.conf.d/"
    cat >"$conf/lyrane-test.conf" <<END
context.properties = {
    core.daemon = true
    core.name = pipewire-0
    default.clock.rate = $1
    default.clock.allowed-rates = [ $1 ]
    default.clock.quantum = $pipewire_quantum
    default.clock.min-quantum = $pipewire_quantum
    default.clock.max-quantum = $pipewire_quantum
    support.dbus = false
}
context.spa-libs = {
    audio.convert.* = audioconvert/libspa-audioconvert
    support.*       = support/libspa-support
}
context.modules = [
    { name = libpipewire-module-protocol-native }
    { name = libpipewire-module-metadata }
    { name = libpipewire-module-spa-node-factory }
    { name = libpipewire-module-client-node }
    { name = libpipewire-module-access }
    { name = libpipewire-module-adapter }
    { name = libpipewire-module-link-factory }
]
context.objects = [
    { factory = spa-node-factory
        args = {
            factory.name    = support.node.driver
            node.name       = lyrane-test-driver
            priority.driver = 20000
        }
    }
]
END
    # Not through run_host: $! must be the daemon's own process.
    PIPEWIRE_CONFIG_DIR="$conf" LD_PRELOAD="${LYRANE_HOST_PRELOAD:-}" \
        ASAN_OPTIONS="${ASAN_OPTIONS:-}:detect_leaks=0" pipewire -c lyrane-test.conf \
        >"$scratch/pipewire.log" 2>&1 &
    pipewire_pids+=($!)
    poll 20 has_node lyrane_playback_processing_afil.output || {
        cat "$scratch/pipewire.log" >&2
        fail "PipeWire: the daemon did not come up with the example's filter chains"
    }
}

filter_of_mode() {
    if [ "$1" = 1 ]; then
        echo lyrane_playback_processing_afil
    else
        echo lyrane_playback_processing
    fi
}

check_pipewire() {
    make_inputs
    export XDG_RUNTIME_DIR="$scratch/pipewire-run" XDG_CONFIG_HOME="$scratch/xdg-config"
    unset PIPEWIRE_REMOTE PIPEWIRE_RUNTIME_DIR PIPEWIRE_CONFIG_DIR
    trap 'stop_pipewire; rm -rf "$scratch"' EXIT
    trap 'fail "stopped by a signal"' HUP INT TERM
    local fs mode filter player n seconds
    for fs in "${rates[@]}"; do
        start_pipewire "$fs"
        # A trailing cycle of silence: the graph may drop a last partial one.
        sox "$scratch/in_$fs.wav" "$scratch/play.wav" pad 0 "$((2 * pipewire_quantum))s"
        for mode in 0 1; do
            pw-cat --record --rate "$fs" --channels 1 --format s16 --target 0 \
                -P "{ node.name = lyrane-test-record-$mode }" "$scratch/pw_$mode.wav" \
                >"$scratch/record_$mode.log" 2>&1 &
            pipewire_pids+=($!)
        done
        pw-cat --playback --target 0 -P "{ node.name = lyrane-test-play }" "$scratch/play.wav" \
            >"$scratch/play.log" 2>&1 &
        player=$!
        pipewire_pids+=("$player")
        poll 10 has_node lyrane-test-play || fail "PipeWire: the player's stream did not appear"
        pw_port_config lyrane-test-play Output "$fs"
        for mode in 0 1; do
            filter=$(filter_of_mode "$mode")
            poll 10 has_node "lyrane-test-record-$mode" ||
                fail "PipeWire: the recorder's stream did not appear"
            pw_port_config "lyrane-test-record-$mode" Input "$fs"
            pw_port_config "$filter" Input "$fs"
            pw_port_config "$filter.output" Output "$fs"
        done
        for mode in 0 1; do
            filter=$(filter_of_mode "$mode")
            poll 10 timeout 10 pw-link "$filter.output:output_MONO" \
                "lyrane-test-record-$mode:input_MONO" ||
                fail "PipeWire: cannot link $filter to its recorder"
        done
        for mode in 0 1; do
            filter=$(filter_of_mode "$mode")
            poll 10 timeout 10 pw-link lyrane-test-play:output_MONO "$filter:playback_MONO" ||
                fail "PipeWire: cannot link the player to $filter"
        done
        seconds=$(($(soxi -s "$scratch/play.wav") / fs + 10))
        poll "$seconds" sh -c "! kill -0 $player" || fail "PipeWire: the player did not finish"
        wait "$player" || fail "PipeWire: the player failed: $(cat "$scratch/play.log")"
        sleep 0.5
        # The recorders and the daemon end on a signal; pw-cat --record then
        # exits with status 1, its file complete.
        stop_pipewire
        for mode in 0 1; do
            n=$("$compare" lead-in "$scratch/pw_$mode.wav") ||
                fail "PipeWire: Mode $mode recorded silence at $fs Hz"
            sox "$scratch/in_$fs.wav" "$scratch/led_in.wav" pad "${n}s" 0
            make_reference "$scratch/led_in.wav" "$scratch/ref_$mode.wav" "$mode" "$fs"
            echo -n "PipeWire, pw-cat recording S16, Mode $mode, $fs Hz," \
                "after $n samples of silence: "
            "$compare" 1 "$scratch/ref_$mode.wav" "$scratch/pw_$mode.wav" prefix ||
                fail "PipeWire: Mode $mode at $fs Hz differs"
        done
    done
}

# A LADSPA host with the shipped logging configuration prints the records of
# the chain's creation and settings at INFO, with level and logger name, and
# nothing at DEBUG; log4cxx does not complain about missing appenders.
check_log4cxx() {
    make_inputs
    local log="$scratch/applyplugin.log"
    LOG4CXX_CONFIGURATION="$configdir/log4cxx.properties" run_host applyplugin \
        "$scratch/in_16000.wav" "$scratch/out.wav" "$ladspa_dir/$module" PLAYBACKPROCESSING 1 \
        >/dev/null 2>"$log" || fail "applyplugin failed"
    local expected
    for expected in \
        "INFO  ZIZO.PlaybackProcessingCWrapper - PlaybackProcessing_Init" \
        "INFO  ZIZO.External_Module_Registry - Registered LADSPA_PLAYBACKPROCESSING_AFIL." \
        "INFO  ZIZO.Agc - AGC LADSPA_PLAYBACKPROCESSING_AFIL_AGC enabled." \
        "INFO  ZIZO.External_Module_Registry - Unregistered LADSPA_PLAYBACKPROCESSING_AFIL."; do
        grep -qxF "$expected" "$log" || {
            cat "$log" >&2
            fail "no record \"$expected\""
        }
    done
    if grep -E "^log4cxx:|^(DEBUG|TRACE) " "$log" >&2; then
        fail "log4cxx warned, or records below INFO were printed"
    fi
    echo "log4cxx: $(wc -l <"$log") records, INFO and above, no warning"
}

case $host in
alsa) check_alsa ;;
gstreamer) check_gstreamer ;;
pipewire) check_pipewire ;;
log4cxx) check_log4cxx ;;
*) fail "unknown host $host" ;;
esac
