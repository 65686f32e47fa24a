#!/bin/sh
# Loads the registry stand-in and the LCD interface driver built by
# kbuild_test.sh into Debian's packaged kernel under emulation, with a
# test-only module that registers the device and binds the display.
#
# usage: guest_test.sh <modules built by kbuild_test.sh> <check module source>
#                      <guest runner> <guest script> <scratch dir in the build tree>
# Exits 77 when a prerequisite is missing, 1 instead when
# LYRANE_SKIP_IS_FAILURE=1.
set -eu

built=$1
check_src=$2
runner=$3
script=$4
work=$5

skip() {
    echo "SKIP: $1"
    if [ "${LYRANE_SKIP_IS_FAILURE:-0}" = 1 ]; then exit 1; fi
    exit 77
}

release_of() {  # meta package -> kernel release it depends on
    dpkg-query -W -f='${Depends}' "$1" 2>/dev/null | sed -n 's/^linux-[a-z]*-\([^ ,]*\).*/\1/p'
}

headers=$(release_of linux-headers-amd64)
image=$(release_of linux-image-amd64)
[ -n "$headers" ] || skip "kernel headers (package linux-headers-amd64) missing"
# Modules load only into the kernel release they were built for.
[ "$image" = "$headers" ] ||
    skip "kernel image of the headers' release $headers missing (image: ${image:-none})"
for ko in standin_mxc_dispdrv/mxc_dispdrv.ko mxc_lcdif/mxc_lcdif.ko; do
    [ -f "$built/$ko" ] || skip "$built/$ko (built by mxc_lcdif.kbuild) missing"
done

rm -rf "$work"
mkdir -p "$work"
cp -R "$check_src" "$work/guest_check"
cp -R "$built/standin_mxc_dispdrv" "$work/"
make -C "/usr/src/linux-headers-$headers" M="$work/guest_check" W=1 KCFLAGS=-Werror -j2 \
    KBUILD_EXTRA_SYMBOLS="$built/standin_mxc_dispdrv/Module.symvers" modules \
    >"$work/build.log" 2>&1 || { cat "$work/build.log"; echo "FAIL: check module build"; exit 1; }
if grep -qi 'warning' "$work/build.log"; then
    cat "$work/build.log"
    echo "FAIL: warnings building the check module"
    exit 1
fi

# Slab debugging turns a free of memory the driver still points at into a
# kernel "BUG" line, which the guest script counts as a failure.
exec bash "$runner" --work "$work/guest" --timeout 240 --append "slub_debug=FZP" \
    --file "$built/standin_mxc_dispdrv/mxc_dispdrv.ko:/guest/mxc_dispdrv.ko" \
    --file "$built/mxc_lcdif/mxc_lcdif.ko:/guest/mxc_lcdif.ko" \
    --file "$work/guest_check/mxc_lcdif_check.ko:/guest/mxc_lcdif_check.ko" \
    "$script"
