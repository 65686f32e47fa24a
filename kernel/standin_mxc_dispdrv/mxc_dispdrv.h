/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Display-driver registry of the i.MX framebuffer: display drivers register a
 * record under a name, and the framebuffer driver later finds one by name and
 * has it set up the framebuffer's video mode.
 *
 * This is a stand-in for the vendor kernel's registry module, which is not
 * available outside the vendor tree. It offers the calls a display driver
 * makes, plus the one call a test needs to play the framebuffer driver.
 */
#ifndef MXC_DISPDRV_H
#define MXC_DISPDRV_H

#include <linux/types.h>

struct fb_info;
struct mxc_dispdrv_handle;

/* What the framebuffer driver hands to a display driver's init. */
struct mxc_dispdrv_setting {
	struct fb_info *fbi;		/* var and modelist are set by init */
	const char *default_mode_str;	/* mode option for fb_find_mode; may be NULL */
	unsigned int default_bpp;	/* bits per pixel when the option names none */
	u32 if_fmt;			/* interface pixel format, four-character code */
	int disp_port;			/* framebuffer display port, set by init */
};

struct mxc_dispdrv_driver {
	const char *name;
	/* Returns a negative error code on failure, 0 or more on success. */
	int (*init)(struct mxc_dispdrv_handle *handle,
		    struct mxc_dispdrv_setting *setting);
	void (*deinit)(struct mxc_dispdrv_handle *handle);
};

/*
 * Registers @drv under drv->name; the record must outlive the registration.
 * Returns the handle, ERR_PTR(-EINVAL) for a record without name or init,
 * ERR_PTR(-EBUSY) when the name is taken, ERR_PTR(-ENOMEM).
 */
struct mxc_dispdrv_handle *mxc_dispdrv_register(struct mxc_dispdrv_driver *drv);

/* Removes a registration. Returns 0, or -EINVAL for an unknown handle. */
int mxc_dispdrv_unregister(struct mxc_dispdrv_handle *handle);

/* Attaches driver data to the handle. Returns 0, or -EINVAL for no handle. */
int mxc_dispdrv_setdata(struct mxc_dispdrv_handle *handle, void *data);

/* Returns the data attached to the handle, or NULL if none (or no handle). */
void *mxc_dispdrv_getdata(struct mxc_dispdrv_handle *handle);

/*
 * Finds the driver registered as @name and calls its init with @setting.
 * Returns the handle, ERR_PTR(-ENODEV) when no driver has that name (or
 * @name is NULL), or ERR_PTR() of the negative result of init.
 */
struct mxc_dispdrv_handle *mxc_dispdrv_gethandle(const char *name,
						 struct mxc_dispdrv_setting *setting);

/*
 * Gives back a handle. The stand-in keeps no state per binding, so this
 * changes nothing; a display driver may give back its own handle before
 * unregistering it.
 */
void mxc_dispdrv_puthandle(struct mxc_dispdrv_handle *handle);

#endif /* MXC_DISPDRV_H */
