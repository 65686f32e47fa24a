#!/bin/sh
# Builds the display-driver registry stand-in and the LCD interface driver as
# out-of-tree modules with Kbuild against the kernel headers of Debian's
# linux-headers-amd64 package, with W=1 and every warning an error, then
# checks the driver's module information.
#
# usage: kbuild_test.sh <kernel source dir> <scratch dir in the build tree>
# Exits 77 when the headers (or modinfo) are missing, 1 instead when
# LYRANE_SKIP_IS_FAILURE=1.
set -eu

src=$1
work=$2

skip() {
    echo "SKIP: $1 missing"
    if [ "${LYRANE_SKIP_IS_FAILURE:-0}" = 1 ]; then exit 1; fi
    exit 77
}

fail() {
    echo "FAIL: $1"
    exit 1
}

# The release comes from the headers package, not from the running kernel,
# which need not be the one the headers are for.
status=$(dpkg-query -W -f='${Status}' linux-headers-amd64 2>/dev/null || true)
[ "$status" = "install ok installed" ] || skip "kernel headers (package linux-headers-amd64)"
release=$(dpkg-query -W -f='${Depends}' linux-headers-amd64 |
    sed -n 's/^linux-headers-\([^ ,]*\).*/\1/p')
kdir=/usr/src/linux-headers-$release
[ -n "$release" ] && [ -f "$kdir/Makefile" ] ||
    skip "kernel headers (linux-headers-$release)"
modinfo=$(PATH=$PATH:/usr/sbin:/sbin command -v modinfo) || skip "modinfo (package kmod)"

# Kbuild writes its objects beside the sources; a copy keeps the tree clean.
rm -rf "$work"
mkdir -p "$work"
cp -R "$src/standin_mxc_dispdrv" "$src/mxc_lcdif" "$work/"

kbuild() {  # module directory, extra make arguments...
    dir=$work/$1
    shift
    make -C "$kdir" M="$dir" W=1 KCFLAGS=-Werror -j2 "$@" modules \
        >"$dir/build.log" 2>&1 || { cat "$dir/build.log"; fail "Kbuild build of $dir"; }
    cat "$dir/build.log"
    # modpost reports unresolved or GPL-only symbols as warnings only.
    if grep -qi 'warning' "$dir/build.log"; then fail "warnings building $dir"; fi
}

kbuild standin_mxc_dispdrv
kbuild mxc_lcdif KBUILD_EXTRA_SYMBOLS="$work/standin_mxc_dispdrv/Module.symvers"

ko=$work/mxc_lcdif/mxc_lcdif.ko
expect() {  # field, exact value among the field's lines
    "$modinfo" -F "$1" "$ko" | grep -qxF -- "$2" ||
        fail "modinfo $1: expected '$2', got '$("$modinfo" -F "$1" "$ko" | tr '\n' ' ')'"
}
expect license "GPL"
expect description "i.MX ipuv3 LCD extern port driver"
expect alias "of:N*T*Cfsl,lcd"
expect depends "mxc_dispdrv"
expect name "mxc_lcdif"
"$modinfo" -F vermagic "$ko" | grep -q "^$release " || fail "vermagic is not $release"
echo "PASS: mxc_lcdif.ko for $release"
