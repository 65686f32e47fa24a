/*
 * Guest helper for the real-kernel check: reads or changes a framebuffer's
 * variable screen information and reads its colour map back.
 *
 *   fbvar get <dev>                         print the screen line
 *   fbvar set <dev> <bpp> <xres_virtual> <yres_virtual>
 *                                           change them, print the line the
 *                                           driver then reports
 *   fbvar cmap <dev> <start> <count>        print "cmap[<i>] <r> <g> <b>"
 *                                           (4 hex digits), as the fake logs
 *
 * Screen line: "screen <xres> <yres> <xres_virtual> <yres_virtual> <bpp>"
 * then offset, length and msb_right of red, green and blue.
 */
#include <fcntl.h>
#include <linux/fb.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

static int fail(const char* what) {
    perror(what);
    return 1;
}

static void print_screen(const struct fb_var_screeninfo* v) {
    printf("screen %u %u %u %u %u %u %u %u %u %u %u %u %u %u\n", v->xres, v->yres, v->xres_virtual,
           v->yres_virtual, v->bits_per_pixel, v->red.offset, v->red.length, v->red.msb_right,
           v->green.offset, v->green.length, v->green.msb_right, v->blue.offset, v->blue.length,
           v->blue.msb_right);
}

static int screen(int fd, int argc, char** argv) {
    struct fb_var_screeninfo var;

    if (ioctl(fd, FBIOGET_VSCREENINFO, &var) < 0)
        return fail("FBIOGET_VSCREENINFO");
    if (argc == 6) {
        var.bits_per_pixel = (uint32_t)strtoul(argv[3], NULL, 10);
        var.xres_virtual = (uint32_t)strtoul(argv[4], NULL, 10);
        var.yres_virtual = (uint32_t)strtoul(argv[5], NULL, 10);
        var.activate = FB_ACTIVATE_NOW;
        if (ioctl(fd, FBIOPUT_VSCREENINFO, &var) < 0)
            return fail("FBIOPUT_VSCREENINFO");
        if (ioctl(fd, FBIOGET_VSCREENINFO, &var) < 0)
            return fail("FBIOGET_VSCREENINFO");
    }
    print_screen(&var);
    return 0;
}

static int colour_map(int fd, uint32_t start, uint32_t count) {
    uint16_t red[256], green[256], blue[256];
    struct fb_cmap cmap = {.start = start, .len = count, .red = red, .green = green, .blue = blue};

    if (count > 256)
        return 2;
    if (ioctl(fd, FBIOGETCMAP, &cmap) < 0)
        return fail("FBIOGETCMAP");
    for (uint32_t i = 0; i < count; i++)
        printf("cmap[%u] %04x %04x %04x\n", start + i, red[i], green[i], blue[i]);
    return 0;
}

int main(int argc, char** argv) {
    int fd, status;

    if (argc < 3)
        return 2;
    fd = open(argv[2], O_RDWR);
    if (fd < 0)
        return fail(argv[2]);
    if (strcmp(argv[1], "get") == 0 && argc == 3)
        status = screen(fd, argc, argv);
    else if (strcmp(argv[1], "set") == 0 && argc == 6)
        status = screen(fd, argc, argv);
    else if (strcmp(argv[1], "cmap") == 0 && argc == 5)
        status = colour_map(fd, (uint32_t)strtoul(argv[3], NULL, 10),
                            (uint32_t)strtoul(argv[4], NULL, 10));
    else
        status = 2;
    close(fd);
    return status;
}
