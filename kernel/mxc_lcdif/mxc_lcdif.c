// SPDX-License-Identifier: GPL-2.0
/*
 * Parallel LCD panels on the i.MX IPUv3 display interfaces: registers the
 * "lcd" display driver with the display-driver registry and, when the
 * framebuffer driver binds it, picks the video mode from the panel table.
 */

#include <linux/err.h>
#include <linux/fb.h>
#include <linux/kernel.h>
#include <linux/mod_devicetable.h>
#include <linux/module.h>
#include <linux/pinctrl/consumer.h>
#include <linux/platform_device.h>
#include <linux/property.h>
#include <linux/string.h>

#include "mxc_dispdrv.h"

#define MXC_LCDIF_FOURCC(a, b, c, d) \
	((u32)(a) | ((u32)(b) << 8) | ((u32)(c) << 16) | ((u32)(d) << 24))

/* The i.MX framebuffer's flag: pixel data latched on the falling clock edge. */
#define MXC_LCDIF_SYNC_CLK_LAT_FALL	0x40000000

struct mxc_lcdif_plat_data {
	u32 ipu_id;
	u32 disp_id;
	u32 default_ifmt;
};

struct mxc_lcdif_data {
	struct platform_device *pdev;
	struct mxc_dispdrv_handle *disp_lcdif;
};

struct mxc_lcdif_ifmt {
	const char *name;
	u32 code;
};

/* Names match by prefix, in this order: "RGB24" also takes "RGB24-foo". */
static const struct mxc_lcdif_ifmt mxc_lcdif_ifmts[] = {
	{ "RGB24",   MXC_LCDIF_FOURCC('R', 'G', 'B', '3') },
	{ "BGR24",   MXC_LCDIF_FOURCC('B', 'G', 'R', '3') },
	{ "GBR24",   MXC_LCDIF_FOURCC('G', 'B', 'R', '3') },
	{ "RGB565",  MXC_LCDIF_FOURCC('R', 'G', 'B', 'P') },
	{ "RGB666",  MXC_LCDIF_FOURCC('R', 'G', 'B', '6') },
	{ "YUV444",  MXC_LCDIF_FOURCC('Y', '4', '4', '4') },
	{ "LVDS666", MXC_LCDIF_FOURCC('L', 'V', 'D', '6') },
	{ "YUYV16",  MXC_LCDIF_FOURCC('Y', 'U', 'Y', 'V') },
	{ "UYVY16",  MXC_LCDIF_FOURCC('U', 'Y', 'V', 'Y') },
	{ "YVYU16",  MXC_LCDIF_FOURCC('Y', 'V', 'Y', 'U') },
	{ "VYUY16",  MXC_LCDIF_FOURCC('V', 'Y', 'U', 'Y') },
};

struct mxc_lcdif_port {
	u32 ipu_id;
	u32 disp_id;
	int disp_port;
};

/* The framebuffer driver's display port of each IPU display interface. */
static const struct mxc_lcdif_port mxc_lcdif_ports[] = {
	{ 0, 0, 2 },
	{ 0, 1, 3 },
	{ 1, 0, 4 },
	{ 1, 1, 5 },
};

/*
 * Pixel clock in ps; margins and sync lengths in pixels or lines. The first
 * entry is the fallback when the requested mode is not found.
 */
static const struct fb_videomode mxc_lcdif_modedb[] = {
	/* name, refresh, xres, yres, pixclock, left, right, upper, lower,
	 * hsync, vsync, sync, vmode, flag
	 */
	{ "CLAA-WVGA", 57, 800, 480, 37037, 40, 60, 10, 10, 20, 10,
	  MXC_LCDIF_SYNC_CLK_LAT_FALL, FB_VMODE_NONINTERLACED, 0 },
	{ "SEIKO-WVGA", 60, 800, 480, 29850, 89, 164, 23, 10, 10, 10,
	  MXC_LCDIF_SYNC_CLK_LAT_FALL, FB_VMODE_NONINTERLACED, 0 },
	{ "ST0500A1W", 60, 720, 1280, 17544, 6, 6, 6, 2, 4, 2,
	  0, FB_VMODE_NONINTERLACED, 0 },
	{ "ETM0700G0DH6", 60, 480, 800, 33260, 63, 10, 15, 15, 10, 15,
	  MXC_LCDIF_SYNC_CLK_LAT_FALL | FB_SYNC_HOR_HIGH_ACT |
	  FB_SYNC_VERT_HIGH_ACT, FB_VMODE_NONINTERLACED, 0 },
};

static int mxc_lcdif_disp_port(const struct mxc_lcdif_plat_data *plat)
{
	size_t i;

	for (i = 0; i < ARRAY_SIZE(mxc_lcdif_ports); i++)
		if (mxc_lcdif_ports[i].ipu_id == plat->ipu_id &&
		    mxc_lcdif_ports[i].disp_id == plat->disp_id)
			return mxc_lcdif_ports[i].disp_port;
	return -EINVAL;
}

/* Leaves the list holding the table entry of the mode in var, if there is one. */
static void mxc_lcdif_set_modelist(struct fb_info *fbi)
{
	struct fb_videomode mode;
	size_t i;

	/*
	 * framebuffer_alloc leaves the list unset until register_framebuffer,
	 * and the framebuffer driver may bind its display before registering.
	 */
	if (!fbi->modelist.next)
		INIT_LIST_HEAD(&fbi->modelist);
	else
		fb_destroy_modelist(&fbi->modelist);

	fb_var_to_videomode(&mode, &fbi->var);
	for (i = 0; i < ARRAY_SIZE(mxc_lcdif_modedb); i++) {
		if (fb_mode_is_equal(&mode, &mxc_lcdif_modedb[i])) {
			fb_add_videomode(&mxc_lcdif_modedb[i], &fbi->modelist);
			break;
		}
	}
}

static int mxc_lcdif_init(struct mxc_dispdrv_handle *disp,
			  struct mxc_dispdrv_setting *setting)
{
	struct mxc_lcdif_data *lcdif = mxc_dispdrv_getdata(disp);
	struct device *dev = &lcdif->pdev->dev;
	struct mxc_lcdif_plat_data *plat = dev_get_platdata(dev);
	struct fb_info *fbi = setting->fbi;
	int port, ret;

	port = mxc_lcdif_disp_port(plat);
	if (port < 0) {
		dev_err(dev, "failed to get valid ipu di crtc ipu_id %d, ipu_di %d\n",
			plat->ipu_id, plat->disp_id);
		return port;
	}
	setting->disp_port = port;

	ret = fb_find_mode(&fbi->var, fbi, setting->default_mode_str,
			   mxc_lcdif_modedb, ARRAY_SIZE(mxc_lcdif_modedb),
			   NULL, setting->default_bpp);
	if (!ret) {
		fb_videomode_to_var(&fbi->var, &mxc_lcdif_modedb[0]);
		setting->if_fmt = plat->default_ifmt;
	}

	mxc_lcdif_set_modelist(fbi);
	return ret;
}

static void mxc_lcdif_deinit(struct mxc_dispdrv_handle *disp)
{
}

static struct mxc_dispdrv_driver mxc_lcdif_drv = {
	.name	= "lcd",
	.init	= mxc_lcdif_init,
	.deinit	= mxc_lcdif_deinit,
};

static int mxc_lcdif_ifmt_code(const char *name, u32 *code)
{
	size_t i;

	for (i = 0; i < ARRAY_SIZE(mxc_lcdif_ifmts); i++) {
		const char *known = mxc_lcdif_ifmts[i].name;

		if (!strncmp(name, known, strlen(known))) {
			*code = mxc_lcdif_ifmts[i].code;
			return 0;
		}
	}
	return -ENOENT;
}

/*
 * Firmware-node reads: they read the device-tree properties on the device
 * and software-node properties on kernels without device-tree support,
 * where the of_ reads are stubs that always fail.
 */
static int mxc_lcdif_read_properties(struct device *dev,
				     struct mxc_lcdif_plat_data *plat)
{
	const char *ifmt;
	int ret;

	ret = device_property_read_string(dev, "default_ifmt", &ifmt);
	if (!ret)
		ret = device_property_read_u32(dev, "ipu_id", &plat->ipu_id);
	if (!ret)
		ret = device_property_read_u32(dev, "disp_id", &plat->disp_id);
	if (ret)
		return ret;

	ret = mxc_lcdif_ifmt_code(ifmt, &plat->default_ifmt);
	if (ret)
		dev_err(dev, "err default_ifmt!\n");
	return ret;
}

/*
 * Runs when the managed platform data is released, before it is freed: the
 * device must not keep a pointer to it, since releasing a platform device
 * frees its platform data.
 */
static void mxc_lcdif_detach_plat(void *data)
{
	struct device *dev = data;

	dev->platform_data = NULL;
}

static int mxc_lcdif_probe(struct platform_device *pdev)
{
	struct device *dev = &pdev->dev;
	struct mxc_lcdif_plat_data *plat;
	struct mxc_lcdif_data *lcdif;
	struct pinctrl *pinctrl;
	int ret;

	lcdif = devm_kzalloc(dev, sizeof(*lcdif), GFP_KERNEL);
	plat = devm_kzalloc(dev, sizeof(*plat), GFP_KERNEL);
	if (!lcdif || !plat)
		return -ENOMEM;
	ret = devm_add_action(dev, mxc_lcdif_detach_plat, dev);
	if (ret)
		return ret;
	dev->platform_data = plat;

	ret = mxc_lcdif_read_properties(dev, plat);
	if (ret) {
		dev_err(dev, "get lcd of property fail\n");
		return ret;
	}

	pinctrl = devm_pinctrl_get_select_default(dev);
	if (IS_ERR(pinctrl)) {
		dev_err(dev, "can't get/select pinctrl\n");
		return PTR_ERR(pinctrl);
	}

	lcdif->pdev = pdev;
	lcdif->disp_lcdif = mxc_dispdrv_register(&mxc_lcdif_drv);
	if (IS_ERR(lcdif->disp_lcdif))
		return PTR_ERR(lcdif->disp_lcdif);
	mxc_dispdrv_setdata(lcdif->disp_lcdif, lcdif);
	platform_set_drvdata(pdev, lcdif);
	return 0;
}

static int mxc_lcdif_remove(struct platform_device *pdev)
{
	struct mxc_lcdif_data *lcdif = platform_get_drvdata(pdev);

	mxc_dispdrv_puthandle(lcdif->disp_lcdif);
	mxc_dispdrv_unregister(lcdif->disp_lcdif);
	return 0;
}

static const struct of_device_id mxc_lcdif_dt_ids[] = {
	{ .compatible = "fsl,lcd" },
	{ /* sentinel */ }
};
MODULE_DEVICE_TABLE(of, mxc_lcdif_dt_ids);

static struct platform_driver mxc_lcdif_driver = {
	.driver = {
		.name = "mxc_lcdif",
		.of_match_table = mxc_lcdif_dt_ids,
	},
	.probe = mxc_lcdif_probe,
	.remove = mxc_lcdif_remove,
};
module_platform_driver(mxc_lcdif_driver);

MODULE_LICENSE("GPL");
MODULE_DESCRIPTION("i.MX ipuv3 LCD extern port driver");
