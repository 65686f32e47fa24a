#!/usr/bin/env bash
# Installs, from Debian packages and only when missing, everything needed to
# build, test and demonstrate the project. Safe to run again; needs root (or
# sudo) only when something is missing.
set -euo pipefail
# shellcheck source=install_missing.sh
source "$(dirname "$0")/install_missing.sh"

packages=(
  build-essential cmake pkg-config clang-format
  liblog4cxx-dev libconfig++-dev libconfig-dev
  libboost-dev libboost-program-options-dev
  libeigen3-dev libsndfile1-dev libevdev-dev
  ladspa-sdk libgtest-dev libgmock-dev libbenchmark-dev
  sox libsox-fmt-all sndfile-programs espeak-ng tap-plugins swh-plugins
  alsa-utils gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  gstreamer1.0-plugins-bad pipewire pipewire-bin
  clang libclang-rt-14-dev
  qemu-system-x86 linux-image-amd64 linux-headers-amd64 busybox-static cpio kmod
  python3-matplotlib python3-pil
)

install_missing setup "${packages[@]}"
