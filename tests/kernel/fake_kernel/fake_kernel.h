/*
 * Control side of the fake kernel a driver is compiled against in user
 * space: what the test sets before a call (failures to inject, property
 * tables, fb_find_mode's result) and what it reads afterwards (messages,
 * registrations, managed resources, calls made).
 */
#ifndef FAKE_KERNEL_H
#define FAKE_KERNEL_H

#include <linux/device.h>
#include <linux/err.h>
#include <linux/fb.h>
#include <linux/module.h>
#include <linux/platform_device.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A kernel header, so without C++ linkage of its own. */
#include "mxc_dispdrv.h"

/* One firmware property; a table ends with a NULL name. */
struct fake_property {
    const char* name;
    const char* string; /* NULL for a u32 property */
    u32 value;
    int error; /* non-zero: reading the property fails with it */
};

struct fake_kernel {
    /* Managed allocations (devm_kzalloc and devm_add_action) counted from 1. */
    int devm_fail_at; /* 0: none fails */
    int devm_calls;

    int pinctrl_error; /* 0: selecting the default state succeeds */
    int pinctrl_calls;

    char dev_err_log[1024]; /* every dev_err message, concatenated */

    struct platform_driver* registered_driver;

    /* fb_find_mode returns find_mode_result. When it is non-zero, the
     * screen information takes find_mode_loads if set, else the database
     * entry named by the mode option, as the kernel's search would.
     */
    int find_mode_result;
    const struct fb_videomode* find_mode_loads;
    int find_mode_calls;
    const char* find_mode_option;
    const struct fb_videomode* find_mode_db;
    unsigned int find_mode_dbsize;
    const struct fb_videomode* find_mode_default;
    unsigned int find_mode_bpp;
    int modelist_entries_live; /* allocated by fb_add_videomode, not yet freed */

    int register_error; /* 0: mxc_dispdrv_register succeeds */
    int puthandle_calls;
    struct mxc_dispdrv_handle* last_put;
};

extern struct fake_kernel fake_kernel;

/* Clears every setting and record; registrations must be gone by then. */
void fake_kernel_reset(void);

/* As the driver core: probe, and on failure release the managed resources. */
int fake_platform_probe(struct platform_device* pdev);
/* As the driver core: remove, then release the managed resources. */
int fake_platform_remove(struct platform_device* pdev);
/* Managed resources the device still holds. */
int fake_devres_count(const struct device* dev);

/* Plays the framebuffer driver: calls the init of the driver registered
 * as name. Returns its result, or -ENODEV when none is registered.
 */
int fake_dispdrv_bind(const char* name, struct mxc_dispdrv_setting* setting);
int fake_dispdrv_registered(void);
/* The handle of the driver registered as name, or NULL. */
struct mxc_dispdrv_handle* fake_dispdrv_find(const char* name);

#ifdef __cplusplus
}
#endif

#endif
