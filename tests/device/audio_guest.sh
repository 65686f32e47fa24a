# Guest side of the plug-in check: speech through ALSA's LADSPA host in both
# Mode values, and through the chain's C interface with each profile's
# settings file, into /shared for the host to compare. Sourced by the boot's
# script, which calls audio_runs.
audio_runs() {
    export ALSA_CONFIG_PATH=/guest/asound.conf
    start=$(cut -d' ' -f1 /proc/uptime)
    for mode in 0 1; do
        aplay -q -D "lyrane_chain:$mode" /guest/speech.wav 2>/shared/aplay$mode.err ||
            { echo "FAIL aplay through the plug-in, Mode $mode:"; sed 's/^/    /' /shared/aplay$mode.err; }
    done
    echo "TIME plug-in in ALSA, both modes: $start to $(cut -d' ' -f1 /proc/uptime) s"
    # The library's log lines (log4cxx, not configured here) stay out of the
    # results.
    for profile in acoustic afil; do
        chain_run /etc/Lyrane/ladspa_$profile.cfg /guest/speech.wav /shared/chain-$profile.f32 \
            2>/shared/chain-$profile.err || echo "FAIL chain_run, $profile profile"
    done
    echo "AUDIO done"
}
