# Runs the shared steps on the real /dev/fb0 of the vfb module. The guest's
# uptime around them goes to the kernel console, apart from the results.
probe() { fbprobe "$@"; }
screen() {
    shift
    if [ $# = 0 ]; then fbvar get /dev/fb0; else fbvar set /dev/fb0 "$@"; fi
}
frame_sum() { head -c "$1" /dev/fb0 | md5sum | cut -d' ' -f1; }
palette() { fbvar cmap /dev/fb0 "$@"; }
echo "steps start at uptime $(cut -d' ' -f1 /proc/uptime) s" >/dev/ttyS0
. /guest/steps.sh
echo "steps end at uptime $(cut -d' ' -f1 /proc/uptime) s" >/dev/ttyS0
