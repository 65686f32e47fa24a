#!/usr/bin/env bash
# The main job on the bundled defaults: installs what is missing, builds, and
# installs the libraries, headers and sample configuration into a local prefix.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
prefix="$root/build/demo/prefix"

bash scripts/setup.sh
cmake -S "$root" -B "$root/build/demo/build" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_INSTALL_PREFIX="$prefix" -DLYRANE_CONFIG_DIR="$prefix/etc/Lyrane" \
  -DLYRANE_BUILD_TESTS=OFF -DLYRANE_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$root/build/demo/build" -j "$(nproc)"
cmake --install "$root/build/demo/build" >/dev/null
echo "Installed into build/demo/prefix:"
(cd "$prefix" && find . -type f | sort)
