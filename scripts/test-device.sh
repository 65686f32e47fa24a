#!/usr/bin/env bash
# The device as a system: builds the device's deliverables for armhf, boots
# them on an emulated Cortex-A9 board (qemu's vexpress-a9) with Debian's
# armhf kernel and a device tree made per case, and checks what comes back
# through observers that are not our code (the board's second UART, virtio-9p
# and the emulator's own screen dump). Sets up what it needs first
# (scripts/setup-device.sh). Ends with a summary line of passed and failed
# checks; exits non-zero when any check failed.
#   bash scripts/test-device.sh
set -uo pipefail
cd "$(dirname "$0")/.."
src=$(pwd)
out=$src/build/device
root=$out/root
passed=0 failed=0

elapsed() { echo "test-device: $1 took $((SECONDS - started)) s"; }
pass() { passed=$((passed + 1)); echo "PASS $*"; }
fail() { failed=$((failed + 1)); echo "FAIL $*"; }
# Counts a board's result lines; anything but PASS lines is shown as it is.
tally() {  # results file
    local line
    while IFS= read -r line; do
        case $line in
            "PASS "*) pass "${line#PASS }" ;;
            "FAIL "*) fail "${line#FAIL }" ;;
            "EXIT "* | "SCREENDUMP "*) ;;
            *) echo "  $line" ;;
        esac
    done <"$1"
}

started=$SECONDS
bash scripts/setup-device.sh "$out" || { echo "test-device: set-up failed"; exit 1; }
release=$(cat "$root/.lyrane-release")
headers=$root/usr/src/linux-headers-$release
elapsed "set-up"

# --- the display driver from a device tree ---------------------------------
started=$SECONDS
kbuild() {  # module directory, extra make arguments...
    local dir=$1
    shift
    if ! make -C "$headers" M="$dir" ARCH=arm CROSS_COMPILE=arm-linux-gnueabihf- \
        W=1 KCFLAGS=-Werror -j2 "$@" modules >"$dir/build.log" 2>&1; then
        cat "$dir/build.log"
        return 1
    fi
    # modpost reports unresolved symbols as warnings only.
    if grep -qi 'warning' "$dir/build.log"; then
        cat "$dir/build.log"
        return 1
    fi
}
lcd=$out/lcd
rm -rf "$lcd" && mkdir -p "$lcd"
cp -R kernel/standin_mxc_dispdrv kernel/mxc_lcdif tests/kernel/guest_check "$lcd/"
if kbuild "$lcd/standin_mxc_dispdrv" &&
    kbuild "$lcd/mxc_lcdif" KBUILD_EXTRA_SYMBOLS="$lcd/standin_mxc_dispdrv/Module.symvers" &&
    kbuild "$lcd/guest_check" KBUILD_EXTRA_SYMBOLS="$lcd/standin_mxc_dispdrv/Module.symvers"; then
    pass "Kbuild W=1 cross-build for $release, no warnings"
    dtc -q -I dtb -O dts "$root/usr/lib/linux-image-$release/vexpress-v2p-ca9.dtb" >"$lcd/board.dts"
    cat "$lcd/board.dts" tests/device/lcd_panels.dtsi >"$lcd/lcd.dts"
    dtc -q -I dts -O dtb -o "$lcd/lcd.dtb" "$lcd/lcd.dts"
    elapsed "display driver build"
    started=$SECONDS
    # Slab debugging turns a use of freed memory into a "BUG" line.
    bash tests/device/board.sh --root "$root" --work "$lcd/board" --dtb "$lcd/lcd.dtb" \
        --append "slub_debug=FZP" \
        --file "$lcd/standin_mxc_dispdrv/mxc_dispdrv.ko:/guest/mxc_dispdrv.ko" \
        --file "$lcd/mxc_lcdif/mxc_lcdif.ko:/guest/mxc_lcdif.ko" \
        --file "$lcd/guest_check/mxc_lcdif_check.ko:/guest/mxc_lcdif_check.ko" \
        tests/device/lcd_guest.sh || fail "the display driver board did not finish"
    tally "$lcd/board/results"
    elapsed "display driver boot"
else
    fail "Kbuild W=1 cross-build for $release"
fi

echo "test-device: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
