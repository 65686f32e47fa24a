/* Fake kernel: framebuffer mode helpers, plain copies of the mode fields. */
#include <stdlib.h>
#include <string.h>

#include "fake_kernel.h"

int fb_find_mode(struct fb_var_screeninfo* var, struct fb_info* info, const char* mode_option,
                 const struct fb_videomode* db, unsigned int dbsize,
                 const struct fb_videomode* default_mode, unsigned int default_bpp) {
    unsigned int i;

    (void)info;
    fake_kernel.find_mode_calls++;
    fake_kernel.find_mode_option = mode_option;
    fake_kernel.find_mode_db = db;
    fake_kernel.find_mode_dbsize = dbsize;
    fake_kernel.find_mode_default = default_mode;
    fake_kernel.find_mode_bpp = default_bpp;
    if (!fake_kernel.find_mode_result)
        return 0;

    if (fake_kernel.find_mode_loads) {
        fb_videomode_to_var(var, fake_kernel.find_mode_loads);
    } else {
        for (i = 0; mode_option && i < dbsize; i++)
            if (db[i].name && !strcmp(db[i].name, mode_option))
                fb_videomode_to_var(var, &db[i]);
    }
    return fake_kernel.find_mode_result;
}

void fb_var_to_videomode(struct fb_videomode* mode, const struct fb_var_screeninfo* var) {
    memset(mode, 0, sizeof(*mode));
    mode->xres = var->xres;
    mode->yres = var->yres;
    mode->pixclock = var->pixclock;
    mode->left_margin = var->left_margin;
    mode->right_margin = var->right_margin;
    mode->upper_margin = var->upper_margin;
    mode->lower_margin = var->lower_margin;
    mode->hsync_len = var->hsync_len;
    mode->vsync_len = var->vsync_len;
    mode->sync = var->sync;
    mode->vmode = var->vmode & FB_VMODE_MASK;
}

void fb_videomode_to_var(struct fb_var_screeninfo* var, const struct fb_videomode* mode) {
    var->xres = mode->xres;
    var->yres = mode->yres;
    var->xres_virtual = mode->xres;
    var->yres_virtual = mode->yres;
    var->xoffset = 0;
    var->yoffset = 0;
    var->pixclock = mode->pixclock;
    var->left_margin = mode->left_margin;
    var->right_margin = mode->right_margin;
    var->upper_margin = mode->upper_margin;
    var->lower_margin = mode->lower_margin;
    var->hsync_len = mode->hsync_len;
    var->vsync_len = mode->vsync_len;
    var->sync = mode->sync;
    var->vmode = mode->vmode & FB_VMODE_MASK;
}

/* Refresh, name and flag are not part of a mode's timing. */
int fb_mode_is_equal(const struct fb_videomode* mode1, const struct fb_videomode* mode2) {
    return mode1->xres == mode2->xres && mode1->yres == mode2->yres &&
           mode1->pixclock == mode2->pixclock && mode1->hsync_len == mode2->hsync_len &&
           mode1->vsync_len == mode2->vsync_len && mode1->left_margin == mode2->left_margin &&
           mode1->right_margin == mode2->right_margin &&
           mode1->upper_margin == mode2->upper_margin &&
           mode1->lower_margin == mode2->lower_margin && mode1->sync == mode2->sync &&
           mode1->vmode == mode2->vmode;
}

int fb_add_videomode(const struct fb_videomode* mode, struct list_head* head) {
    struct list_head* pos;
    struct fb_modelist* entry;

    for (pos = head->next; pos != head; pos = pos->next) {
        entry = (struct fb_modelist*)pos;
        if (fb_mode_is_equal(&entry->mode, mode)) {
            entry->mode = *mode;
            return 0;
        }
    }
    entry = malloc(sizeof(*entry));
    if (!entry)
        return -ENOMEM;
    entry->mode = *mode;
    list_add_tail(&entry->list, head);
    fake_kernel.modelist_entries_live++;
    return 0;
}

void fb_destroy_modelist(struct list_head* head) {
    while (!list_empty(head)) {
        struct list_head* pos = head->next;

        list_del(pos);
        free(pos);
        fake_kernel.modelist_entries_live--;
    }
}
