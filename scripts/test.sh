#!/usr/bin/env bash
# The whole test suite: installs what is missing, then builds and runs every
# test in a normal build, in an AddressSanitizer + UndefinedBehaviorSanitizer
# build, and the concurrency tests in a ThreadSanitizer build.
# Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc)

bash scripts/setup.sh

run_suite() {  # name, ctest filter (empty: all), cmake arguments...
  local name=$1 filter=$2
  shift 2
  local dir="$root/build/test-$name"
  echo "=== $name build ==="
  cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DLYRANE_CONFIG_DIR="$dir/etc/Lyrane" "$@" >/dev/null
  if [ -n "$filter" ]; then
    cmake --build "$dir" -j "$jobs" --target "$filter"
    (cd "$dir" && ctest --output-on-failure -j "$jobs" -R "$filter")
  else
    cmake --build "$dir" -j "$jobs"
    (cd "$dir" && ctest --output-on-failure -j "$jobs")
  fi
}

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

run_suite normal "" -DLYRANE_SANITIZE=
run_suite asan "" -DLYRANE_SANITIZE=address,undefined -DLYRANE_BUILD_BENCHMARKS=OFF
if [ -f tests/ladspa_playback_processing/PlaybackProcessing_concurrency_test.cpp ]; then
  run_suite tsan PlaybackProcessing_concurrency_test -DLYRANE_SANITIZE=thread \
    -DLYRANE_BUILD_BENCHMARKS=OFF
fi
echo "=== all suites passed ==="
