# Guest side of the loaded-driver check: loads the registry stand-in, the
# driver and the test-only module, unloads them again and reads the checks'
# verdicts from the kernel log, which it prints in any case.
status=0
bound=/sys/bus/platform/drivers/mxc_lcdif/mxc_lcdif

run() {
    "$@" || { echo "FAIL $*"; status=1; }
}

if insmod /guest/mxc_dispdrv.ko && insmod /guest/mxc_lcdif.ko &&
    insmod /guest/mxc_lcdif_check.ko; then
    if [ -e "$bound" ]; then echo "PASS sysfs shows the device bound"; else
        echo "FAIL not bound"; status=1; fi
    run rmmod mxc_lcdif_check
    if [ -e "$bound" ]; then echo "FAIL still bound after removal"; status=1; fi
    run rmmod mxc_lcdif
    run rmmod mxc_dispdrv
else
    echo "FAIL loading the modules"
    status=1
fi

dmesg | grep -E 'mxc_lcdif|mxc_dispdrv|BUG|WARNING|Oops|RIP' | sed 's/^\[[ 0-9.]*\] //'
dmesg | grep -q 'BUG\|WARNING\|Oops' && status=1
dmesg | grep -q 'mxc_lcdif_check: FAIL' && status=1
dmesg | grep -q 'mxc_lcdif_check: done, 0 failed' || status=1
exit $status
