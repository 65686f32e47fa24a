# The actions run on vfb in the guest and on the fake framebuffer on the
# host; both print the same lines when they agree. Sourced by a POSIX shell
# after it defines:
#   probe <fbprobe arguments>        runs fbprobe on /dev/fb0
#   screen <label> [<bpp> <xres_virtual> <yres_virtual>]
#                                    prints the screen line after the change
#   frame_sum <bytes>                md5 of the first <bytes> of frame memory
#   palette <start> <count>          the colour map lines of those entries

frame_bytes=0

md5() {
    md5sum | cut -d' ' -f1
}

depth() {  # label [bpp xres_virtual yres_virtual]
    echo "depth $*"
    line=$(screen "$@") || { echo "screen change failed: $line"; exit 1; }
    echo "$line"
    # shellcheck disable=SC2086
    set -- $line
    frame_bytes=$(($4 * $5 * $6 / 8))
    echo "frame $(frame_sum $frame_bytes)"
}

# Runs fbprobe and prints its status, the checksums of its output streams
# (pointers left out), of the frame memory and of the grab file.
step() {
    rm -f grab.ppm
    probe "$@" >out.txt 2>err.txt
    status=$?
    grab=none
    [ -f grab.ppm ] && grab=$(md5 <grab.ppm)
    echo "step $* -> status $status out $(sed 's/ptr=[^,]*//' out.txt | md5)" \
        "err $(md5 <err.txt) frame $(frame_sum $frame_bytes) grab $grab"
}

depth initial
step --solid 0x1234
step --bars
step --grab grab.ppm

depth rgb16 16 816 616
step --solid 0xf81f
step --x 815 --y 615 --setpix 0x07e0
step --x 5 --y 7 --setpix 0xabcd --grab grab.ppm
step --bars
step --grab grab.ppm

depth pseudo8 8 804 604
step --solid 155
palette 100 113
step --bars
palette 100 113
step --x 3 --y 2 --setpix g2 --x 803 --y 603 --setpix '#9'
step --grab grab.ppm

depth xrgb32 32 808 608
step --solid 0x00abcdef
step --bars
step --grab grab.ppm
step --x 807 --y 607 --setpix 0xffffffff --grab grab.ppm
