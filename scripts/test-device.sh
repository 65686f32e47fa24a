#!/usr/bin/env bash
# The device as a system: builds the device's deliverables for armhf, boots
# them on an emulated Cortex-A9 board (qemu's vexpress-a9) with Debian's
# armhf kernel and device trees made here, and checks what comes back
# through observers that are not our code: the board's second UART,
# virtio-9p, the emulator's own screen dump, and the same programs built for
# this machine. Sets up what it needs first (scripts/setup-device.sh). Ends
# with a summary line of passed and failed checks; exits non-zero when any
# check failed. Two boots:
#   A: the display driver from device-tree nodes; fbprobe at 8 bpp (PL111);
#   B: fbprobe at 16 bpp (PL111) and 32 bpp (virtio-gpu); the plug-in in
#      ALSA's LADSPA host; LyraneBenchmark with the stand-in core.
#   bash scripts/test-device.sh [case]...   (lcd fb audio bench; default: all)
set -uo pipefail
cd "$(dirname "$0")/.."
src=$(pwd)
out=$src/build/device
root=$out/root
armhf=$out/armhf
host=$out/host
passed=0 failed=0
cases=" ${*:-lcd fb audio bench} "
want() { [[ $cases == *" $1 "* ]]; }

elapsed() { echo "test-device: $1 took $((SECONDS - started)) s"; }
pass() { passed=$((passed + 1)); echo "PASS $*"; }
fail() { failed=$((failed + 1)); echo "FAIL $*"; }
check() {  # what, command...: passes when the command does
    local what=$1
    shift
    if "$@"; then pass "$what"; else fail "$what"; fi
}
# Counts a board's result lines; other lines are shown as they are.
tally() {  # results file
    local line
    while IFS= read -r line; do
        case $line in
            "PASS "*) pass "${line#PASS }" ;;
            "FAIL "*) fail "${line#FAIL }" ;;
            "EXIT "* | "SCREENDUMP "* | "SCREEN "* | "STEPS "*) ;;
            *) echo "  $line" ;;
        esac
    done <"$1"
}
finish() {
    echo "test-device: $passed passed, $failed failed"
    [ "$failed" -eq 0 ]
    exit
}

started=$SECONDS
bash scripts/setup-device.sh "$out" || { fail "set-up"; finish; }
release=$(cat "$root/.lyrane-release")
headers=$root/usr/src/linux-headers-$release
board_dtb=$root/usr/lib/linux-image-$release/vexpress-v2p-ca9.dtb
export LYRANE_ARMHF_SYSROOT=$src/build/armhf/sysroot
elapsed "set-up"

# --- builds -------------------------------------------------------------------
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
if want lcd; then
    rm -rf "$lcd" && mkdir -p "$lcd"
    cp -R kernel/standin_mxc_dispdrv kernel/mxc_lcdif tests/kernel/guest_check "$lcd/"
    symbols=KBUILD_EXTRA_SYMBOLS=$lcd/standin_mxc_dispdrv/Module.symvers
    if kbuild "$lcd/standin_mxc_dispdrv" && kbuild "$lcd/mxc_lcdif" "$symbols" &&
        kbuild "$lcd/guest_check" "$symbols"; then
        pass "Kbuild W=1 cross-build for $release, no warnings"
    else
        fail "Kbuild W=1 cross-build for $release"
        cases=${cases/ lcd / }
    fi
fi

targets=()
want fb && targets+=(fbprobe)
want audio && targets+=(lyrane_ladspa_playback_processing device_chain_run)
want bench && targets+=(LyraneBenchmark)
if [ ${#targets[@]} -gt 0 ]; then
    # As the device has them: its configuration directory is /etc/Lyrane.
    cmake -S "$src" -B "$armhf" -DCMAKE_TOOLCHAIN_FILE="$src/cmake/toolchain-armhf.cmake" \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLYRANE_SANITIZE= -DLYRANE_BUILD_BENCHMARKS=OFF \
        -DLYRANE_BUILD_KERNEL=OFF -DLYRANE_CONFIG_DIR=/etc/Lyrane >"$out/armhf-configure.log" 2>&1 &&
        cmake --build "$armhf" -j2 --target "${targets[@]}" >"$out/armhf-build.log" 2>&1 ||
        { cat "$out/armhf-configure.log" "$out/armhf-build.log"; fail "armhf build"; finish; }
fi
host_targets=("${targets[@]/fbprobe/}")
if [ -n "${host_targets[*]// /}" ]; then
    # This machine's build reads its settings from a copy of config/ of its own.
    cmake -S "$src" -B "$host" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLYRANE_SANITIZE= \
        -DLYRANE_BUILD_BENCHMARKS=OFF -DLYRANE_BUILD_KERNEL=OFF \
        -DLYRANE_CONFIG_DIR="$host/etc/Lyrane" >"$out/host-configure.log" 2>&1 &&
        cmake --build "$host" -j2 --target ${host_targets[*]} >"$out/host-build.log" 2>&1 ||
        { cat "$out/host-configure.log" "$out/host-build.log"; fail "x86-64 build"; finish; }
fi
arm-linux-gnueabihf-gcc -O2 -Wall -Wextra -Werror -o "$out/fbvar" tests/tools/fbprobe/vfb/fbvar.c
gcc -std=c11 -O2 -Wall -Wextra -Werror -o "$out/fbcheck" tests/device/fbcheck.c
gcc -std=c11 -O2 -Wall -Wextra -Werror -o "$out/f32cmp" tests/device/f32cmp.c -lm
elapsed "builds"

# --- inputs -------------------------------------------------------------------
started=$SECONDS
inputs=$out/inputs
rm -rf "$inputs" && mkdir -p "$inputs"
# 30 s of speech at 48 kHz: a quiet talker, then a loud one, over and over.
espeak-ng -s 150 -w "$inputs/voice.wav" "The quick brown fox jumps over the lazy dog. \
Please call me back after the meeting; the number is four five six, seven eight nine."
sox "$inputs/voice.wav" -r 48000 -c 1 -b 16 "$inputs/quiet.wav" gain -n -32 pad 0 0.5
sox "$inputs/voice.wav" -r 48000 -c 1 -b 16 "$inputs/loud.wav" gain -n -1 pad 0 0.5
sox "$inputs/quiet.wav" "$inputs/loud.wav" "$inputs/pair.wav"
sox "$inputs/pair.wav" "$inputs/speech.wav" repeat 6 trim 0 30
samples=$(soxi -s "$inputs/speech.wav")
# The demo's recording (scripts/run_benchmark.sh): microphone (echo and
# noise) and far end at 16 kHz, with event annotations.
b=$inputs/bench
mkdir -p "$b"
sox "$inputs/pair.wav" -r 16000 -c 1 -b 16 "$b/speech.wav"
sox "$b/speech.wav" "$b/farend.wav" pad 0 0.030
sox "$b/speech.wav" "$b/echo.wav" vol 0.3 pad 0.030 0
sox "$b/farend.wav" "$b/noise.wav" synth whitenoise vol 0.01
sox -m -v 1 "$b/echo.wav" -v 1 "$b/noise.wav" "$b/mic.wav"
sox -M "$b/mic.wav" "$b/farend.wav" "$b/plain_2ch.wav"
sndfile-metadata-set --str-comment "f 0 v 12 a 1 f 62 v 10 f 125 v 14" "$b/plain_2ch.wav" \
    "$inputs/speech_2ch.wav" >/dev/null
elapsed "inputs"

# A device tree with a DPI panel of the given mode on the PL111, so that
# amba-clcd makes /dev/fb0 (the depth follows from the pixel clock), and
# further nodes from the named files.
panel_tree() {  # output, "hactive vactive clock hfront hback hsync vfront vback vsync", dtsi...
    local dts=${1%.dtb}.dts
    read -r ha va clk hf hb hs vf vb vs <<<"$2"
    dtc -q -I dtb -O dts "$board_dtb" >"$dts"
    cat tests/device/pl111_panel.dtsi "${@:3}" >>"$dts"
    cat >>"$dts" <<EOF
&{/panel/panel-timing} {
	hactive = <$ha>;
	vactive = <$va>;
	clock-frequency = <$clk>;
	hfront-porch = <$hf>;
	hback-porch = <$hb>;
	hsync-len = <$hs>;
	vfront-porch = <$vf>;
	vback-porch = <$vb>;
	vsync-len = <$vs>;
};
EOF
    dtc -q -I dts -O dtb -o "$1" "$dts"
}
tools=(--sysroot "$LYRANE_ARMHF_SYSROOT" --program "$out/fbvar:/bin/fbvar"
    --module virtio_mmio --module 9p --module 9pnet_virtio)
want fb && tools+=(--program "$armhf/tools/fbprobe/fbprobe:/bin/fbprobe")

# --- boot A: display driver, 8 bpp --------------------------------------------
started=$SECONDS
bootA=$out/bootA
if want lcd || want fb; then
    mkdir -p "$out/trees"
    # 1024x768 at 65 MHz leaves the PL111 bandwidth for 8 bpp only: a palette.
    panel_tree "$out/trees/A.dtb" "1024 768 65000000 24 160 136 3 29 6" tests/device/lcd_panels.dtsi
    args=()
    {
        if want lcd; then
            cat tests/device/lcd_guest.sh
            echo lcd_checks
            args+=(--file "$lcd/standin_mxc_dispdrv/mxc_dispdrv.ko:/guest/mxc_dispdrv.ko"
                --file "$lcd/mxc_lcdif/mxc_lcdif.ko:/guest/mxc_lcdif.ko"
                --file "$lcd/guest_check/mxc_lcdif_check.ko:/guest/mxc_lcdif_check.ko")
        fi
        if want fb; then
            cat tests/device/fb_guest.sh
            echo 'fb_steps fb8 /dev/fb0 "" "#37" g3'
        fi
    } >"$out/trees/A.sh"
    # Slab debugging turns a use of freed memory into a "BUG" line.
    bash tests/device/board.sh --root "$root" --work "$bootA" --dtb "$out/trees/A.dtb" \
        --append "slub_debug=FZP" "${tools[@]}" "${args[@]}" "$out/trees/A.sh" ||
        fail "boot A did not finish"
    tally "$bootA/results"
    elapsed "boot A"
fi

# --- boot B: 16 and 32 bpp, plug-in, benchmark --------------------------------
started=$SECONDS
bootB=$out/bootB
if want fb || want audio || want bench; then
    # 800x480 at 33.3 MHz: 16 bpp within the PL111's memory bandwidth.
    panel_tree "$out/trees/B.dtb" "800 480 33300000 40 88 128 13 32 3"
    sed -e "s|@ALSA_CONF@|/usr/share/alsa/alsa.conf|" -e "s|@LADSPA_DIR@|/usr/lib/ladspa|" \
        -e "s|@OUT_DIR@|/shared|" tests/device/asound.conf.in >"$out/trees/asound.conf"
    args=() qemu=
    {
        if want fb; then
            cat tests/device/fb_guest.sh
            echo 'fb_steps fb16 /dev/fb0 "" 0xa5c3 0x5a3c'
            echo 'fb_steps fb32 /dev/fb1 gpu 0x00a5c35a 0x005a3ca5'
            args+=(--module virtio-gpu)
            qemu="-device virtio-gpu-device,id=gpu -global virtio-mmio.force-legacy=false"
        fi
        if want audio; then
            cat tests/device/audio_guest.sh
            echo audio_runs
            args+=(--file "$inputs/speech.wav:/guest/speech.wav"
                --file "$out/trees/asound.conf:/guest/asound.conf"
                --libdir "$root/usr/lib/arm-linux-gnueabihf" --program "$root/usr/bin/aplay:/bin/aplay"
                --program "$armhf/ladspa_playback_processing/liblyrane_ladspa_playback_processing.so:/usr/lib/ladspa/liblyrane_ladspa_playback_processing.so"
                --program "$armhf/tests/device/device_chain_run:/bin/chain_run")
            for f in "$root"/usr/share/alsa/alsa.conf "$root"/usr/share/alsa/pcm/*.conf; do
                args+=(--file "$f:${f#"$root"}")
            done
        fi
        if want bench; then
            cat tests/device/bench_guest.sh
            echo bench_run
            args+=(--file "$inputs/speech_2ch.wav:/guest/speech_2ch.wav"
                --libdir "$armhf/standin_liblyrane"
                --program "$armhf/liblyrane/LyraneBenchmark:/bin/LyraneBenchmark")
        fi
    } >"$out/trees/B.sh"
    for f in "$armhf"/etc/Lyrane/*.cfg; do args+=(--file "$f:/etc/Lyrane/${f##*/}"); done
    bash tests/device/board.sh --root "$root" --work "$bootB" --dtb "$out/trees/B.dtb" \
        --libdir "$armhf/liblyrane" --qemu "$qemu" "${tools[@]}" "${args[@]}" "$out/trees/B.sh" ||
        fail "boot B did not finish"
    tally "$bootB/results"
    elapsed "boot B"
fi

# --- framebuffer checks -------------------------------------------------------
# The host's checks of one framebuffer's steps (fb_guest.sh).
fb_checks() {  # board work dir, name, solid value, pixel value
    local dir=$1 name=$2 screen
    screen=$(sed -n "s/^SCREEN $name screen //p" "$dir/results")
    if [ -z "$screen" ]; then
        fail "$name: no screen information"
        return
    fi
    # xres yres xres_virtual yres_virtual bpp, then offset, length and
    # msb_right per colour.
    read -r xres yres xv yv bpp ro rl _ go gl _ bo bl _ <<<"$screen"
    local s=("$xres" "$yres" "$xv" "$yv" "$bpp" "$ro" "$rl" "$go" "$gl" "$bo" "$bl")
    local what="$name ${xres}x$yres $bpp bpp" sh=$dir/shared fbcheck=$out/fbcheck
    check "$what: --solid in frame memory" "$fbcheck" solid "$sh/$name-solid.raw" "${s[@]}" "$3"
    check "$what: --setpix in frame memory" \
        "$fbcheck" setpix "$sh/$name-setpix.raw" "${s[@]}" "$3" 17 9 "$4"
    check "$what: --bars in frame memory, every pixel" "$fbcheck" bars "$sh/$name-bars.raw" "${s[@]}"
    if [ "$bpp" = 8 ]; then
        check "$what: --grab writes nothing" test ! -s "$sh/$name-grab.ppm"
        check "$what: --grab says why" \
            grep -qx 'grabbing from palette not implemented yet' "$sh/$name-grab.err"
        # The emulated PL111's palette holds five bits per colour.
        check "$what: colour map and screen dump against the palette" "$fbcheck" palette \
            "$dir/$name-shown.ppm" "$sh/$name-bars.raw" "${s[@]}" 5 "$sh/$name-cmap"
    else
        local bands
        bands=$(grep -c '^displayRGB -> ' "$sh/$name-bars.out")
        check "$what: $bands displayRGB lines" test "$bands" = $((rl + gl + bl + 3))
        check "$what: --grab against frame memory" \
            "$fbcheck" grab "$sh/$name-grab.ppm" "$sh/$name-bars.raw" "${s[@]}"
        check "$what: screen dump against --grab" \
            "$fbcheck" shown "$dir/$name-shown.ppm" "$sh/$name-grab.ppm" "${s[@]}"
    fi
}
started=$SECONDS
if want fb; then
    # "#37" is palette index 37, "g3" index 203.
    fb_checks "$bootA" fb8 37 203
    fb_checks "$bootB" fb16 0xa5c3 0x5a3c
    fb_checks "$bootB" fb32 0x00a5c35a 0x005a3ca5
fi

# --- plug-in and benchmark: the board against x86-64 --------------------------
x86=$out/x86-64
rm -rf "$x86" && mkdir -p "$x86"
same() {  # what, a.f32, b.f32
    local said
    if said=$("$out/f32cmp" "$2" "$3" "$samples" "${rate:-48000}" 2>&1); then
        pass "$1: $said"
    else
        fail "$1: $said"
    fi
}
if want audio; then
    # The same on this machine, with Debian's aplay and alsa-lib.
    sed -e "s|@ALSA_CONF@|/usr/share/alsa/alsa.conf|" \
        -e "s|@LADSPA_DIR@|$host/ladspa_playback_processing|" -e "s|@OUT_DIR@|$x86|" \
        tests/device/asound.conf.in >"$x86/asound.conf"
    for mode in 0 1; do
        ALSA_CONFIG_PATH=$x86/asound.conf aplay -q -D "lyrane_chain:$mode" "$inputs/speech.wav" \
            2>"$x86/aplay$mode.err" || fail "x86-64 aplay through the plug-in, Mode $mode"
    done
    for profile in acoustic afil; do
        "$host/tests/device/device_chain_run" "$host/etc/Lyrane/ladspa_$profile.cfg" \
            "$inputs/speech.wav" "$x86/chain-$profile.f32" 2>"$x86/chain-$profile.err" ||
            fail "x86-64 chain_run, $profile profile"
    done
    for side in "$bootB/shared" "$x86"; do
        [ "$side" = "$x86" ] && name=x86-64 || name=board
        same "$name: Mode 0 in ALSA's LADSPA host is the acoustic profile" \
            "$side/plugin-mode0.f32" "$side/chain-acoustic.f32"
        same "$name: Mode 1 in ALSA's LADSPA host is the AFIL profile" \
            "$side/plugin-mode1.f32" "$side/chain-afil.f32"
    done
    same "Mode 0 on the board against x86-64" "$bootB/shared/plugin-mode0.f32" "$x86/plugin-mode0.f32"
    same "Mode 1 on the board against x86-64" "$bootB/shared/plugin-mode1.f32" "$x86/plugin-mode1.f32"
fi
if want bench; then
    LD_LIBRARY_PATH=$host/standin_liblyrane "$host/liblyrane/LyraneBenchmark" \
        --input="$inputs/speech_2ch.wav" --output_dir="$x86" --client_volume_level=10 \
        >"$x86/bench.out" 2>&1 || fail "LyraneBenchmark on x86-64"
    board_out=$bootB/shared/speech_2ch_out.wav
    if [ -f "$board_out" ] && [ -f "$x86/speech_2ch_out.wav" ] && [ "$(soxi -s "$board_out")" -gt 0 ]; then
        if cmp -s "$board_out" "$x86/speech_2ch_out.wav"; then
            pass "LyraneBenchmark: the board's output file is the same as on x86-64"
        else
            sox "$board_out" -t f32 "$x86/board-bench.f32"
            sox "$x86/speech_2ch_out.wav" -t f32 "$x86/x86-bench.f32"
            samples=$(soxi -s "$board_out") rate=16000 same "LyraneBenchmark output, board against x86-64" \
                "$x86/board-bench.f32" "$x86/x86-bench.f32"
        fi
    else
        fail "LyraneBenchmark: no output on the board or on x86-64"
    fi
fi
elapsed "checks"
finish
