#!/usr/bin/env bash
# The device as a system: builds the device's deliverables for armhf, boots
# them on an emulated Cortex-A9 board (qemu's vexpress-a9) with Debian's
# armhf kernel and a device tree made per case, and checks what comes back
# through observers that are not our code (the board's second UART, virtio-9p
# and the emulator's own screen dump). Sets up what it needs first
# (scripts/setup-device.sh). Ends with a summary line of passed and failed
# checks; exits non-zero when any check failed.
#   bash scripts/test-device.sh [case]...   (lcd fb audio; default: all)
set -uo pipefail
cd "$(dirname "$0")/.."
src=$(pwd)
out=$src/build/device
root=$out/root
passed=0 failed=0
cases=" ${*:-lcd fb audio} "
want() { [[ $cases == *" $1 "* ]]; }

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
if want lcd; then
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
fi

# --- fbprobe on the board's framebuffers ------------------------------------
if want fb; then
started=$SECONDS
armhf=$out/armhf
export LYRANE_ARMHF_SYSROOT=$src/build/armhf/sysroot
cmake -S "$src" -B "$armhf" -DCMAKE_TOOLCHAIN_FILE="$src/cmake/toolchain-armhf.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLYRANE_SANITIZE= -DLYRANE_BUILD_BENCHMARKS=OFF \
    -DLYRANE_BUILD_KERNEL=OFF >"$out/armhf-configure.log" 2>&1 &&
    cmake --build "$armhf" -j2 --target fbprobe >"$out/armhf-build.log" 2>&1 ||
    { cat "$out/armhf-configure.log" "$out/armhf-build.log"; fail "armhf build"; }
arm-linux-gnueabihf-gcc -O2 -Wall -Wextra -Werror -o "$out/fbvar" tests/tools/fbprobe/vfb/fbvar.c
gcc -std=c11 -O2 -Wall -Wextra -Werror -o "$out/fbcheck" tests/device/fbcheck.c
elapsed "armhf build"

# A device tree whose PL111 drives a DPI panel of the given mode, so that
# amba-clcd makes /dev/fb0; the depth follows from the mode's pixel clock.
panel_tree() {  # output, hactive vactive clock hfront hback hsync vfront vback vsync
    local dts=${1%.dtb}.dts
    dtc -q -I dtb -O dts "$root/usr/lib/linux-image-$release/vexpress-v2p-ca9.dtb" >"$dts"
    cat tests/device/pl111_panel.dtsi >>"$dts"
    printf '&{/panel/panel-timing} {\n\thactive = <%s>;\n\tvactive = <%s>;\n\tclock-frequency = <%s>;\n\thfront-porch = <%s>;\n\thback-porch = <%s>;\n\thsync-len = <%s>;\n\tvfront-porch = <%s>;\n\tvback-porch = <%s>;\n\tvsync-len = <%s>;\n};\n' \
        "${@:2}" >>"$dts"
    dtc -q -I dts -O dtb -o "$1" "$dts"
}

# The host's checks of one framebuffer's steps (fb_guest.sh).
fb_checks() {  # board work dir, name, solid value, pixel value
    local dir=$1 name=$2 screen
    screen=$(sed -n "s/^SCREEN $name screen //p" "$dir/results")
    if [ -z "$screen" ]; then
        fail "$name: no screen information"
        return
    fi
    # xres yres xres_virtual yres_virtual bpp, then offset and length per colour.
    read -r xres yres xv yv bpp ro rl _ go gl _ bo bl _ <<<"$screen"
    local s=("$xres" "$yres" "$xv" "$yv" "$bpp" "$ro" "$rl" "$go" "$gl" "$bo" "$bl")
    local what="$name ${xres}x$yres ${bpp} bpp"
    local sh=$dir/shared
    if "$out/fbcheck" solid "$sh/$name-solid.raw" "${s[@]}" "$3"; then
        pass "$what: --solid in frame memory"; else fail "$what: --solid in frame memory"; fi
    if "$out/fbcheck" setpix "$sh/$name-setpix.raw" "${s[@]}" "$3" 17 9 "$4"; then
        pass "$what: --setpix in frame memory"; else fail "$what: --setpix in frame memory"; fi
    if "$out/fbcheck" bars "$sh/$name-bars.raw" "${s[@]}"; then
        pass "$what: --bars in frame memory, every pixel"; else fail "$what: --bars in frame memory"; fi
    local bands
    bands=$(grep -c '^displayRGB -> ' "$sh/$name-bars.out")
    if [ "$bpp" = 8 ]; then
        if [ ! -s "$sh/$name-grab.ppm" ] &&
            grep -qx 'grabbing from palette not implemented yet' "$sh/$name-grab.err"; then
            pass "$what: --grab writes nothing"; else fail "$what: --grab at 8 bpp"; fi
        # The emulated PL111's palette holds five bits per colour.
        if "$out/fbcheck" palette "$dir/$name-shown.ppm" "$sh/$name-bars.raw" "${s[@]}" 5 "$sh/$name-cmap"; then
            pass "$what: colour map and screen dump against the palette"
        else fail "$what: colour map or screen dump against the palette"; fi
    else
        if [ "$bands" = $((rl + gl + bl + 3)) ]; then
            pass "$what: $bands displayRGB lines"; else fail "$what: $bands displayRGB lines"; fi
        if "$out/fbcheck" grab "$sh/$name-grab.ppm" "$sh/$name-bars.raw" "${s[@]}"; then
            pass "$what: --grab against frame memory"; else fail "$what: --grab against frame memory"; fi
        if "$out/fbcheck" shown "$dir/$name-shown.ppm" "$sh/$name-grab.ppm" "${s[@]}"; then
            pass "$what: screen dump against --grab"; else fail "$what: screen dump against --grab"; fi
    fi
}

started=$SECONDS
fb=$out/fb
rm -rf "$fb" && mkdir -p "$fb"
# 800x480 at 33.3 MHz: 16 bpp within the PL111's memory bandwidth.
panel_tree "$fb/fb16.dtb" 800 480 33300000 40 88 128 13 32 3
{
    cat tests/device/fb_guest.sh
    echo 'fb_steps fb16 /dev/fb0 "" 0xa5c3 0x5a3c'
    echo 'fb_steps fb32 /dev/fb1 gpu 0x00a5c35a 0x005a3ca5'
} >"$fb/board16.sh"
bash tests/device/board.sh --root "$root" --work "$fb/board16" --dtb "$fb/fb16.dtb" \
    --sysroot "$LYRANE_ARMHF_SYSROOT" \
    --qemu "-device virtio-gpu-device,id=gpu -global virtio-mmio.force-legacy=false" \
    --module virtio_mmio --module 9p --module 9pnet_virtio --module virtio-gpu \
    --program "$armhf/tools/fbprobe/fbprobe:/bin/fbprobe" --program "$out/fbvar:/bin/fbvar" \
    "$fb/board16.sh" || fail "the framebuffer board did not finish"
tally "$fb/board16/results"
fb_checks "$fb/board16" fb16 0xa5c3 0x5a3c
fb_checks "$fb/board16" fb32 0x00a5c35a 0x005a3ca5
elapsed "framebuffer boot and checks (16 and 32 bpp)"

started=$SECONDS
# 1024x768 at 65 MHz leaves the PL111 bandwidth for 8 bpp only: a palette.
panel_tree "$fb/fb8.dtb" 1024 768 65000000 24 160 136 3 29 6
{
    cat tests/device/fb_guest.sh
    echo 'fb_steps fb8 /dev/fb0 "" "#37" g3'
} >"$fb/board8.sh"
bash tests/device/board.sh --root "$root" --work "$fb/board8" --dtb "$fb/fb8.dtb" \
    --sysroot "$LYRANE_ARMHF_SYSROOT" --module virtio_mmio --module 9p --module 9pnet_virtio \
    --program "$armhf/tools/fbprobe/fbprobe:/bin/fbprobe" --program "$out/fbvar:/bin/fbvar" \
    "$fb/board8.sh" || fail "the 8 bpp framebuffer board did not finish"
tally "$fb/board8/results"
# "#37" is palette index 37, "g3" index 203.
fb_checks "$fb/board8" fb8 37 203
elapsed "framebuffer boot and checks (8 bpp)"
fi

# --- the plug-in in ALSA's LADSPA host ---------------------------------------
if want audio; then
started=$SECONDS
armhf=$out/armhf host=$out/host
export LYRANE_ARMHF_SYSROOT=$src/build/armhf/sysroot
plugin_targets=(lyrane_ladspa_playback_processing device_chain_run)
cmake -S "$src" -B "$armhf" -DCMAKE_TOOLCHAIN_FILE="$src/cmake/toolchain-armhf.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLYRANE_SANITIZE= -DLYRANE_BUILD_BENCHMARKS=OFF \
    -DLYRANE_BUILD_KERNEL=OFF >"$out/armhf-configure.log" 2>&1 &&
    cmake --build "$armhf" -j2 --target "${plugin_targets[@]}" >"$out/armhf-build.log" 2>&1 ||
    { cat "$out/armhf-configure.log" "$out/armhf-build.log"; fail "armhf build"; }
# This machine's build reads its settings from a copy of config/ of its own.
cmake -S "$src" -B "$host" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLYRANE_SANITIZE= \
    -DLYRANE_BUILD_BENCHMARKS=OFF -DLYRANE_BUILD_KERNEL=OFF \
    -DLYRANE_CONFIG_DIR="$host/etc/Lyrane" >"$out/host-configure.log" 2>&1 &&
    cmake --build "$host" -j2 --target "${plugin_targets[@]}" >"$out/host-build.log" 2>&1 ||
    { cat "$out/host-configure.log" "$out/host-build.log"; fail "x86-64 build"; }
gcc -std=c11 -O2 -Wall -Wextra -Werror -o "$out/f32cmp" tests/device/f32cmp.c -lm
elapsed "plug-in builds"

started=$SECONDS
audio=$out/audio
rm -rf "$audio" && mkdir -p "$audio/x86-64"
# 30 s of speech at 48 kHz: a quiet talker, then a loud one, over and over.
espeak-ng -s 150 -w "$audio/voice.wav" "The quick brown fox jumps over the lazy dog. \
Please call me back after the meeting; the number is four five six, seven eight nine."
sox "$audio/voice.wav" -r 48000 -c 1 -b 16 "$audio/quiet.wav" gain -n -32 pad 0 0.5
sox "$audio/voice.wav" -r 48000 -c 1 -b 16 "$audio/loud.wav" gain -n -1 pad 0 0.5
sox "$audio/quiet.wav" "$audio/loud.wav" "$audio/pair.wav"
sox "$audio/pair.wav" "$audio/speech.wav" repeat 6 trim 0 30
samples=$(soxi -s "$audio/speech.wav")
alsa_conf() {  # output, alsa.conf, LADSPA directory, output directory
    sed -e "s|@ALSA_CONF@|$2|" -e "s|@LADSPA_DIR@|$3|" -e "s|@OUT_DIR@|$4|" \
        tests/device/asound.conf.in >"$1"
}
alsa_conf "$audio/asound-board.conf" /usr/share/alsa/alsa.conf /usr/lib/ladspa /shared
alsa_conf "$audio/asound-x86-64.conf" /usr/share/alsa/alsa.conf \
    "$host/ladspa_playback_processing" "$audio/x86-64"
files=(--file "$audio/speech.wav:/guest/speech.wav" --file "$audio/asound-board.conf:/guest/asound.conf")
for f in "$root"/usr/share/alsa/alsa.conf "$root"/usr/share/alsa/pcm/*.conf; do
    files+=(--file "$f:${f#"$root"}")
done
for f in "$armhf"/etc/Lyrane/*.cfg; do files+=(--file "$f:/etc/Lyrane/${f##*/}"); done
bash tests/device/board.sh --root "$root" --work "$audio/board" --dtb \
    "$root/usr/lib/linux-image-$release/vexpress-v2p-ca9.dtb" \
    --sysroot "$LYRANE_ARMHF_SYSROOT" --libdir "$root/usr/lib/arm-linux-gnueabihf" \
    --libdir "$armhf/liblyrane" --module virtio_mmio --module 9p --module 9pnet_virtio \
    "${files[@]}" --program "$root/usr/bin/aplay:/bin/aplay" \
    --program "$armhf/ladspa_playback_processing/liblyrane_ladspa_playback_processing.so:/usr/lib/ladspa/liblyrane_ladspa_playback_processing.so" \
    --program "$armhf/tests/device/device_chain_run:/bin/chain_run" \
    tests/device/audio_guest.sh || fail "the audio board did not finish"
tally "$audio/board/results"
elapsed "audio boot"

started=$SECONDS
# The same on this machine, with Debian's aplay and alsa-lib.
for mode in 0 1; do
    ALSA_CONFIG_PATH=$audio/asound-x86-64.conf aplay -q -D "lyrane_chain:$mode" "$audio/speech.wav" \
        2>"$audio/x86-64/aplay$mode.err" ||
        fail "x86-64 aplay through the plug-in, Mode $mode"
done
for profile in acoustic afil; do
    "$host/tests/device/device_chain_run" "$host/etc/Lyrane/ladspa_$profile.cfg" \
        "$audio/speech.wav" "$audio/x86-64/chain-$profile.f32" 2>"$audio/x86-64/chain-$profile.err" ||
        fail "x86-64 chain_run, $profile profile"
done
same() {  # what, a, b
    local said
    if said=$("$out/f32cmp" "$2" "$3" "$samples" 48000 2>&1); then
        pass "$1: $said"
    else
        fail "$1: $said"
    fi
}
for side in board/shared x86-64; do
    name=${side%/shared}
    same "$name: Mode 0 in ALSA's LADSPA host is the acoustic profile" \
        "$audio/$side/plugin-mode0.f32" "$audio/$side/chain-acoustic.f32"
    same "$name: Mode 1 in ALSA's LADSPA host is the AFIL profile" \
        "$audio/$side/plugin-mode1.f32" "$audio/$side/chain-afil.f32"
done
same "Mode 0 on the board against x86-64" "$audio/board/shared/plugin-mode0.f32" \
    "$audio/x86-64/plugin-mode0.f32"
same "Mode 1 on the board against x86-64" "$audio/board/shared/plugin-mode1.f32" \
    "$audio/x86-64/plugin-mode1.f32"
elapsed "x86-64 run and comparisons"
fi

echo "test-device: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
