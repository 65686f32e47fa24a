#!/usr/bin/env bash
# Sets up, only where missing, what the emulated device board needs: the
# board emulator, the device-tree compiler and the armhf cross toolchain on
# this machine (Debian packages), the armhf library tree of
# scripts/setup-armhf.sh, and Debian's armhf kernel (image, modules, headers,
# Kbuild), busybox and ALSA extracted into a private tree. Nothing of the
# armhf side is installed on this machine. Safe to run again.
#   bash scripts/setup-device.sh [dir]   (default build/device)
# Leaves in <dir>/root the extracted packages and in <dir>/release the
# kernel release.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=install_missing.sh
source scripts/install_missing.sh
dir=${1:-build/device}

host_packages=(qemu-system-arm qemu-user device-tree-compiler gcc-arm-linux-gnueabihf
  busybox-static cpio kmod xz-utils alsa-utils espeak-ng sox)
# Another session's apt may hold the lock for a while; wait for it.
for attempt in 1 2 3 4 5 6 7 8 9 10; do
  if install_missing setup-device "${host_packages[@]}"; then break; fi
  [ "$attempt" -lt 10 ] || exit 1
  echo "setup-device: apt busy, trying again in 30 s"
  sleep 30
done
bash scripts/setup-armhf.sh build/armhf/sysroot

# The armhf packages come through an apt of their own (own lists, cache and
# architecture), so the machine's apt set-up stays as it is.
target_packages=(linux-image-armmp linux-headers-armmp busybox-static alsa-utils)
stamp=$dir/root/.lyrane-packages
wanted="${target_packages[*]}"
if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$wanted" ]; then
  echo "setup-device: armhf kernel tree present ($dir/root)"
  exit 0
fi
echo "setup-device: fetching Debian's armhf kernel, busybox and ALSA into $dir/root"
apt_dir=$(realpath -m "$dir/apt")
rm -rf "$apt_dir" "$dir/root" "$dir/root.new"
mkdir -p "$apt_dir"/{lists/partial,archives/partial,etc/preferences.d,etc/apt.conf.d} "$dir/root.new"
: >"$apt_dir/status"
cp /etc/apt/sources.list.d/debian.sources "$apt_dir/etc/" 2>/dev/null ||
  printf 'Types: deb\nURIs: http://deb.debian.org/debian\nSuites: bookworm bookworm-updates\nComponents: main\n\nTypes: deb\nURIs: http://deb.debian.org/debian-security\nSuites: bookworm-security\nComponents: main\n' \
    >"$apt_dir/etc/debian.sources"
apt_opts=(-o "Dir::Etc=$apt_dir/etc" -o "Dir::Etc::SourceParts=$apt_dir/etc"
  -o "Dir::Etc::sourcelist=/dev/null" -o "Dir::State=$apt_dir" -o "Dir::State::status=$apt_dir/status"
  -o "Dir::Cache=$apt_dir" -o "Dir::Cache::archives=$apt_dir/archives"
  -o "APT::Architecture=armhf" -o "APT::Architectures::=armhf" -o "APT::Architectures::=amd64"
  -o "Debug::NoLocking=1" -qq)
apt-get "${apt_opts[@]}" update

# Makes the extracted headers build modules here: their Makefile names the
# common headers by an installed path, and the machine's modpost reads 32-bit
# ARM device-ID tables with its own structure sizes, so the armhf modpost
# runs instead, under qemu-arm. The module list is not shipped either.
prepare_kbuild() {  # tree release abi
  local tree=$1 headers=$1/usr/src/linux-headers-$2
  local mod=$1/usr/lib/linux-kbuild-6.1/scripts/mod
  echo "include $(realpath "$tree/usr/src/linux-headers-$3-common")/Makefile" >"$headers/Makefile"
  cat >"$mod/modpost.real-lsb-32" <<'EOF'
#!/bin/sh
root=$(dirname "$0")/../../../../..
exec qemu-arm -L "$root" "$root/kbuild-armhf/usr/lib/linux-kbuild-6.1/scripts/mod/modpost.real-lsb-32" "$@"
EOF
  chmod +x "$mod/modpost.real-lsb-32"
  /sbin/depmod -b "$tree" "$2"
}

version_of() {  # package[:arch] -> candidate version
  apt-cache "${apt_opts[@]}" policy "$1" | sed -n 's/^ *Candidate: //p'
}
# The meta package names the current release: 6.1.0-NN.
release=$(apt-cache "${apt_opts[@]}" depends linux-image-armmp |
  sed -n 's/.*Depends: linux-image-\(6[^ ]*-armmp\)$/\1/p' | head -n1)
[ -n "$release" ] || { echo "setup-device: no armmp kernel release found" >&2; exit 1; }
abi=${release%-armmp}
kbuild_version=$(version_of "linux-kbuild-6.1:armhf")
# Both Kbuilds: the machine's programs run the build, the armhf modpost
# checks 32-bit device tables (scripts/device/kbuild.sh).
downloads=("linux-image-$release" "linux-headers-$release" "linux-headers-$abi-common"
  "linux-kbuild-6.1:armhf=$kbuild_version" "linux-kbuild-6.1:amd64=$kbuild_version"
  busybox-static libc6 libasound2 libasound2-data alsa-utils)
(cd "$apt_dir/archives" && apt-get "${apt_opts[@]}" download "${downloads[@]}")
new=$dir/root.new
for deb in "$apt_dir"/archives/*.deb; do
  case $deb in
    *linux-kbuild-6.1_*_armhf.deb) dpkg-deb -x "$deb" "$new/kbuild-armhf" ;;
    *) dpkg-deb -x "$deb" "$new" ;;
  esac
done
echo "$release" >"$new/.lyrane-release"
mv "$new" "$dir/root"
# In place, as the headers' Makefile names the tree by its final path; the
# stamp comes last, so an interrupted run starts again.
prepare_kbuild "$dir/root" "$release" "$abi"
echo "$wanted" >"$stamp"
rm -rf "$apt_dir"
echo "setup-device: armhf kernel $release in $dir/root"
