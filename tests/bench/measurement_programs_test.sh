#!/bin/sh
# The measurement programs run and report what they promise: their figures
# are not judged here (they depend on the machine), only their presence, and
# bad options are refused.
# usage: measurement_programs_test.sh <chain_benchmark> <chain_latency>
set -u
benchmark=$1 latency=$2
out=$(mktemp -d "${TMPDIR:-/tmp}/measurement_programs.XXXXXX") || exit 1
trap 'rm -rf "$out"' EXIT
failed=0
fail() { echo "FAIL: $*"; failed=1; }

"$benchmark" --benchmark_filter='FastFloor1, Signal::Speech|CInterfaceChain<Pulling::No>, Signal::Speech' \
    --benchmark_repetitions=2 --benchmark_min_time=0.01 >"$out/bench" 2>&1 ||
    fail "chain_benchmark failed: $(cat "$out/bench")"
# The floor's row refers to itself; the path's row has a ratio, and the
# silence columns of benchmarks left out are not numbers.
grep -Eq '^Floor/Nblock1 +[0-9.]+ +1\.000 +-?nan' "$out/bench" ||
    fail "no floor row in: $(tail -n 8 "$out/bench")"
# A path's ratio is its time over the floor's, within the printed rounding.
awk '$1 == "Floor/Nblock1" { floor = $2 }
     $1 == "Process/Nblock1/no-consumer" { path = $2; ratio = $3 }
     END { if (floor <= 0 || path <= 0) exit 1
           d = ratio - path / floor; exit (d < -0.002 || d > 0.002) }' "$out/bench" ||
    fail "no Process/Nblock1/no-consumer row with its ratio to the floor in: $(tail -n 8 "$out/bench")"

mkdir "$out/tmp"
TMPDIR="$out/tmp" "$latency" --seconds 1 >"$out/latency" 2>"$out/latency.err" ||
    fail "chain_latency failed: $(cat "$out/latency.err")"
[ -z "$(ls -A "$out/tmp")" ] || fail "chain_latency left its scratch files: $(ls -A "$out/tmp")"
for phase in 'paced, no setter' 'paced, setter' 'unpaced, no setter' 'unpaced, setter'; do
    grep -q "^$phase  " "$out/latency" || fail "no row '$phase' in: $(cat "$out/latency")"
done
# The setter completed at least one round of reload and AGC settings.
awk '/^unpaced, setter|^paced, setter/ { if ($NF < 1) bad = 1 } END { exit bad }' "$out/latency" ||
    fail "a setter phase without a completed round: $(cat "$out/latency")"
grep -q '^Throughput with setter / without: paced [0-9.]*, unpaced [0-9.]*$' "$out/latency" ||
    fail "no throughput line in: $(cat "$out/latency")"

for bad in "--seconds 0" "--seconds -3" "--seconds 2x" "--seconds" "--frobnicate 1"; do
    # shellcheck disable=SC2086
    "$latency" $bad >"$out/bad" 2>&1
    status=$?
    [ "$status" -eq 2 ] || fail "chain_latency $bad: status $status, expected 2"
    grep -q '^usage: chain_latency' "$out/bad" || fail "chain_latency $bad: no usage line"
done
"$latency" --seconds 1 --coefficients "$out/none.cfg" >"$out/bad" 2>&1
[ $? -eq 1 ] || fail "chain_latency with a missing coefficient file did not fail"
grep -q "cannot read $out/none.cfg" "$out/bad" || fail "no message naming the missing file"
exit $failed
