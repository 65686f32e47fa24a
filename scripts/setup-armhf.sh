#!/usr/bin/env bash
# Installs, from Debian packages and only when missing, what the cross-build
# for the device's ABI needs: the armhf cross toolchain and qemu-user on this
# machine, and Debian's armhf builds of the libraries we link, extracted into
# a private tree inside the build directory so the machine's own packages stay
# as they are. Safe to run again.
#   bash scripts/setup-armhf.sh [tree]   (default build/armhf/sysroot)
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=install_missing.sh
source scripts/install_missing.sh
tree=${1:-build/armhf/sysroot}

host_packages=(crossbuild-essential-armhf qemu-user mmdebstrap)
# Eigen is headers only; the rest are the armhf builds of what we link, and
# ALSA's aplay, a LADSPA host the plug-in's test runs under qemu-arm.
target_packages=(
  libc6-dev libstdc++-12-dev
  liblog4cxx-dev libconfig++-dev libconfig-dev
  libboost-dev libboost-program-options-dev
  libsndfile1-dev libevdev-dev libeigen3-dev ladspa-sdk
  libgtest-dev libgmock-dev
  alsa-utils
)

install_missing setup-armhf "${host_packages[@]}"

# The tree is made again only when the package list changes.
stamp="$tree/.lyrane-packages"
wanted="${target_packages[*]}"
if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$wanted" ]; then
  echo "setup-armhf: armhf tree present ($tree)"
  exit 0
fi
echo "setup-armhf: extracting Debian's armhf packages into $tree"
# Extracted beside the tree and moved into place whole, so an interrupted
# run never leaves a partial tree behind.
rm -rf "$tree" "$tree.new"
mkdir -p "$(dirname "$tree")"
include=$(IFS=,; echo "${target_packages[*]}")
mmdebstrap --quiet --variant=extract --architectures=armhf --include="$include" \
  bookworm "$tree.new"
echo "$wanted" > "$tree.new/.lyrane-packages"
mv "$tree.new" "$tree"
