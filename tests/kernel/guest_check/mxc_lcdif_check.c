// SPDX-License-Identifier: GPL-2.0
/*
 * Test-only module for an emulated kernel with mxc_dispdrv and mxc_lcdif
 * loaded: registers a platform device "mxc_lcdif" carrying the panel's
 * properties as a software node, plays the framebuffer driver through the
 * registry with a real fb_info, and writes one "PASS <check>" or
 * "FAIL <check>" line per check to the kernel log. Unloading it removes the
 * device, which runs the driver's remove, and ends with "done, <n> failed".
 *
 * On a kernel with a device tree the panel comes from a tree node instead:
 * with bound=1 the module registers nothing and plays the framebuffer driver
 * against the "lcd" that the node's probe registered, expecting ifmt as the
 * node's default format and port as its display port (a negative port: the
 * error every binding must give); with absent=1 it only checks that no "lcd" is
 * registered. Both print "done" at once.
 */
#define pr_fmt(fmt) KBUILD_MODNAME ": " fmt

#include <linux/err.h>
#include <linux/fb.h>
#include <linux/module.h>
#include <linux/pinctrl/machine.h>
#include <linux/platform_device.h>
#include <linux/property.h>

#include "mxc_dispdrv.h"

#define CHECK_CALLER_FMT	0x12345678u	/* none of the driver's codes */
#define CHECK_RGB666		0x36424752u

struct check_mode {
	const char *name;
	u32 xres, yres, pixclock, left, right, upper, lower, hsync, vsync, sync;
};

/* Two rows of the panel table, typed in again. */
static const struct check_mode check_claa = {
	"CLAA-WVGA", 800, 480, 37037, 40, 60, 10, 10, 20, 10, 0x40000000
};
static const struct check_mode check_seiko = {
	"SEIKO-WVGA", 800, 480, 29850, 89, 164, 23, 10, 10, 10, 0x40000000
};

static const struct property_entry check_props[] = {
	PROPERTY_ENTRY_STRING("default_ifmt", "RGB666"),
	PROPERTY_ENTRY_U32("ipu_id", 1),
	PROPERTY_ENTRY_U32("disp_id", 0),
	{ }
};

/* A no-op without pin control, where the driver's selection succeeds anyway. */
static const struct pinctrl_map check_pin_maps[] = {
	PIN_MAP_DUMMY_STATE("mxc_lcdif", "default"),
};

static bool bound;
module_param(bound, bool, 0444);
MODULE_PARM_DESC(bound, "check the lcd registered by a device-tree node");
static bool absent;
module_param(absent, bool, 0444);
MODULE_PARM_DESC(absent, "only check that no lcd is registered");
static uint ifmt = CHECK_RGB666;
module_param(ifmt, uint, 0444);
MODULE_PARM_DESC(ifmt, "the panel's default interface format code");
static int port = 4;
module_param(port, int, 0444);
MODULE_PARM_DESC(port, "the panel's display port, or the error its binding gives");

static struct platform_device *check_pdev;
static bool check_accept_var;
static int check_failed;

static void check(bool ok, const char *what)
{
	if (!ok)
		check_failed++;
	pr_info("%s %s\n", ok ? "PASS" : "FAIL", what);
}

static int check_fb_check_var(struct fb_var_screeninfo *var, struct fb_info *info)
{
	return check_accept_var ? 0 : -EINVAL;
}

static const struct fb_ops check_fbops = {
	.owner = THIS_MODULE,
	.fb_check_var = check_fb_check_var,
};

static bool check_var_is(const struct fb_var_screeninfo *var,
			 const struct check_mode *mode)
{
	return var->xres == mode->xres && var->yres == mode->yres &&
	       var->pixclock == mode->pixclock &&
	       var->left_margin == mode->left &&
	       var->right_margin == mode->right &&
	       var->upper_margin == mode->upper &&
	       var->lower_margin == mode->lower &&
	       var->hsync_len == mode->hsync && var->vsync_len == mode->vsync &&
	       var->sync == mode->sync;
}

/* True when the list holds exactly the named mode, or nothing for NULL. */
static bool check_modelist_is(struct list_head *head, const char *name)
{
	struct fb_modelist *entry;
	int count = 0;
	bool named = true;

	list_for_each_entry(entry, head, list) {
		count++;
		named = name && entry->mode.name && !strcmp(entry->mode.name, name);
	}
	return name ? count == 1 && named : count == 0;
}

/*
 * One binding as the framebuffer driver makes it; @mode NULL: var not
 * checked, @list NULL: the mode list must be empty.
 */
static void check_bind(struct fb_info *fbi, bool accept, const char *mode_str,
		       const struct check_mode *mode, const char *list,
		       u32 if_fmt)
{
	struct mxc_dispdrv_setting setting = {
		.fbi = fbi,
		.default_mode_str = mode_str,
		.default_bpp = 16,
		.if_fmt = CHECK_CALLER_FMT,
		.disp_port = -1,
	};
	struct mxc_dispdrv_handle *handle;

	pr_info("bind with \"%s\", fb_check_var %s\n", mode_str,
		accept ? "accepting" : "refusing");
	check_accept_var = accept;
	handle = mxc_dispdrv_gethandle("lcd", &setting);
	if (port < 0) {
		check(PTR_ERR(handle) == port, "binding refused with the expected error");
		return;
	}
	check(!IS_ERR(handle), "lcd bound");
	if (IS_ERR(handle))
		return;
	check(setting.disp_port == port, "display port of the IPU and interface");
	if (mode)
		check(check_var_is(&fbi->var, mode), mode->name);
	check(setting.if_fmt == if_fmt, "interface format");
	check(check_modelist_is(&fbi->modelist, list),
	      list ? "mode list holds the mode" : "mode list empty");
	mxc_dispdrv_puthandle(handle);
}

static void check_bindings(void)
{
	struct fb_info *fbi = framebuffer_alloc(0, NULL);

	if (!fbi) {
		check(false, "framebuffer_alloc");
		return;
	}
	fbi->fbops = &check_fbops;

	check_bind(fbi, true, "SEIKO-WVGA", &check_seiko, "SEIKO-WVGA", CHECK_CALLER_FMT);
	if (port < 0)
		goto out;
	check_bind(fbi, false, "SEIKO-WVGA", &check_claa, "CLAA-WVGA", ifmt);
	/* A computed mode (M: coordinated video timings) that no panel has. */
	check_bind(fbi, true, "800x480M@60", NULL, NULL, CHECK_CALLER_FMT);
out:
	if (fbi->modelist.next)
		fb_destroy_modelist(&fbi->modelist);
	framebuffer_release(fbi);
}

static int __init check_init(void)
{
	struct platform_device_info info = {
		.name = "mxc_lcdif",
		.id = PLATFORM_DEVID_NONE,
		.properties = check_props,
	};
	struct mxc_dispdrv_setting setting = { };
	int ret;

	if (absent || bound) {
		if (absent)
			check(PTR_ERR(mxc_dispdrv_gethandle("lcd", &setting)) == -ENODEV,
			      "no lcd registered");
		else
			check_bindings();
		pr_info("done, %d failed\n", check_failed);
		return 0;
	}
	ret = pinctrl_register_mappings(check_pin_maps, ARRAY_SIZE(check_pin_maps));
	if (ret)
		return ret;
	check_pdev = platform_device_register_full(&info);
	if (IS_ERR(check_pdev)) {
		pinctrl_unregister_mappings(check_pin_maps);
		return PTR_ERR(check_pdev);
	}

	check(check_pdev->dev.driver != NULL, "device bound to mxc_lcdif");
	if (check_pdev->dev.driver)
		check_bindings();
	return 0;
}

static void __exit check_exit(void)
{
	struct mxc_dispdrv_setting setting = { };

	if (absent || bound)
		return;
	platform_device_unregister(check_pdev);
	pinctrl_unregister_mappings(check_pin_maps);
	check(PTR_ERR(mxc_dispdrv_gethandle("lcd", &setting)) == -ENODEV,
	      "remove unregistered lcd");
	pr_info("done, %d failed\n", check_failed);
}

module_init(check_init);
module_exit(check_exit);

MODULE_LICENSE("GPL");
MODULE_DESCRIPTION("Checks of mxc_lcdif in a running kernel (test only)");
