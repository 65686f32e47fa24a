/*
 * Host side of the framebuffer checks on the emulated board: compares frame
 * memory read back raw from the board, fbprobe's grab and the emulator's
 * screen dump with what fbprobe's drawing rules give for the board's screen.
 * The rules are written out again here, apart from fbprobe, so that a fault
 * in fbprobe shows as a difference. Prints one line per difference (the
 * first few) and exits 1 when there is any.
 *
 * Screen arguments (S): xres yres xres_virtual yres_virtual bpp
 *                       red_offset red_length green_offset green_length
 *                       blue_offset blue_length
 *
 *   fbcheck bars <raw> S                 colour bars, every visible pixel
 *   fbcheck solid <raw> S <value>        every pixel of the virtual screen
 *   fbcheck setpix <raw> S <solid> <x> <y> <value>
 *                                        one pixel on a solid screen
 *   fbcheck grab <ppm> <raw> S           fbprobe's grab against the memory
 *   fbcheck shown <dump> <ppm>  S        the emulator's picture against the
 *                                        grab, to the channel lengths
 *   fbcheck palette <dump> <raw> S <bits> <cmap>
 *                                        8 bpp: the picture against the
 *                                        palette rules, to <bits> per
 *                                        channel; <cmap> holds the colour
 *                                        map read back ("cmap[i] r g b")
 */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

struct screen {
    unsigned xres, yres, xvirt, yvirt, bpp;
    unsigned off[3], len[3];
};

struct image {
    unsigned w, h;
    unsigned char* rgb;
};

static unsigned differences;

static void differ(const char* what, unsigned x, unsigned y, unsigned long got,
                   unsigned long want) {
    if (differences++ < 8)
        printf("%s (%u, %u): 0x%lx, expected 0x%lx\n", what, x, y, got, want);
}

static unsigned char* slurp(const char* path, size_t* size) {
    FILE* f = fopen(path, "rb");
    unsigned char* data;
    long n;

    if (!f || fseek(f, 0, SEEK_END) || (n = ftell(f)) < 0 || fseek(f, 0, SEEK_SET)) {
        perror(path);
        exit(2);
    }
    data = malloc((size_t)n + 1);
    if (!data || fread(data, 1, (size_t)n, f) != (size_t)n) {
        perror(path);
        exit(2);
    }
    fclose(f);
    *size = (size_t)n;
    return data;
}

static struct image read_ppm(const char* path) {
    size_t size, at = 0;
    unsigned char* data = slurp(path, &size);
    unsigned field[3], i;
    struct image img;

    if (size < 2 || data[0] != 'P' || data[1] != '6') {
        fprintf(stderr, "%s: not a binary PPM\n", path);
        exit(2);
    }
    at = 2;
    for (i = 0; i < 3; i++) {
        while (at < size &&
               (data[at] == ' ' || data[at] == '\n' || data[at] == '\r' || data[at] == '\t'))
            at++;
        field[i] = 0;
        while (at < size && data[at] >= '0' && data[at] <= '9')
            field[i] = field[i] * 10 + (unsigned)(data[at++] - '0');
    }
    at++; /* the single white space after the maximum */
    if (field[2] != 255 || size - at < (size_t)field[0] * field[1] * 3) {
        fprintf(stderr, "%s: short or not 8-bit\n", path);
        exit(2);
    }
    img.w = field[0];
    img.h = field[1];
    img.rgb = data + at;
    return img;
}

static uint32_t pixel(const unsigned char* raw, const struct screen* s, unsigned x, unsigned y) {
    const unsigned char* p = raw + (size_t)y * (s->xvirt * s->bpp / 8) + x * s->bpp / 8;

    switch (s->bpp) {
        case 8:
            return p[0];
        case 16:
            return (uint32_t)p[0] | (uint32_t)p[1] << 8;
        case 24:
            return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16;
        default:
            return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 |
                   (uint32_t)p[3] << 24;
    }
}

/* Component bits of level L: none, bit L-1, or all. */
static uint32_t level(unsigned l, unsigned len) {
    if (l == 0)
        return 0;
    if (l <= len)
        return 1u << (l - 1);
    return (1u << len) - 1;
}

static uint32_t colour(const struct screen* s, unsigned r, unsigned g, unsigned b) {
    return level(r, s->len[0]) << s->off[0] | level(g, s->len[1]) << s->off[1] |
           level(b, s->len[2]) << s->off[2];
}

static unsigned min3(unsigned a, unsigned b, unsigned c) {
    unsigned m = a < b ? a : b;
    return m < c ? m : c;
}

static uint32_t bars_pixel(const struct screen* s, unsigned x, unsigned y) {
    const unsigned R = s->len[0], G = s->len[1], B = s->len[2], N = R + G + B + 3;
    const unsigned m = min3(R, G, B), cx = s->xres / 2, cy = s->yres / 2;
    const uint32_t white = colour(s, 99, 99, 99), black = 0;
    const unsigned o = y * N / s->yres, grey = y * (m + 2) / s->yres + 1;

    if (y + 50 >= cy && y <= cy + 49 && x + 50 >= cx && x <= cx + 49) {
        const int dx = (int)cx - (int)x, dy = (int)cy - (int)y;
        const int line = dx == dy || dx == -dy || dx == -45 || dx == 44 || dy == -45 || dy == 44;
        if (dy >= 0)
            return line ? white : black;
        return line ? black : white;
    }
    if (y >= 1 && y <= 3 && x == 4 - y)
        return white;
    if (y == 0 || y == s->yres - 1) {
        unsigned from_edge = x < 5 ? x : s->xres - 1 - x;
        if (from_edge < 5)
            return from_edge % 2 ? black : white;
    }
    if ((y >= 1 && y <= 4) || (y + 5 >= s->yres && y + 2 <= s->yres)) {
        if (x == 0 || x == s->xres - 1) {
            int odd = (y < cy && y % 2) || (y > cy && (s->yres - 1 - y) % 2);
            return odd ? black : white;
        }
    } else if (y != 0 && y != s->yres - 1 && x < 2 && (y == 0 || (y - 1) * N / s->yres != o) &&
               (o == 0 || o == R + 1 || o == R + G + 2)) {
        return white;
    }
    if (x >= cx) {
        if (grey > m + 1)
            return white;
        return colour(s, (grey + R - (m + 1)) % 256, (grey + G - (m + 1)) % 256,
                      (grey + B - (m + 1)) % 256);
    }
    if (o <= R)
        return colour(s, o + 1, 0, 0);
    if (o <= R + G + 1)
        return colour(s, 0, o - R, 0);
    return colour(s, 0, 0, o - (R + G + 1));
}

static uint32_t bars_index(const struct screen* s, unsigned x, unsigned y) {
    const unsigned R = s->len[0], G = s->len[1], B = s->len[2], N = R + G + B + 3;
    const unsigned m = min3(R, G, B);
    const unsigned ex = x < 5 ? x : s->xres - 1 - x, ey = y < 5 ? y : s->yres - 1 - y;

    /* Along the top or bottom row, or the left or right column, near a corner. */
    if ((ey == 0 && ex < 5) || (ex == 0 && ey < 5)) {
        unsigned inward = ey == 0 ? ex : ey;
        return inward % 2 ? 211 : 210;
    }
    if (x >= s->xres / 2)
        return (200 + y * (m + 1) / s->yres) % 256;
    return 100 + y * N / s->yres;
}

/* The 16-bit colour-map entry of index i for the bars (no colour text). */
static void palette_entry(const struct screen* s, unsigned i, unsigned rgb[3]) {
    const unsigned R = s->len[0], G = s->len[1], B = s->len[2];
    const unsigned m = min3(R, G, B);

    rgb[0] = rgb[1] = rgb[2] = 0;
    if (i >= 100 && i <= 100 + R + G + B + 2) {
        unsigned k = i - 100;
        if (k <= R)
            rgb[0] = 1u << (15 - R + k);
        else if (k <= R + G + 1)
            rgb[1] = 1u << (14 - R - G + k);
        else
            rgb[2] = 1u << (13 - R - G - B + k);
        if (k == R + 1)
            rgb[0] = 0xffff;
        if (k == R + G + 2)
            rgb[1] = 0xffff;
    } else if (i >= 200 && i <= 200 + m) {
        unsigned v = i - 200 < m ? 1u << (15 - m + (i - 200)) : 0xffff;
        rgb[0] = rgb[1] = rgb[2] = v;
    } else if (i == 210) {
        rgb[0] = rgb[1] = rgb[2] = 0xffff;
    }
}

static struct screen parse_screen(char** a) {
    struct screen s;
    unsigned i;

    s.xres = (unsigned)strtoul(a[0], NULL, 0);
    s.yres = (unsigned)strtoul(a[1], NULL, 0);
    s.xvirt = (unsigned)strtoul(a[2], NULL, 0);
    s.yvirt = (unsigned)strtoul(a[3], NULL, 0);
    s.bpp = (unsigned)strtoul(a[4], NULL, 0);
    for (i = 0; i < 3; i++) {
        s.off[i] = (unsigned)strtoul(a[5 + 2 * i], NULL, 0);
        s.len[i] = (unsigned)strtoul(a[6 + 2 * i], NULL, 0);
    }
    return s;
}

static const unsigned char* frame(const char* path, const struct screen* s) {
    size_t size;
    const unsigned char* raw = slurp(path, &size);

    if (size < (size_t)s->yvirt * s->xvirt * s->bpp / 8) {
        fprintf(stderr, "%s: %zu bytes, less than the virtual screen\n", path, size);
        exit(2);
    }
    return raw;
}

static void check_image_size(const struct image* img, const struct screen* s, const char* path) {
    if (img->w != s->xres || img->h != s->yres) {
        fprintf(stderr, "%s: %ux%u, expected %ux%u\n", path, img->w, img->h, s->xres, s->yres);
        exit(1);
    }
}

int main(int argc, char** argv) {
    const char* cmd = argc > 1 ? argv[1] : "";
    struct screen s;
    unsigned x, y, c;

    if (!strcmp(cmd, "bars") && argc == 14) {
        const unsigned char* raw;
        s = parse_screen(argv + 3);
        raw = frame(argv[2], &s);
        for (y = 0; y < s.yres; y++)
            for (x = 0; x < s.xres; x++)
                if (pixel(raw, &s, x, y) !=
                    (s.bpp == 8 ? bars_index(&s, x, y) : bars_pixel(&s, x, y)))
                    differ("bars", x, y, pixel(raw, &s, x, y),
                           s.bpp == 8 ? bars_index(&s, x, y) : bars_pixel(&s, x, y));
    } else if ((!strcmp(cmd, "solid") && argc == 15) || (!strcmp(cmd, "setpix") && argc == 18)) {
        const unsigned char* raw;
        uint32_t fill = (uint32_t)strtoul(argv[14], NULL, 0), one = fill;
        unsigned px = ~0u, py = ~0u;
        s = parse_screen(argv + 3);
        raw = frame(argv[2], &s);
        if (argc == 18) {
            px = (unsigned)strtoul(argv[15], NULL, 0);
            py = (unsigned)strtoul(argv[16], NULL, 0);
            one = (uint32_t)strtoul(argv[17], NULL, 0);
        }
        for (y = 0; y < s.yvirt; y++)
            for (x = 0; x < s.xvirt; x++) {
                uint32_t want = x == px && y == py ? one : fill;
                if (pixel(raw, &s, x, y) != want)
                    differ(cmd, x, y, pixel(raw, &s, x, y), want);
            }
    } else if (!strcmp(cmd, "grab") && argc == 15) {
        struct image img = read_ppm(argv[2]);
        const unsigned char* raw;
        s = parse_screen(argv + 4);
        raw = frame(argv[3], &s);
        check_image_size(&img, &s, argv[2]);
        for (y = 0; y < s.yres; y++)
            for (x = 0; x < s.xres; x++)
                for (c = 0; c < 3; c++) {
                    uint32_t p = pixel(raw, &s, x, y);
                    unsigned want =
                        (((p >> s.off[c]) & ((1u << s.len[c]) - 1)) << (8 - s.len[c])) & 0xff;
                    unsigned got = img.rgb[((size_t)y * img.w + x) * 3 + c];
                    if (got != want)
                        differ(c == 0   ? "grab red"
                               : c == 1 ? "grab green"
                                        : "grab blue",
                               x, y, got, want);
                }
    } else if (!strcmp(cmd, "shown") && argc == 15) {
        struct image dump = read_ppm(argv[2]), grab = read_ppm(argv[3]);
        s = parse_screen(argv + 4);
        check_image_size(&dump, &s, argv[2]);
        check_image_size(&grab, &s, argv[3]);
        /* The emulator widens each channel to 8 bits its own way: compare
         * the channel's own bits only. */
        for (y = 0; y < s.yres; y++)
            for (x = 0; x < s.xres; x++)
                for (c = 0; c < 3; c++) {
                    size_t at = ((size_t)y * s.xres + x) * 3 + c;
                    unsigned shift = 8 - s.len[c];
                    if (dump.rgb[at] >> shift != grab.rgb[at] >> shift)
                        differ(c == 0   ? "shown red"
                               : c == 1 ? "shown green"
                                        : "shown blue",
                               x, y, dump.rgb[at], grab.rgb[at]);
                }
    } else if (!strcmp(cmd, "palette") && argc == 17) {
        struct image dump = read_ppm(argv[2]);
        const unsigned char* raw;
        unsigned bits, i, rgb[3], map[256][3];
        char line[128];
        FILE* f;
        s = parse_screen(argv + 4);
        raw = frame(argv[3], &s);
        bits = (unsigned)strtoul(argv[15], NULL, 0);
        check_image_size(&dump, &s, argv[2]);
        f = fopen(argv[16], "r");
        if (!f) {
            perror(argv[16]);
            return 2;
        }
        memset(map, 0xff, sizeof(map));
        while (fgets(line, sizeof(line), f))
            if (sscanf(line, "cmap[%u] %x %x %x", &i, &rgb[0], &rgb[1], &rgb[2]) == 4 && i < 256)
                memcpy(map[i], rgb, sizeof(rgb));
        fclose(f);
        /* The colour map the kernel keeps, entry by entry. */
        for (i = 100; i <= 212; i++) {
            palette_entry(&s, i, rgb);
            if (i > 100 + s.len[0] + s.len[1] + s.len[2] + 2 && i < 200)
                continue;
            if (i > 200 + min3(s.len[0], s.len[1], s.len[2]) && i < 210)
                continue;
            for (c = 0; c < 3; c++)
                if (map[i][c] != rgb[c])
                    differ(c == 0   ? "cmap red"
                           : c == 1 ? "cmap green"
                                    : "cmap blue",
                           i, c, map[i][c], rgb[c]);
        }
        /* What the display shows of each pixel's entry. */
        for (y = 0; y < s.yres; y++)
            for (x = 0; x < s.xres; x++) {
                palette_entry(&s, pixel(raw, &s, x, y), rgb);
                for (c = 0; c < 3; c++) {
                    unsigned got = dump.rgb[((size_t)y * s.xres + x) * 3 + c] >> (8 - bits);
                    if (got != rgb[c] >> (16 - bits))
                        differ(c == 0   ? "shown red"
                               : c == 1 ? "shown green"
                                        : "shown blue",
                               x, y, got, rgb[c] >> (16 - bits));
                }
            }
    } else {
        fprintf(stderr, "usage: see the head of fbcheck.c\n");
        return 2;
    }
    if (differences)
        printf("%s: %u differences\n", cmd, differences);
    return differences ? 1 : 0;
}
