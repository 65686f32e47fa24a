/*
 * Fake kernel: the framebuffer's mode helpers over the real user-space
 * screen information. fb_find_mode's result is chosen by the test.
 */
#ifndef FAKE_LINUX_FB_H
#define FAKE_LINUX_FB_H

#include_next <linux/fb.h>
#include <linux/list.h>
#include <linux/types.h>

#ifdef __cplusplus
extern "C" {
#endif

struct fb_videomode {
    const char* name;
    u32 refresh;
    u32 xres;
    u32 yres;
    u32 pixclock;
    u32 left_margin;
    u32 right_margin;
    u32 upper_margin;
    u32 lower_margin;
    u32 hsync_len;
    u32 vsync_len;
    u32 sync;
    u32 vmode;
    u32 flag;
};

struct fb_modelist {
    struct list_head list;
    struct fb_videomode mode;
};

struct fb_info {
    struct fb_var_screeninfo var;
    struct list_head modelist;
};

int fb_find_mode(struct fb_var_screeninfo* var, struct fb_info* info, const char* mode_option,
                 const struct fb_videomode* db, unsigned int dbsize,
                 const struct fb_videomode* default_mode, unsigned int default_bpp);
void fb_var_to_videomode(struct fb_videomode* mode, const struct fb_var_screeninfo* var);
void fb_videomode_to_var(struct fb_var_screeninfo* var, const struct fb_videomode* mode);
int fb_mode_is_equal(const struct fb_videomode* mode1, const struct fb_videomode* mode2);
int fb_add_videomode(const struct fb_videomode* mode, struct list_head* head);
void fb_destroy_modelist(struct list_head* head);

#ifdef __cplusplus
}
#endif

#endif
