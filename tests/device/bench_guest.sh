# Guest side of the benchmark check: LyraneBenchmark with the stand-in core
# over the demo's recording, its output into /shared. Sourced by the boot's
# script, which calls bench_run.
bench_run() {
    start=$(cut -d' ' -f1 /proc/uptime)
    if LyraneBenchmark --input=/guest/speech_2ch.wav --output_dir=/shared \
        --client_volume_level=10 >/shared/bench.out 2>&1; then
        echo "TIME LyraneBenchmark: $start to $(cut -d' ' -f1 /proc/uptime) s"
    else
        echo "FAIL LyraneBenchmark on the board:"
        tail -n 5 /shared/bench.out | sed 's/^/    /'
    fi
}
