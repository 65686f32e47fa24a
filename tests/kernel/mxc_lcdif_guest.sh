# Guest side of the loaded-driver check: loads the registry stand-in, the
# driver and the test-only module, unloads them again and reads the checks'
# verdicts from the kernel log.
status=0
bound=/sys/bus/platform/drivers/mxc_lcdif/mxc_lcdif

insmod /guest/mxc_dispdrv.ko || exit 1
insmod /guest/mxc_lcdif.ko || exit 1
insmod /guest/mxc_lcdif_check.ko || exit 1
if [ -e "$bound" ]; then echo "PASS sysfs shows the device bound"; else echo "FAIL not bound"; status=1; fi
rmmod mxc_lcdif_check || status=1
if [ -e "$bound" ]; then echo "FAIL still bound after removal"; status=1; fi
rmmod mxc_lcdif || status=1
rmmod mxc_dispdrv || status=1

dmesg | grep -E 'mxc_lcdif|mxc_dispdrv|BUG|WARNING|Oops' | sed 's/^\[[ 0-9.]*\] //'
dmesg | grep -q 'BUG\|WARNING\|Oops' && status=1
dmesg | grep -q 'mxc_lcdif_check: FAIL' && status=1
dmesg | grep -q 'mxc_lcdif_check: done, 0 failed' || status=1
exit $status
