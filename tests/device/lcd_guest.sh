# Guest side of the display driver's checks on the board: binds the panel
# nodes of lcd_panels.dtsi to mxc_lcdif one at a time and plays the
# framebuffer driver against each "lcd" with the test module
# mxc_lcdif_check. One PASS or FAIL line per check. Sourced by the boot's
# script, which calls lcd_checks.
drv=/sys/bus/platform/drivers/mxc_lcdif
: >/tmp/klog

# The kernel log since the last call, kept whole in /tmp/klog as well.
klog() {
    dmesg -c | sed 's/^\[[ 0-9.]*\] //' | tee -a /tmp/klog
}

# The test module's verdict: runs it with the given parameters.
check_module() {  # what, module parameters...
    what=$1
    shift
    klog >/dev/null
    insmod /guest/mxc_lcdif_check.ko "$@" && rmmod mxc_lcdif_check
    log=$(klog)
    if echo "$log" | grep -q 'mxc_lcdif_check: done, 0 failed'; then
        echo "PASS $what"
    else
        echo "FAIL $what:"
        echo "$log" | grep 'mxc_lcdif_check: FAIL' | sed 's/^/    /'
    fi
}

# A node that binds: its default format (a code typed in here), its display
# port (or the error binding it gives), the mode choice and the mode list;
# then a clean unbind.
binds() {  # node, format code[, port]
    klog >/dev/null
    if echo "$1" >$drv/bind && [ -e "$drv/$1" ]; then
        check_module "$1: format $2, port ${3:-4}, modes" bound=1 ifmt="$2" port="${3:-4}"
        echo "$1" >$drv/unbind
        check_module "$1: unbind leaves no lcd" absent=1
    else
        echo "FAIL $1 does not bind:"
        klog | sed 's/^/    /'
    fi
}

# A node whose probe fails with exactly these log lines and leaves nothing.
refused() {  # node, log lines...
    node=$1
    shift
    klog >/dev/null
    if echo "$node" >$drv/bind 2>/dev/null; then
        echo "FAIL $node: probe succeeded"
        echo "$node" >$drv/unbind
        return
    fi
    got=$(klog | sed -n "s/^mxc_lcdif $node: //p")
    want=$(printf '%s\n' "$@")
    if [ "$got" = "$want" ]; then
        echo "PASS $node: probe refused with its log lines"
    else
        echo "FAIL $node: probe log lines:"
        echo "$got" | sed 's/^/    got: /'
        echo "$want" | sed 's/^/    want: /'
    fi
    [ -e "$drv/$node" ] && echo "FAIL $node: bound after a failed probe"
    check_module "$node: no lcd registered" absent=1
}

lcd_checks() {
    # Nodes bind only when told to, so that one "lcd" is registered at a time.
    echo 0 >/sys/bus/platform/drivers_autoprobe
    if ! insmod /guest/mxc_dispdrv.ko || ! insmod /guest/mxc_lcdif.ko; then
        echo "FAIL loading the display modules"
        klog
        return
    fi

    binds lcd-rgb24 0x33424752
    binds lcd-bgr24 0x33524742
    binds lcd-gbr24 0x33524247
    binds lcd-rgb565 0x50424752
    binds lcd-rgb666 0x36424752
    binds lcd-yuv444 0x34343459
    binds lcd-lvds666 0x3644564c
    binds lcd-yuyv16 0x56595559
    binds lcd-uyvy16 0x59565955
    binds lcd-yvyu16 0x55595659
    binds lcd-vyuy16 0x59555956
    binds lcd-rgb24-suffix 0x33424752
    binds lcd-ipu0-di0 0x36424752 2
    binds lcd-ipu0-di1 0x36424752 3
    binds lcd-ipu1-di1 0x36424752 5
    # -EINVAL, with its log line.
    binds lcd-ipu2-di0 0x36424752 -22
    grep -q 'mxc_lcdif lcd-ipu2-di0: failed to get valid ipu di crtc ipu_id 2, ipu_di 0$' /tmp/klog &&
        echo "PASS lcd-ipu2-di0: binding logs the missing port" ||
        echo "FAIL lcd-ipu2-di0: no log line for the missing port"
    refused lcd-rgb "err default_ifmt!" "get lcd of property fail"
    refused lcd-no-disp "get lcd of property fail"
    refused lcd-string-ipu "get lcd of property fail"
    refused lcd-no-pins "can't get/select pinctrl"

    # One bound at unload: the driver's remove runs from the module's exit.
    echo lcd-rgb666 >$drv/bind
    if rmmod mxc_lcdif && check_module "unload leaves no lcd" absent=1 && rmmod mxc_dispdrv; then
        echo "PASS modules unloaded"
    else
        echo "FAIL unloading the modules"
    fi
    klog >/dev/null
    if grep -E 'BUG|WARNING|Oops|Unable to handle' /tmp/klog; then
        echo "FAIL kernel errors (slab debugging on)"
    else
        echo "PASS no kernel errors with slab debugging on"
    fi
    echo 1 >/sys/bus/platform/drivers_autoprobe
}
