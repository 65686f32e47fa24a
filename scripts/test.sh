#!/usr/bin/env bash
# The whole test suite: installs what is missing, then builds and runs every
# test in a normal build, in an AddressSanitizer + UndefinedBehaviorSanitizer
# build, the concurrency tests in a ThreadSanitizer build, and each fuzz
# target for a bounded time in a clang build.
# Exits non-zero on any failure. A test whose prerequisite is missing (the
# emulated kernel, the kernel headers) fails here instead of skipping.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc)

bash scripts/setup.sh

export LYRANE_SKIP_IS_FAILURE=1

run_suite() {  # name, "targets" (space-separated, empty: all), cmake arguments...
  local name=$1 targets=$2
  shift 2
  local dir="$root/build/test-$name"
  echo "=== $name build ==="
  cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DLYRANE_CONFIG_DIR="$dir/etc/Lyrane" "$@" >/dev/null
  if [ -n "$targets" ]; then
    # shellcheck disable=SC2086
    cmake --build "$dir" -j "$jobs" --target $targets
    (cd "$dir" && ctest --output-on-failure -j "$jobs" -R "^(${targets// /|})\\.")
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
# The test executables whose cases run in the ThreadSanitizer build.
tsan_targets=(
  InputFifo_test
  PlaybackProcessing_concurrency_test
  keylisten_test
  ExternalModuleRegistry_concurrency_test
  ZIZO_agc_concurrency_test
  SettingsExchange_test
  TaggedHandoverSlot_test
  DeferredLogQueue_test
  DeferredLogThread_unload_test
)
run_suite tsan "${tsan_targets[*]}" -DLYRANE_SANITIZE=thread -DLYRANE_BUILD_BENCHMARKS=OFF

echo "=== fuzz build ==="
fuzz_dir="$root/build/test-fuzz"
CC=clang CXX=clang++ cmake -S "$root" -B "$fuzz_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DLYRANE_CONFIG_DIR="$fuzz_dir/etc/Lyrane" -DLYRANE_SANITIZE=address,undefined \
  -DLYRANE_BUILD_FUZZERS=ON -DLYRANE_BUILD_TESTS=OFF -DLYRANE_BUILD_BENCHMARKS=OFF \
  -DLYRANE_BUILD_KERNEL=OFF >/dev/null
cmake --build "$fuzz_dir" -j "$jobs" --target lyrane_fuzzers
# Each target runs on one core for its fixed time, so they share the cores.
(cd "$fuzz_dir" && ctest --output-on-failure -j "$jobs" -L fuzz)
echo "=== all suites passed ==="
