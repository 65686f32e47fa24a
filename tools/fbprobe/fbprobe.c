/*
 * fbprobe: framebuffer test utility. Fills the screen with one colour, sets
 * one pixel, draws a colour-bar pattern that shows every bit of every colour
 * channel, or grabs the visible screen into a binary PPM image. Works on
 * packed-pixel framebuffers of 8, 16, 24 and 32 bits per pixel.
 *
 * Exit status: 0 when every action succeeded, 1 when one failed (the later
 * options still run) or the program stopped early on a refused input.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <getopt.h>
#include <linux/fb.h>
#include <stdarg.h>
#include <stdbool.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include "standard_streams.h"

/* Fixed-width fields only: the same record on the 32-bit device and on a
 * 64-bit host. */
_Static_assert(sizeof(struct fb_var_screeninfo) == 160, "screen information is 160 bytes");

#define USAGE "Usage: fbprobe [--fb <dev>] [--solid <color>] [--grab <fname>] [--bars]"
#define VERSION "fbprobe 0.1 -- framebuffer test utility"

/* One open framebuffer, held for the length of one action. */
struct display {
    struct fb_var_screeninfo var;
    int fd;
    uint8_t* mem;
    size_t length; /* bytes mapped: the whole virtual screen */
    size_t line_bytes;
};

/* Longest channel at 8 bits per pixel: palette entries are 16-bit values
 * built as 1 << (15 - length + step). */
#define PALETTE_CHANNEL_MAX 15

/* Palette index ranges loaded at 8 bits per pixel. */
enum {
    COLOUR_RAMPS = 100,
    GREY_RAMP = 200,
    WHITE_INDEX = 210,
    BLACK_INDEX = 211,
    CUSTOM_INDEX = 212
};

/* A refused input ends the program at once: carrying on would act on a
 * value the user did not mean or on memory outside the frame. */
static void refuse(const char* fmt, ...) __attribute__((format(printf, 1, 2), noreturn));

static void refuse(const char* fmt, ...) {
    va_list ap;

    fputs("fbprobe: ", stderr);
    va_start(ap, fmt);
    vfprintf(stderr, fmt, ap);
    va_end(ap);
    fputc('\n', stderr);
    exit(1);
}

/* ---- numbers ---------------------------------------------------------- */

/* text as an unsigned number of at most 32 bits in the given base (0: C
 * rules); false when it has no digits, trailing text or is too large. */
static bool parse_u32(const char* text, int base, uint32_t* value) {
    unsigned long long parsed;
    char* end;

    if (text[0] < '0' || text[0] > '9')
        return false;
    errno = 0;
    parsed = strtoull(text, &end, base);
    if (errno != 0 || *end != '\0' || parsed > UINT32_MAX)
        return false;
    *value = (uint32_t)parsed;
    return true;
}

static uint32_t parse_coordinate(const char* name, const char* text) {
    uint32_t value;

    if (!parse_u32(text, 10, &value))
        refuse("--%s needs a decimal number of at most 32 bits, not '%s'", name, text);
    return value;
}

/* ---- pixels ----------------------------------------------------------- */

/* Frame memory is little-endian whatever the processor's byte order. */
static void setPixelRGBRaw(uint8_t* pixel, unsigned bits_per_pixel, uint32_t value) {
    for (unsigned byte = 0; byte < bits_per_pixel / 8; byte++)
        pixel[byte] = (uint8_t)(value >> (8 * byte));
}

static uint32_t getPixelRGB(const uint8_t* pixel, unsigned bits_per_pixel) {
    uint32_t value = 0;

    for (unsigned byte = 0; byte < bits_per_pixel / 8; byte++)
        value |= (uint32_t)pixel[byte] << (8 * byte);
    return value;
}

static uint8_t* pixel_at(const struct display* d, uint32_t x, uint32_t y) {
    return d->mem + (size_t)x * (d->var.bits_per_pixel / 8) + (size_t)y * d->line_bytes;
}

static bool visible(const struct display* d, int64_t x, int64_t y) {
    return x >= 0 && y >= 0 && x < (int64_t)d->var.xres && y < (int64_t)d->var.yres;
}

/* Pattern writes and reads are clipped to the visible screen, so marks
 * placed for a normal screen never reach past a tiny one. Pattern
 * coordinates are signed and 64-bit: marks are placed by subtraction from
 * sizes that may use all 32 bits. */
static void put_visible(const struct display* d, int64_t x, int64_t y, uint32_t value) {
    if (visible(d, x, y))
        setPixelRGBRaw(pixel_at(d, x, y), d->var.bits_per_pixel, value);
}

static uint32_t get_visible(const struct display* d, int64_t x, int64_t y) {
    return visible(d, x, y) ? getPixelRGB(pixel_at(d, x, y), d->var.bits_per_pixel) : 0;
}

/* ---- opening a display ------------------------------------------------ */

static bool depth_supported(unsigned bits_per_pixel) {
    return bits_per_pixel == 8 || bits_per_pixel == 16 || bits_per_pixel == 24 ||
           bits_per_pixel == 32;
}

/* Lengths and offsets come from the driver; one of 32 or more would be an
 * undefined shift. At 8 bits per pixel a length above 15 would make a
 * palette shift negative. */
static void check_field(const char* name, const struct fb_bitfield* f, unsigned bits_per_pixel) {
    unsigned longest = bits_per_pixel == 8 ? PALETTE_CHANNEL_MAX : 31;

    if (f->length > longest || f->offset > 31)
        refuse("unsupported %u bpp format: %s field of %u bits at offset %u", bits_per_pixel, name,
               f->length, f->offset);
}

static void check_format(const struct fb_var_screeninfo* v) {
    if (!depth_supported(v->bits_per_pixel))
        refuse("unsupported depth of %u bpp (8, 16, 24 or 32 only)", v->bits_per_pixel);
    if (v->xres == 0 || v->yres == 0 || v->xres > v->xres_virtual || v->yres > v->yres_virtual)
        refuse("unsupported screen: visible %ux%u, virtual %ux%u", v->xres, v->yres,
               v->xres_virtual, v->yres_virtual);
    check_field("red", &v->red, v->bits_per_pixel);
    check_field("green", &v->green, v->bits_per_pixel);
    check_field("blue", &v->blue, v->bits_per_pixel);
}

/* m, the length of the shortest colour channel: the grey ramp's steps. */
static unsigned shortest_channel(const struct fb_var_screeninfo* v) {
    unsigned m = v->red.length;

    if (v->green.length < m)
        m = v->green.length;
    return v->blue.length < m ? v->blue.length : m;
}

/* The frame's length in bytes, and through line_bytes that of one line.
 * Both products are checked in 64 bits: sizes come from the driver and may
 * use all 32 bits, and a product that wrapped (in size_t on the 32-bit
 * device, in 64 bits for the whole frame) would map a small frame that the
 * loops then run past. A frame larger than half the address space could
 * never be mapped, so it is refused like the other screens this tool cannot
 * handle. The depth is a whole number of bytes (check_format), so
 * xres_virtual * bpp / 8 equals xres_virtual * (bpp / 8). */
static uint64_t frame_length(const struct fb_var_screeninfo* v, size_t* line_bytes) {
    const uint64_t line = (uint64_t)v->xres_virtual * (v->bits_per_pixel / 8);
    uint64_t length;

    if (__builtin_mul_overflow(line, (uint64_t)v->yres_virtual, &length) || length > SIZE_MAX / 2)
        refuse("virtual screen %ux%u at %u bpp too large to map", v->xres_virtual, v->yres_virtual,
               v->bits_per_pixel);
    *line_bytes = (size_t)line;
    return length;
}

static void close_display(struct display* d) {
    if (d->mem)
        munmap(d->mem, d->length);
    close(d->fd);
    d->mem = NULL;
    d->fd = -1;
}

/* false after the failure's message; the action is then skipped. */
static bool open_display(const char* fbdev, struct display* d) {
    uint64_t length;

    memset(d, 0, sizeof *d);
    d->fd = open(fbdev, O_RDWR | O_CLOEXEC);
    if (d->fd < 0) {
        fprintf(stderr, "open(%s): %s\n", fbdev, strerror(errno));
        return false;
    }
    if (ioctl(d->fd, FBIOGET_VSCREENINFO, &d->var) < 0) {
        perror("ioctl(FBIOGET_VSCREENINFO)");
        close_display(d);
        return false;
    }
    check_format(&d->var);
    length = frame_length(&d->var, &d->line_bytes);
    d->length = (size_t)length;
    d->mem = mmap(NULL, d->length, PROT_READ | PROT_WRITE, MAP_SHARED, d->fd, 0);
    if (d->mem == MAP_FAILED) {
        perror("mmap()");
        d->mem = NULL;
        close_display(d);
        return false;
    }
    return true;
}

/* ---- 8-bpp palette ---------------------------------------------------- */

static bool put_cmap(const struct display* d, uint32_t start, uint32_t count, uint16_t* red,
                     uint16_t* green, uint16_t* blue) {
    struct fb_cmap cmap = {.start = start, .len = count, .red = red, .green = green, .blue = blue};

    if (ioctl(d->fd, FBIOPUTCMAP, &cmap) < 0) {
        perror("ioctl(FBIOPUTCMAP)");
        return false;
    }
    return true;
}

/* Colour ramps from index 100, a grey ramp from 200, then white, black and
 * a colour from custom (the colour text as a decimal number). Lengths are
 * at most PALETTE_CHANNEL_MAX (check_field), so every shift stays within 0
 * to 15 and the ramps within the arrays. */
static bool load_palette(const struct display* d, uint32_t custom) {
    const unsigned R = d->var.red.length, G = d->var.green.length, B = d->var.blue.length;
    const unsigned m = shortest_channel(&d->var);
    uint16_t red[3 * PALETTE_CHANNEL_MAX + 3] = {0}, green[3 * PALETTE_CHANNEL_MAX + 3] = {0},
                                           blue[3 * PALETTE_CHANNEL_MAX + 3] = {0};
    bool ok;

    for (unsigned i = 0; i <= R + G + B + 2; i++) {
        if (i <= R)
            red[i] = 1u << (15 - R + i);
        else if (i <= R + G + 1)
            green[i] = 1u << (14 - R - G + i);
        else
            blue[i] = 1u << (13 - R - G - B + i);
    }
    red[R + 1] = 0xffff;
    green[R + G + 2] = 0xffff;
    ok = put_cmap(d, COLOUR_RAMPS, R + G + B + 3, red, green, blue);

    memset(red, 0, sizeof red);
    for (unsigned j = 0; j <= m; j++)
        red[j] = j < m ? 1u << (15 - m + j) : 0xffff;
    ok = put_cmap(d, GREY_RAMP, m + 1, red, red, red) && ok;

    uint16_t fixed_red[3] = {0xffff, 0, 0};
    uint16_t fixed_green[3] = {0xffff, 0, custom & 0xfc00};
    uint16_t fixed_blue[3] = {0xffff, 0, (custom & 0xfc) << 8};
    return put_cmap(d, WHITE_INDEX, 3, fixed_red, fixed_green, fixed_blue) && ok;
}

/* The palette index a colour text selects at 8 bits per pixel. */
static uint32_t palette_index(const char* text) {
    uint32_t number;
    uint64_t index;

    if (text[0] == 'p')
        return BLACK_INDEX;
    if (text[0] == '#' || text[0] == 'g') {
        if (!parse_u32(text + 1, 10, &number))
            refuse("colour '%s' needs a decimal number after '%c'", text, text[0]);
        index = text[0] == '#' ? number : GREY_RAMP + (uint64_t)number;
    } else {
        if (!parse_u32(text, 10, &number))
            refuse("colour '%s' is not a decimal number, #<index>, g<grey> or p", text);
        index = COLOUR_RAMPS + (uint64_t)number;
    }
    if (index > 255)
        refuse("colour '%s' selects palette index %llu, beyond 255", text,
               (unsigned long long)index);
    return (uint32_t)index;
}

/* The colour text as a decimal number for the custom palette entry; 0 when
 * it does not start with one. */
static uint32_t custom_colour(const char* text) {
    uint32_t value;

    return parse_u32(text, 10, &value) ? value : 0;
}

static uint32_t raw_colour(const char* text) {
    uint32_t value;

    if (!parse_u32(text, 0, &value))
        refuse("colour '%s' is not a number of at most 32 bits", text);
    return value;
}

/* ---- actions ---------------------------------------------------------- */

struct settings {
    const char* fbdev;
    uint32_t x, y;
    bool stdout_closed; /* "-" then names no output at all */
};

static bool solid(const struct settings* s, const char* colour) {
    struct display d;
    bool ok = true;

    if (!open_display(s->fbdev, &d))
        return false;
    if (d.var.bits_per_pixel == 8) {
        uint32_t index = palette_index(colour);

        ok = load_palette(&d, custom_colour(colour));
        fprintf(stderr, "Filling fb-display with %ux%u (%ibpp) with solid color of %d[%s]\n",
                d.var.xres, d.var.yres, d.var.bits_per_pixel, (int)index, colour);
        memset(d.mem, (int)index, d.length);
    } else {
        uint32_t value = raw_colour(colour);

        fprintf(stderr, "Filling fb-display with %ux%u (%ibpp) with solid color of %08x\n",
                d.var.xres, d.var.yres, d.var.bits_per_pixel, value);
        for (uint32_t y = 0; y < d.var.yres_virtual; y++)
            for (uint32_t x = 0; x < d.var.xres_virtual; x++)
                setPixelRGBRaw(pixel_at(&d, x, y), d.var.bits_per_pixel, value);
    }
    close_display(&d);
    return ok;
}

static bool setpix(const struct settings* s, const char* colour) {
    struct display d;
    uint32_t value;

    if (!open_display(s->fbdev, &d))
        return false;
    value = d.var.bits_per_pixel == 8 ? palette_index(colour) : raw_colour(colour);
    if (s->x >= d.var.xres_virtual || s->y >= d.var.yres_virtual)
        refuse("pixel (%u,%u) lies outside the virtual screen of %ux%u", s->x, s->y,
               d.var.xres_virtual, d.var.yres_virtual);
    setPixelRGBRaw(pixel_at(&d, s->x, s->y), d.var.bits_per_pixel, value);
    close_display(&d);
    return true;
}

/* ---- grab ------------------------------------------------------------- */

static uint8_t component_8bit(uint32_t pixel, const struct fb_bitfield* f) {
    uint32_t mask = (1u << f->length) - 1;

    return (uint8_t)(((pixel >> f->offset) & mask) << (8 - f->length));
}

static void check_grab_field(const char* name, const struct fb_bitfield* f) {
    if (f->length > 8 || f->msb_right)
        refuse("cannot grab a %s field of %u bits%s", name, f->length,
               f->msb_right ? " stored most significant bit right" : "");
}

/* The PPM image of the visible screen; NULL when it cannot be allocated. */
static uint8_t* grab_image(const struct display* d, size_t* size) {
    char header[64];
    int header_len = snprintf(header, sizeof header, "P6\n%u %u\n255\n", d->var.xres, d->var.yres);
    uint64_t total = (uint64_t)d->var.xres * d->var.yres * 3 + header_len;
    uint8_t *image, *out;

    if (total > SIZE_MAX || !(image = malloc((size_t)total)))
        return NULL;
    memcpy(image, header, header_len);
    out = image + header_len;
    for (uint32_t y = 0; y < d->var.yres; y++) {
        for (uint32_t x = 0; x < d->var.xres; x++) {
            uint32_t pixel = getPixelRGB(pixel_at(d, x, y), d->var.bits_per_pixel);

            *out++ = component_8bit(pixel, &d->var.red);
            *out++ = component_8bit(pixel, &d->var.green);
            *out++ = component_8bit(pixel, &d->var.blue);
        }
    }
    *size = (size_t)total;
    return image;
}

/* A write error ends the program: the image on its way out is broken. */
static void write_all(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        ssize_t written = write(fd, data, size);

        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            perror("write()");
            exit(1);
        }
        data += written;
        size -= (size_t)written;
    }
}

/* A new grab file gets mode 0666 less the umask, like any file a shell
 * redirection creates. A closed standard output fails like a file that
 * cannot be opened. */
static int open_grab_file(const struct settings* s, const char* fname) {
    if (strcmp(fname, "-") == 0) {
        if (s->stdout_closed) {
            errno = EBADF;
            return -1;
        }
        return dup(STDOUT_FILENO);
    }
    return open(fname, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
}

static bool grab(const struct settings* s, const char* fname) {
    struct display d;
    uint8_t* image;
    size_t size;
    int out;
    bool ok = false;

    if (!open_display(s->fbdev, &d))
        return false;
    fprintf(stderr, "Grabbing from a fb-display with %ux%u (%ibpp) [virtual %ux%u]\n", d.var.xres,
            d.var.yres, d.var.bits_per_pixel, d.var.xres_virtual, d.var.yres_virtual);
    if (d.var.bits_per_pixel != 8) {
        check_grab_field("red", &d.var.red);
        check_grab_field("green", &d.var.green);
        check_grab_field("blue", &d.var.blue);
    }
    out = open_grab_file(s, fname);
    if (out < 0) {
        fprintf(stderr, "Can not open output file: %s\n", strerror(errno));
    } else if (d.var.bits_per_pixel == 8) {
        fprintf(stderr, "grabbing from palette not implemented yet\n");
    } else if (!(image = grab_image(&d, &size))) {
        fprintf(stderr, "fbprobe: no memory for a %ux%u grab image\n", d.var.xres, d.var.yres);
    } else {
        write_all(out, image, size);
        free(image);
        ok = true;
    }
    if (out >= 0)
        close(out);
    close_display(&d);
    return ok;
}

/* ---- colour bars ------------------------------------------------------ */

/* The bits of one colour component at level L: none, the single bit L-1, or
 * all bits once L passes the length. */
static uint32_t component_bits(unsigned level, const struct fb_bitfield* f) {
    if (level == 0)
        return 0;
    if (level <= f->length)
        return 1u << (level - 1) << f->offset;
    return ((1u << f->length) - 1) << f->offset;
}

struct bars {
    const struct display* d;
    unsigned R, G, B, m, N;
    uint32_t white;
    int64_t xres, yres;
};

static uint32_t rgb_levels(const struct bars* b, unsigned r, unsigned g, unsigned bl) {
    return component_bits(r, &b->d->var.red) | component_bits(g, &b->d->var.green) |
           component_bits(bl, &b->d->var.blue);
}

static unsigned band_of(const struct bars* b, int64_t y) {
    return (unsigned)((uint64_t)y * b->N / b->yres);
}

/* Levels of the band's channel: each group shows its channel's bits from the
 * lowest up and then the full channel. */
static void band_levels(const struct bars* b, unsigned o, unsigned levels[3]) {
    levels[0] = levels[1] = levels[2] = 0;
    if (o <= b->R)
        levels[0] = o + 1;
    else if (o <= b->R + b->G + 1)
        levels[1] = o - b->R;
    else
        levels[2] = o - (b->R + b->G + 1);
}

static unsigned grey_of(const struct bars* b, int64_t y) {
    return (unsigned)((uint64_t)y * (b->m + 2) / b->yres) + 1;
}

static uint32_t grey_colour(const struct bars* b, unsigned g) {
    const unsigned top = b->m + 1;

    if (g > top)
        return b->white;
    return rgb_levels(b, (uint8_t)(g + b->R - top), (uint8_t)(g + b->G - top),
                      (uint8_t)(g + b->B - top));
}

/* Centre box: white lines on black above the centre, black on white below. */
static bool box_pixel(const struct bars* b, int64_t x, int64_t y, uint32_t* value) {
    int64_t dx = b->xres / 2 - x, dy = b->yres / 2 - y;
    bool line;

    if (dx < -49 || dx > 50 || dy < -49 || dy > 50)
        return false;
    line = dx == dy || dx == -dy || dx == -45 || dx == 44 || dy == -45 || dy == 44;
    *value = (line == (dy >= 0)) ? b->white : 0;
    return true;
}

static bool first_row_of_band(const struct bars* b, int64_t y) {
    return y == 0 || band_of(b, y) != band_of(b, y - 1);
}

static bool starts_group(const struct bars* b, unsigned o) {
    return o == 0 || o == b->R + 1 || o == b->R + b->G + 2;
}

/* Corner and edge marks; false where a row has none at x. */
static bool mark_pixel(const struct bars* b, int64_t x, int64_t y, uint32_t* value) {
    const int64_t last_x = b->xres - 1, last_y = b->yres - 1;
    const int64_t from_edge = x < b->xres - x - 1 ? x : last_x - x;

    if (y == 0 || y == last_y) {
        if (from_edge > 4)
            return false;
        *value = from_edge % 2 ? 0 : b->white;
        return true;
    }
    if (y <= 4 || y >= last_y - 4) {
        bool odd = (y < b->yres / 2 && y % 2) || (y > b->yres / 2 && (last_y - y) % 2);

        if (x == 0 || x == last_x) {
            *value = odd ? 0 : b->white;
            return true;
        }
        if (y <= 3 && x == 4 - y) {
            *value = b->white;
            return true;
        }
        return false;
    }
    if (x <= 1 && first_row_of_band(b, y) && starts_group(b, band_of(b, y))) {
        *value = b->white;
        return true;
    }
    return false;
}

static void bars_row(const struct bars* b, int64_t y) {
    unsigned levels[3];
    uint32_t band, grey, value;

    band_levels(b, band_of(b, y), levels);
    band = rgb_levels(b, levels[0], levels[1], levels[2]);
    grey = grey_colour(b, grey_of(b, y));
    for (int64_t x = 0; x < b->xres; x++) {
        if (!mark_pixel(b, x, y, &value) && !box_pixel(b, x, y, &value))
            value = x < b->xres / 2 ? band : grey;
        put_visible(b->d, x, y, value);
    }
}

static void print_band(const struct bars* b, int64_t y) {
    unsigned o = band_of(b, y), levels[3];

    band_levels(b, o, levels);
    printf(
        "displayRGB -> ptr=%p, r=%u, g=%u, b=%u, grey=%u, pos=[%u,%u,%u,%u]/%u, "
        "*addr=[%08x,%08x]\n",
        (void*)(pixel_at(b->d, 0, y) + b->d->line_bytes), levels[0], levels[1], levels[2],
        grey_of(b, y), 0u, b->R + 1, b->R + b->G + 2, b->N, o, get_visible(b->d, 10, y),
        get_visible(b->d, b->xres / 2 + 10, y));
}

static void bars_rgb(const struct display* d) {
    struct bars b = {.d = d,
                     .R = d->var.red.length,
                     .G = d->var.green.length,
                     .B = d->var.blue.length,
                     .xres = d->var.xres,
                     .yres = d->var.yres};

    b.m = shortest_channel(&d->var);
    b.N = b.R + b.G + b.B + 3;
    b.white = rgb_levels(&b, 32, 32, 32);
    for (int64_t y = 0; y < b.yres; y++) {
        bars_row(&b, y);
        if (first_row_of_band(&b, y))
            print_band(&b, y);
    }
}

/* Colour ramps left, grey ramp right, and white-black marks five pixels
 * along both edges from each corner. */
static bool bars_palette(const struct display* d) {
    const unsigned R = d->var.red.length, G = d->var.green.length, B = d->var.blue.length;
    const unsigned m = shortest_channel(&d->var);
    const int64_t xres = d->var.xres, yres = d->var.yres;
    bool ok = load_palette(d, 0);

    for (int64_t y = 0; y < yres; y++)
        for (int64_t x = 0; x < xres; x++)
            put_visible(d, x, y,
                        x < xres / 2 ? (uint8_t)(COLOUR_RAMPS + y * (R + G + B + 3) / yres)
                                     : (uint8_t)(GREY_RAMP + y * (m + 1) / yres));
    for (int64_t step = 4; step >= 0; step--) {
        uint32_t index = step % 2 ? BLACK_INDEX : WHITE_INDEX;
        const int64_t corners[4][2] = {{0, 0}, {xres - 1, 0}, {0, yres - 1}, {xres - 1, yres - 1}};

        for (int c = 0; c < 4; c++) {
            int64_t x = corners[c][0], y = corners[c][1];

            put_visible(d, x ? x - step : step, y, index);
            put_visible(d, x, y ? y - step : step, index);
        }
    }
    return ok;
}

static bool bars(const struct settings* s) {
    struct display d;
    bool ok = true;

    if (!open_display(s->fbdev, &d))
        return false;
    fprintf(stderr, "Assuming a fb-display with %ux%u (%ibpp) [virtal %ux%u]\n", d.var.xres,
            d.var.yres, d.var.bits_per_pixel, d.var.xres_virtual, d.var.yres_virtual);
    if (d.var.bits_per_pixel == 8)
        ok = bars_palette(&d);
    else
        bars_rgb(&d);
    close_display(&d);
    return ok;
}

/* ---- command line ----------------------------------------------------- */

enum option_id {
    OPT_HELP = 1,
    OPT_VERSION,
    OPT_FB,
    OPT_SOLID,
    OPT_GRAB,
    OPT_X,
    OPT_Y,
    OPT_SETPIX,
    OPT_BARS
};

static const struct option long_options[] = {
    {"help", no_argument, NULL, OPT_HELP},       {"version", no_argument, NULL, OPT_VERSION},
    {"fb", required_argument, NULL, OPT_FB},     {"solid", required_argument, NULL, OPT_SOLID},
    {"grab", required_argument, NULL, OPT_GRAB}, {"x", required_argument, NULL, OPT_X},
    {"y", required_argument, NULL, OPT_Y},       {"setpix", required_argument, NULL, OPT_SETPIX},
    {"bars", no_argument, NULL, OPT_BARS},       {NULL, 0, NULL, 0},
};

static void invalid_option(void) {
    fputs("invalid option; try '--help' for more information\n", stderr);
    exit(1);
}

int main(int argc, char** argv) {
    struct settings s = {.fbdev = "/dev/fb0"};
    bool acted = false, failed = false;
    int id;

    s.stdout_closed = reserve_standard_streams() & STANDARD_OUTPUT_CLOSED;

    opterr = 0;
    /* '+': stop at the first operand, which is refused like an unknown
     * option, instead of moving it past the later options. */
    while ((id = getopt_long(argc, argv, "+", long_options, NULL)) != -1) {
        switch (id) {
            case OPT_HELP:
                puts(USAGE);
                return failed;
            case OPT_VERSION:
                puts(VERSION);
                return failed;
            case OPT_FB:
                s.fbdev = optarg;
                break;
            case OPT_X:
                s.x = parse_coordinate("x", optarg);
                break;
            case OPT_Y:
                s.y = parse_coordinate("y", optarg);
                break;
            case OPT_SOLID:
                acted = true;
                failed |= !solid(&s, optarg);
                break;
            case OPT_GRAB:
                acted = true;
                failed |= !grab(&s, optarg);
                break;
            case OPT_SETPIX:
                acted = true;
                failed |= !setpix(&s, optarg);
                break;
            case OPT_BARS:
                acted = true;
                failed |= !bars(&s);
                break;
            default:
                invalid_option();
        }
        fflush(stdout);
    }
    if (optind < argc)
        invalid_option();
    if (!acted)
        failed |= !bars(&s);
    return failed;
}
