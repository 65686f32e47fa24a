#!/usr/bin/env bash
# The test suite on the device's ABI: sets up the armhf cross toolchain,
# qemu-user and Debian's armhf libraries (scripts/setup-armhf.sh), builds
# every user-space deliverable and its tests for armhf and runs them under
# qemu-arm. Ends on ctest's summary; skipped tests name their reason there.
# The Google Benchmark programs are not built: they measure this machine.
# Exits non-zero on any failure.
#   bash scripts/test-armhf.sh
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc)
tree="$root/build/armhf/sysroot"
dir="$root/build/armhf/build"

elapsed() { echo "test-armhf: $1 took $((SECONDS - started)) s"; }

started=$SECONDS
bash scripts/setup-armhf.sh "$tree"
elapsed "set-up"

started=$SECONDS
export LYRANE_ARMHF_SYSROOT="$tree"
cmake -S "$root" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-armhf.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLYRANE_CONFIG_DIR="$dir/etc/Lyrane" \
  -DLYRANE_SANITIZE= -DLYRANE_BUILD_BENCHMARKS=OFF -DLYRANE_BUILD_KERNEL=OFF >/dev/null
cmake --build "$dir" -j "$jobs"
elapsed "build"

# ctest's summary, with its total time, is the last thing printed.
cd "$dir"
ctest --output-on-failure -j "$jobs"
