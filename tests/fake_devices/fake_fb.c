/*
 * Fake framebuffer, kind "fb". The frame memory is the node's descriptor
 * itself (its backing file, or the anonymous memory file): opening the node
 * grows it, zero-filled, to the virtual screen's size, so mapping that size
 * never faults. A size beyond what a file can hold is logged and left
 * unbacked.
 *
 * Settings (fb_var_screeninfo fields; absent ones are 0):
 *   xres, yres, xres_virtual, yres_virtual, bits_per_pixel   numbers
 *   red, green, blue, transp      "<offset> <length> [<msb_right>]"
 *
 * Requests:
 *   FBIOGET_VSCREENINFO   answers the settings
 *   FBIOPUTCMAP           logs "cmap <start> <len>" and then one line
 *                         "cmap[<index>] <red> <green> <blue>" per entry
 *                         (4 hex digits each); keeps the entries, which
 *   FBIOGETCMAP           answers (256 entries, all 0 until put)
 *   anything else         fails with EINVAL
 */
#include <errno.h>
#include <linux/fb.h>
#include <stdbool.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fake_core.h"

#define FAKE_FB_CMAP_SIZE 256

struct fake_fb_state {
    uint16_t red[FAKE_FB_CMAP_SIZE], green[FAKE_FB_CMAP_SIZE], blue[FAKE_FB_CMAP_SIZE];
};

static void fake_fb_field(struct fake_node* node, const char* key, struct fb_bitfield* field) {
    uint8_t values[3] = {0, 0, 0};

    fake_node_bytes(node, key, values, 3);
    field->offset = values[0];
    field->length = values[1];
    field->msb_right = values[2];
}

static void fake_fb_var(struct fake_node* node, struct fb_var_screeninfo* var) {
    memset(var, 0, sizeof *var);
    var->xres = (uint32_t)fake_node_int(node, "xres", 0);
    var->yres = (uint32_t)fake_node_int(node, "yres", 0);
    var->xres_virtual = (uint32_t)fake_node_int(node, "xres_virtual", 0);
    var->yres_virtual = (uint32_t)fake_node_int(node, "yres_virtual", 0);
    var->bits_per_pixel = (uint32_t)fake_node_int(node, "bits_per_pixel", 0);
    fake_fb_field(node, "red", &var->red);
    fake_fb_field(node, "green", &var->green);
    fake_fb_field(node, "blue", &var->blue);
    fake_fb_field(node, "transp", &var->transp);
}

/* Bytes of the virtual screen, false when they do not fit an off_t: the
 * settings may describe screens far larger than any memory, to see a program
 * refuse them. */
static bool fake_fb_size(const struct fb_var_screeninfo* var, off_t* size) {
    uint64_t bits, bytes;

    if (__builtin_mul_overflow((uint64_t)var->yres_virtual, (uint64_t)var->xres_virtual, &bits) ||
        __builtin_mul_overflow(bits, (uint64_t)var->bits_per_pixel, &bits))
        return false;
    bytes = bits / 8;
    *size = (off_t)bytes;
    return *size >= 0 && (uint64_t)*size == bytes;
}

static void fake_fb_open(struct fake_node* node, int fd) {
    struct fb_var_screeninfo var;
    struct stat st;
    off_t size;

    fake_fb_var(node, &var);
    if (!fake_fb_size(&var, &size)) {
        fake_log("fb %s: frame memory too large to back", fake_node_path(node));
        return;
    }
    if (fstat(fd, &st) == 0 && st.st_size < size && ftruncate(fd, size) != 0)
        fake_log("fb %s: cannot size the frame memory to %lld bytes", fake_node_path(node),
                 (long long)size);
}

static int fake_fb_put_cmap(struct fake_node* node, const struct fb_cmap* cmap) {
    struct fake_fb_state* state = fake_node_state(node, sizeof *state);

    if (cmap->start >= FAKE_FB_CMAP_SIZE || cmap->len > FAKE_FB_CMAP_SIZE - cmap->start) {
        errno = EINVAL;
        return -1;
    }
    fake_log("cmap %u %u", cmap->start, cmap->len);
    for (uint32_t i = 0; i < cmap->len; i++) {
        uint32_t index = cmap->start + i;

        state->red[index] = cmap->red[i];
        state->green[index] = cmap->green[i];
        state->blue[index] = cmap->blue[i];
        fake_log("cmap[%u] %04x %04x %04x", index, cmap->red[i], cmap->green[i], cmap->blue[i]);
    }
    return 0;
}

static int fake_fb_get_cmap(struct fake_node* node, struct fb_cmap* cmap) {
    struct fake_fb_state* state = fake_node_state(node, sizeof *state);

    if (cmap->start >= FAKE_FB_CMAP_SIZE || cmap->len > FAKE_FB_CMAP_SIZE - cmap->start) {
        errno = EINVAL;
        return -1;
    }
    memcpy(cmap->red, state->red + cmap->start, cmap->len * sizeof *cmap->red);
    memcpy(cmap->green, state->green + cmap->start, cmap->len * sizeof *cmap->green);
    memcpy(cmap->blue, state->blue + cmap->start, cmap->len * sizeof *cmap->blue);
    return 0;
}

static int fake_fb_ioctl(struct fake_node* node, unsigned long request, void* arg) {
    switch (request) {
        case FBIOGET_VSCREENINFO:
            fake_fb_var(node, arg);
            return 0;
        case FBIOPUTCMAP:
            return fake_fb_put_cmap(node, arg);
        case FBIOGETCMAP:
            return fake_fb_get_cmap(node, arg);
        default:
            errno = EINVAL;
            return -1;
    }
}

static const struct fake_device fake_fb = {
    .kind = "fb",
    .open = fake_fb_open,
    .ioctl = fake_fb_ioctl,
};
FAKE_DEVICE(fake_fb)
