#!/usr/bin/env bash
# Boots Debian's packaged kernel (linux-image-amd64) under qemu's software
# emulation with a busybox initramfs built here, loads kernel modules, runs a
# guest shell script and hands back what it printed and its exit status.
# The interface is described in README.md beside this script.
set -uo pipefail

usage() {
    cat >&2 <<'EOF'
usage: run_guest.sh --work <dir> [--module "<name> [param=value ...]"]...
                    [--file <host>:<guest>]... [--program <host>[:<guest>]]...
                    [--timeout <seconds>] [--memory <MiB>] [--append "<args>"]
                    <guest script>
EOF
    exit 2
}

missing() {
    echo "SKIPPED: $* missing" >&2
    if [ "${LYRANE_SKIP_IS_FAILURE:-0}" = 1 ]; then exit 1; fi
    exit 77
}

fail() {
    echo "run_guest: $*" >&2
    exit 1
}

work= script= timeout_s=60 memory_mib=192 append=
modules=() files=() programs=()
while [ $# -gt 0 ]; do
    case $1 in
        --work) work=$2; shift 2 ;;
        --module) modules+=("$2"); shift 2 ;;
        --file) files+=("$2"); shift 2 ;;
        --program) programs+=("$2"); shift 2 ;;
        --timeout) timeout_s=$2; shift 2 ;;
        --memory) memory_mib=$2; shift 2 ;;
        --append) append=$2; shift 2 ;;
        --*) usage ;;
        *) [ -z "$script" ] || usage; script=$1; shift ;;
    esac
done
[ -n "$work" ] && [ -n "$script" ] || usage
[ -r "$script" ] || fail "cannot read the guest script $script"

# --- prerequisites --------------------------------------------------------
# The release comes from the installed image package: the host may run a
# kernel of its own (a CI container's) whose modules are not installed here.
release=$(dpkg-query -W -f='${Depends}' linux-image-amd64 2>/dev/null |
          sed -n 's/^linux-image-\([^ ,]*\).*/\1/p')
[ -n "$release" ] || missing "the kernel image package linux-image-amd64"
kernel=/boot/vmlinuz-$release
moddir=/lib/modules/$release
[ -r "$kernel" ] || missing "the kernel image $kernel (readable)"
[ -r "$moddir/modules.dep" ] || missing "the module list $moddir/modules.dep"
qemu=$(command -v qemu-system-x86_64) || missing "qemu-system-x86_64 (package qemu-system-x86)"
busybox=$(dpkg-query -L busybox-static 2>/dev/null | grep -m1 '/busybox$')
[ -n "$busybox" ] && [ -x "$busybox" ] || missing "the static busybox (package busybox-static)"
command -v cpio >/dev/null || missing "cpio"
command -v timeout >/dev/null || missing "timeout (package coreutils)"

# --- initramfs tree -------------------------------------------------------
root=$work/root
rm -rf "$root" && mkdir -p "$root"/{bin,sbin,usr/bin,usr/sbin,proc,sys,dev,tmp,guest/modules} ||
    fail "cannot create $root"
cp "$busybox" "$root/bin/busybox" || fail "cannot copy busybox"

# copy_into <host path> <guest path>
copy_into() {
    mkdir -p "$root/$(dirname "$2")" && cp -L "$1" "$root/$2" || fail "cannot copy $1 to $2"
}

module_name() {  # path of a module -> its name as modprobe writes it
    local base=${1##*/}
    base=${base%%.ko*}
    echo "${base//-/_}"
}

# The line of modules.dep (or modules.builtin) naming this module, where
# '-' and '_' in names are the same.
module_line() {
    local pattern=${1//[-_]/[-_]}
    grep -m1 -E "(^|/)${pattern}\.ko[^/:]*(:|$)" "$2"
}

declare -A queued=() path_of=()
load_order=()
queue_module() {  # dependencies first; built-in ones need no loading
    local name=${1//-/_} line dep
    [ -n "${queued[$name]:-}" ] && return 0
    queued[$name]=1
    [ -r "$moddir/modules.builtin" ] && module_line "$name" "$moddir/modules.builtin" >/dev/null &&
        return 0
    line=$(module_line "$name" "$moddir/modules.dep") ||
        fail "module $name is not in $moddir/modules.dep"
    for dep in ${line#*:}; do queue_module "$(module_name "$dep")"; done
    load_order+=("$name")
    path_of[$name]=${line%%:*}
}

# Uncompressed into the initramfs, so the guest's busybox insmod needs no
# decompressor of its own.
stage_module() {
    local name=$1 src=$moddir/${path_of[$1]} dst=$root/guest/modules/$1.ko
    case $src in
        *.ko) cp "$src" "$dst" ;;
        *.ko.xz) command -v xz >/dev/null || missing "xz (for $src)"; xz -dc "$src" >"$dst" ;;
        *.ko.zst) command -v zstd >/dev/null || missing "zstd (for $src)"; zstd -qdc "$src" >"$dst" ;;
        *.ko.gz) gzip -dc "$src" >"$dst" ;;
        *) fail "unknown module file $src" ;;
    esac || fail "cannot stage $src"
}

declare -A params_of=()
for entry in "${modules[@]}"; do
    read -r name params <<<"$entry"
    name=${name//-/_}
    params_of[$name]=$params
    queue_module "$name"
done
: >"$root/guest/modules.list"
for name in "${load_order[@]}"; do
    stage_module "$name"
    echo "$name ${params_of[$name]:-}" >>"$root/guest/modules.list"
done

for entry in "${files[@]}"; do
    copy_into "${entry%%:*}" "${entry#*:}"
done

for entry in "${programs[@]}"; do
    host=${entry%%:*}
    guest=${entry#*:}
    [ "$guest" = "$entry" ] && guest=/bin/${host##*/}
    copy_into "$host" "$guest"
    # The loader and every library at the path the program will look for.
    for lib in $(ldd "$host" 2>/dev/null | grep -o '/[^ ]*'); do
        [ -e "$root/$lib" ] || copy_into "$lib" "$lib"
    done
done

cp "$script" "$root/guest/script.sh" || fail "cannot copy the guest script"
cat >"$root/init" <<'EOF'
#!/bin/busybox sh
/bin/busybox --install -s
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
# ttyS0 carries the kernel's console; results go alone on ttyS1, raw so that
# the host reads exactly the bytes written.
stty -F /dev/ttyS1 raw -echo
exec >/dev/ttyS1 2>&1
status=0
while read -r name params; do
    # shellcheck disable=SC2086
    insmod "/guest/modules/$name.ko" $params || { echo "insmod $name failed"; status=1; break; }
done </guest/modules.list
if [ $status = 0 ]; then
    cd /tmp && sh /guest/script.sh
    status=$?
fi
echo "lyrane-guest-exit $status"
sync
reboot -f
EOF
chmod 755 "$root/init" "$root/guest/script.sh"

initramfs=$work/initramfs.cpio
(cd "$root" && find . | LC_ALL=C sort | cpio -o -H newc -R 0:0 --quiet) >"$initramfs" ||
    fail "cannot build $initramfs"

# --- boot -----------------------------------------------------------------
console=$work/console.log
results=$work/results.log
rm -f "$console" "$results"
timeout -k 5 "$timeout_s" "$qemu" -accel tcg -nodefaults -no-user-config -no-reboot \
    -display none -vga none -nic none -m "$memory_mib" -smp 1 \
    -kernel "$kernel" -initrd "$initramfs" \
    -append "console=ttyS0 quiet panic=-1 rdinit=/init $append" \
    -serial "file:$console" -serial "file:$results" </dev/null
qemu_status=$?

show_console() {
    echo "--- last lines of the guest's console ($console) ---" >&2
    tail -n 30 "$console" >&2 2>/dev/null
}

if [ $qemu_status = 124 ] || [ $qemu_status = 137 ]; then
    [ -f "$results" ] && cat "$results"
    show_console
    fail "guest timed out after $timeout_s s"
fi
[ $qemu_status = 0 ] || { show_console; fail "qemu ended with status $qemu_status"; }

closing=$(grep -a '^lyrane-guest-exit [0-9]*$' "$results" | tail -n 1)
grep -av '^lyrane-guest-exit [0-9]*$' "$results"
[ -n "$closing" ] || { show_console; fail "guest ended without its closing line"; }
exit "${closing#lyrane-guest-exit }"
