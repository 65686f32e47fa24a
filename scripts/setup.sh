#!/usr/bin/env bash
# Installs, from Debian packages and only when missing, everything needed to
# build, test and demonstrate the project. Safe to run again; needs root (or
# sudo) only when something is missing.
set -euo pipefail

packages=(
  build-essential cmake pkg-config clang-format
  liblog4cxx-dev libconfig++-dev libconfig-dev
  libboost-dev libboost-program-options-dev
  libeigen3-dev libsndfile1-dev libevdev-dev
  ladspa-sdk libgtest-dev libgmock-dev libbenchmark-dev
  sox libsox-fmt-all sndfile-programs espeak-ng tap-plugins swh-plugins
  clang libclang-rt-14-dev
  qemu-system-x86 linux-image-amd64 linux-headers-amd64 busybox-static cpio kmod
  python3-matplotlib python3-pil
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all ${#packages[@]} packages present"
  exit 0
fi

echo "setup: installing ${missing[*]}"
as_root=()
if [ "$(id -u)" -ne 0 ]; then as_root=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
