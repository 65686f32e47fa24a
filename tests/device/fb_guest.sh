# Guest side of the framebuffer checks: runs fbprobe's actions on the
# board's framebuffers and leaves in /shared, for the host to check, the
# frame memory read back raw after each, fbprobe's grab and output, and the
# colour map the kernel keeps; asks the host for a screen dump of the bars.
# Sourced by the boot's script, which calls fb_steps per framebuffer.

# The text console would draw its cursor into the frame memory.
for con in /sys/class/vtconsole/vtcon*; do
    grep -q 'frame buffer' "$con/name" 2>/dev/null && echo 0 >"$con/bind"
done

# A screen dump of what the display shows now, taken by the host.
screendump() {  # name
    echo "SCREENDUMP $1"
    read -r ack
}

fb_steps() {  # name, device, screen-dump device, solid colour, pixel colour
    name=$1 dev=$2 dump=$3
    if [ ! -e "$dev" ]; then
        echo "FAIL $name: no $dev"
        return
    fi
    # Unblanking sets the framebuffer's mode on the display, which no text
    # console has done for a second framebuffer.
    echo 0 >"/sys/class/graphics/${dev##*/}/blank"
    echo "SCREEN $name $(fbvar get "$dev")"
    fbprobe --fb "$dev" --solid "$4" 2>/shared/$name-solid.err
    cat "$dev" >/shared/$name-solid.raw
    fbprobe --fb "$dev" --x 17 --y 9 --setpix "$5" --x 3 --y 4 2>/shared/$name-setpix.err
    cat "$dev" >/shared/$name-setpix.raw
    fbprobe --fb "$dev" --bars >/shared/$name-bars.out 2>/shared/$name-bars.err
    cat "$dev" >/shared/$name-bars.raw
    # Deferred-I/O framebuffers reach the display after a moment.
    sleep 2
    screendump "$name-shown $dump"
    fbprobe --fb "$dev" --grab /shared/$name-grab.ppm 2>/shared/$name-grab.err
    fbvar cmap "$dev" 0 256 >/shared/$name-cmap 2>&1
    echo "STEPS $name"
}
