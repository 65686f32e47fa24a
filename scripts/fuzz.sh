#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs one of them, or each in
# turn, for the given number of seconds (default 600 each):
#   bash scripts/fuzz.sh [seconds] [target]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=${1:-600}
only=${2:-}
dir="$root/build/fuzz"
bash scripts/setup.sh
CC=clang CXX=clang++ cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DLYRANE_CONFIG_DIR="$dir/etc/Lyrane" -DLYRANE_SANITIZE=address,undefined \
  -DLYRANE_BUILD_FUZZERS=ON -DLYRANE_BUILD_TESTS=OFF -DLYRANE_BUILD_BENCHMARKS=OFF \
  -DLYRANE_BUILD_KERNEL=OFF -DLYRANE_FUZZ_SECONDS="$seconds" >/dev/null
cmake --build "$dir" -j "$(nproc)" --target lyrane_fuzzers
cd "$dir"
status=0
if [ -n "$only" ]; then
  ctest --output-on-failure -L fuzz -R "^fuzz\.${only}\$" || status=$?
else
  ctest --output-on-failure -L fuzz || status=$?
fi
# Each target's executions and speed, from libFuzzer's closing figures.
awk '/ Testing: / { name = $3 }
     /^stat::number_of_executed_units:/ { runs = $2 }
     /^stat::average_exec_per_sec:/ { printf "%s: %s executions, %s per second\n", name, runs, $2 }' \
  Testing/Temporary/LastTest.log
exit "$status"
