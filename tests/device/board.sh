#!/usr/bin/env bash
# Boots the emulated Cortex-A9 board (qemu's vexpress-a9) with Debian's armhf
# kernel, a device tree and a busybox initramfs made here, runs one guest
# script and hands back what it wrote.
#
# usage: board.sh --root <armhf package tree> --work <dir> --dtb <file>
#                 [--file <host>:<guest>]... [--module <name>]...
#                 [--sysroot <armhf library tree> [--libdir <dir>]...
#                  --program <host>:<guest>]...
#                 [--qemu "<arguments>"] [--append "<kernel arguments>"]
#                 <guest script>
#
# The guest script's output goes alone on the board's second UART, raw, into
# <work>/results. A line "SCREENDUMP <name> [<device id>]" there makes the
# host save what the board's display (or that device) shows, through qemu's
# monitor, as <work>/<name>.ppm,
# and answer "done" on the same UART. The kernel's console is in
# <work>/console. <work>/shared is the guest's /shared (virtio-9p) when the
# 9p modules are loaded. Exits with the guest script's status, or 1 when the
# board did not finish. Programs get the libraries they name from the
# library tree (or the extra directories) into the guest's /lib.
set -uo pipefail

root= work= dtb= script= qemu_extra= append= sysroot=
files=() modules=() programs=() libdirs=()
while [ $# -gt 0 ]; do
    case $1 in
        --root) root=$2; shift 2 ;;
        --work) work=$2; shift 2 ;;
        --dtb) dtb=$2; shift 2 ;;
        --file) files+=("$2"); shift 2 ;;
        --module) modules+=("$2"); shift 2 ;;
        --program) programs+=("$2"); shift 2 ;;
        --sysroot) sysroot=$2; shift 2 ;;
        --libdir) libdirs+=("$2"); shift 2 ;;
        --qemu) qemu_extra=$2; shift 2 ;;
        --append) append=$2; shift 2 ;;
        *) script=$1; shift ;;
    esac
done
fail() { echo "board: $*" >&2; exit 1; }
[ -n "$root" ] && [ -n "$work" ] && [ -n "$dtb" ] && [ -r "$script" ] || fail "usage error"

release=$(cat "$root/.lyrane-release")
moddir=$root/lib/modules/$release
rm -rf "$work" && mkdir -p "$work/initramfs"/{bin,proc,sys,dev,tmp,guest,shared} "$work/shared"
init=$work/initramfs
cp "$root/bin/busybox" "$init/bin/busybox"
cp "$script" "$init/guest/run.sh"
for entry in "${files[@]}"; do
    mkdir -p "$init/$(dirname "${entry#*:}")"
    cp -L "${entry%%:*}" "$init/${entry#*:}" || fail "cannot copy ${entry%%:*}"
done
# Dependencies first; uncompressed, since busybox's insmod has no
# decompressor.
: >"$init/guest/modules"
declare -A staged=()
stage() {  # module name
    local name=${1//-/_} line dep
    [ -n "${staged[$name]:-}" ] && return 0
    staged[$name]=1
    line=$(grep -m1 -E "/${name//_/[-_]}\.ko(\.xz)?:" "$moddir/modules.dep") ||
        fail "module $name not in $moddir/modules.dep"
    for dep in ${line#*:}; do
        dep=${dep##*/}
        stage "${dep%%.ko*}"
    done
    case ${line%%:*} in
        *.xz) xz -dc "$moddir/${line%%:*}" >"$init/guest/$name.ko" ;;
        *) cp "$moddir/${line%%:*}" "$init/guest/$name.ko" ;;
    esac
    echo "$name" >>"$init/guest/modules"
}
for name in "${modules[@]}"; do stage "$name"; done
# Programs with the loader and libraries they name, from the armhf tree.
declare -A copied=()
copy_libraries() {  # armhf ELF file
    local lib found dir
    for lib in $(arm-linux-gnueabihf-readelf -d "$1" | sed -n 's/.*Shared library: \[\(.*\)\]/\1/p'); do
        [ -n "${copied[$lib]:-}" ] && continue
        copied[$lib]=1
        found=
        for dir in lib/arm-linux-gnueabihf usr/lib/arm-linux-gnueabihf lib usr/lib "${libdirs[@]}"; do
            if [ -e "$sysroot/$dir/$lib" ]; then found=$sysroot/$dir/$lib; break; fi
            if [ -e "$dir/$lib" ]; then found=$dir/$lib; break; fi
        done
        [ -n "$found" ] || fail "library $lib of $1 not found"
        mkdir -p "$init/lib"
        cp -L "$found" "$init/lib/$lib"
        copy_libraries "$found"
    done
}
for entry in "${programs[@]}"; do
    mkdir -p "$init/$(dirname "${entry#*:}")"
    cp -L "${entry%%:*}" "$init/${entry#*:}" || fail "cannot copy ${entry%%:*}"
    copy_libraries "${entry%%:*}"
done
if [ ${#programs[@]} -gt 0 ]; then
    cp -L "$sysroot/lib/ld-linux-armhf.so.3" "$init/lib/"
fi
cat >"$init/init" <<'EOF'
#!/bin/busybox sh
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
stty -F /dev/ttyAMA1 raw -echo
while read -r name; do insmod "/guest/$name.ko" || echo "FAIL insmod $name" >/dev/ttyAMA1; done </guest/modules
if grep -qw 9p /proc/filesystems; then
    mount -t 9p -o trans=virtio,version=9p2000.L shared /shared || echo "FAIL mount /shared" >/dev/ttyAMA1
fi
cd /guest && sh /guest/run.sh </dev/ttyAMA1 >/dev/ttyAMA1 2>&1
echo "EXIT $?" >/dev/ttyAMA1
sync
poweroff -f
EOF
chmod +x "$init/init"
(cd "$init" && find . | cpio -o -H newc --quiet) >"$work/initramfs.cpio" || fail "cpio"

mkfifo "$work/res.in" "$work/res.out" "$work/mon.in" "$work/mon.out"
# shellcheck disable=SC2086
timeout 300 qemu-system-arm -M vexpress-a9 -m 256 -nographic -no-reboot \
    -kernel "$root/boot/vmlinuz-$release" -dtb "$dtb" -initrd "$work/initramfs.cpio" \
    -append "console=ttyAMA0 rdinit=/init $append" \
    -audiodev none,id=snd0 -global pl041.audiodev=snd0 \
    -serial "file:$work/console" -serial "pipe:$work/res" -monitor "pipe:$work/mon" \
    -fsdev "local,id=shared,path=$work/shared,security_model=none" \
    -device virtio-9p-device,fsdev=shared,mount_tag=shared \
    $qemu_extra </dev/null >"$work/qemu.log" 2>&1 &
qemu_pid=$!

cat "$work/mon.out" >"$work/monitor" &
mon_reader=$!
prompts() { grep -o '(qemu)' "$work/monitor" | wc -l; }
: >"$work/results"
# Opened for writing too, so that opening never waits for a board that did
# not start; the board's end is seen by its process instead.
exec 5<>"$work/res.out"
partial=
while :; do
    if ! IFS= read -r -t 1 chunk <&5; then
        # A timed-out read keeps what it got of the line.
        partial+=$chunk
        kill -0 "$qemu_pid" 2>/dev/null || break
        continue
    fi
    line=$partial${chunk%$'\r'}
    partial=
    echo "$line" >>"$work/results"
    case $line in
        "SCREENDUMP "*)
            read -r name device <<<"${line#SCREENDUMP }"
            before=$(prompts)
            echo "screendump $work/$name.ppm $device" >"$work/mon.in"
            for _ in $(seq 100); do [ "$(prompts)" -gt "$before" ] && break; sleep 0.1; done
            echo done >"$work/res.in" ;;
        "EXIT "*) break ;;
    esac
done
exec 5<&-
wait "$qemu_pid"
kill "$mon_reader" 2>/dev/null
status=$(sed -n 's/^EXIT //p' "$work/results" | tail -n1)
[ -n "$status" ] || { tail -n 30 "$work/console"; fail "the board did not finish (see $work/console)"; }
exit "$status"
