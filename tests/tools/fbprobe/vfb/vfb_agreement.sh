#!/usr/bin/env bash
# fbprobe on a real kernel framebuffer against the fake one: the guest loads
# vfb and runs the shared steps on /dev/fb0; the host then runs the same
# steps on the fake framebuffer configured with the screen information vfb
# reported at each depth. Every printed line (statuses, checksums of output,
# frame memory and grab file, colour map entries) must agree.
# usage: vfb_agreement.sh <work dir> <fbprobe> <fbvar> <fake-device preload>
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$1 fbprobe=$2 fbvar=$3 preload=$4

rm -rf "$work" && mkdir -p "$work/host" || exit 1
started=$(date +%s)
"$here/../../../guest/run_guest.sh" --work "$work/guest" \
    --module "vfb vfb_enable=1 videomemorysize=4194304 mode_option=800x600-16@60" \
    --program "$fbprobe:/bin/fbprobe" --program "$fbvar:/bin/fbvar" \
    --file "$here/steps.sh:/guest/steps.sh" --append "fbcon=map:1" --timeout 240 \
    "$here/guest.sh" >"$work/guest.txt"
status=$?
if [ $status != 0 ]; then
    cat "$work/guest.txt"
    exit $status
fi
echo "guest run took $(($(date +%s) - started)) s;" $(grep -a "^steps" "$work/guest/console.log")

cd "$work/host" || exit 1
backing=$work/host/frame
log=$work/host/log
: >"$backing"
: >"$log"

probe() {
    LD_PRELOAD=$preload FAKE_DEVICES_CONFIG=$work/host/config FAKE_DEVICES_LOG=$log \
        "$fbprobe" "$@"
}

# The guest's screen line for this depth becomes the fake's configuration.
screen() {
    local line
    line=$(grep -a -A1 -x "depth $*" "$work/guest.txt" | sed -n 2p)
    [ -n "$line" ] || { echo "no screen line for depth $* from the guest"; return 1; }
    read -r _ xres yres xv yv bpp ro rl rm go gl gm bo bl bm <<<"$line"
    cat >"$work/host/config" <<END
device /dev/fb0 fb
backing $backing
xres $xres
yres $yres
xres_virtual $xv
yres_virtual $yv
bits_per_pixel $bpp
red $ro $rl $rm
green $go $gl $gm
blue $bo $bl $bm
END
    # Like the driver's memory, the frame is there before fbprobe opens it.
    local bytes=$((xv * yv * bpp / 8))
    [ "$(stat -c %s "$backing")" -ge $bytes ] || truncate -s $bytes "$backing"
    echo "$line"
}

frame_sum() { head -c "$1" "$backing" | md5sum | cut -d' ' -f1; }

# The colour map as the fake's log left it; entries never put are 0.
palette() {
    awk -v start="$1" -v count="$2" '
        /^cmap\[/ { i = substr($1, 6, length($1) - 6); entry[i] = $2 " " $3 " " $4 }
        END {
            for (i = start; i < start + count; i++)
                print "cmap[" i "] " ((i in entry) ? entry[i] : "0000 0000 0000")
        }' "$log"
}

# shellcheck source=steps.sh
. "$here/steps.sh" >"$work/host.txt"

if diff -u "$work/guest.txt" "$work/host.txt"; then
    echo "vfb and the fake framebuffer agree on $(grep -c '^step' "$work/host.txt") steps" \
        "at $(grep -c '^depth' "$work/host.txt") screen settings"
    exit 0
fi
echo "vfb (-) and the fake framebuffer (+) disagree"
exit 1
