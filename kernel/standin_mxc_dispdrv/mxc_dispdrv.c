// SPDX-License-Identifier: GPL-2.0
/*
 * Stand-in for the i.MX display-driver registry: a list of display-driver
 * records by name, so that display drivers build, load and can be bound by a
 * test the way the framebuffer driver binds them.
 */

#include <linux/err.h>
#include <linux/list.h>
#include <linux/module.h>
#include <linux/mutex.h>
#include <linux/slab.h>
#include <linux/string.h>

#include "mxc_dispdrv.h"

struct mxc_dispdrv_handle {
	struct list_head node;
	struct mxc_dispdrv_driver *drv;
	void *data;
};

/* Also held across a driver's init, so that it cannot be unregistered meanwhile. */
static DEFINE_MUTEX(mxc_dispdrv_lock);
static LIST_HEAD(mxc_dispdrv_list);

static struct mxc_dispdrv_handle *mxc_dispdrv_find(const char *name)
{
	struct mxc_dispdrv_handle *handle;

	list_for_each_entry(handle, &mxc_dispdrv_list, node)
		if (!strcmp(handle->drv->name, name))
			return handle;
	return NULL;
}

struct mxc_dispdrv_handle *mxc_dispdrv_register(struct mxc_dispdrv_driver *drv)
{
	struct mxc_dispdrv_handle *handle;

	if (!drv || !drv->name || !drv->init)
		return ERR_PTR(-EINVAL);
	handle = kzalloc(sizeof(*handle), GFP_KERNEL);
	if (!handle)
		return ERR_PTR(-ENOMEM);
	handle->drv = drv;

	mutex_lock(&mxc_dispdrv_lock);
	if (mxc_dispdrv_find(drv->name)) {
		mutex_unlock(&mxc_dispdrv_lock);
		kfree(handle);
		return ERR_PTR(-EBUSY);
	}
	list_add_tail(&handle->node, &mxc_dispdrv_list);
	mutex_unlock(&mxc_dispdrv_lock);
	return handle;
}
EXPORT_SYMBOL(mxc_dispdrv_register);

int mxc_dispdrv_unregister(struct mxc_dispdrv_handle *handle)
{
	struct mxc_dispdrv_handle *entry;
	int ret = -EINVAL;

	mutex_lock(&mxc_dispdrv_lock);
	list_for_each_entry(entry, &mxc_dispdrv_list, node) {
		if (entry == handle) {
			list_del(&entry->node);
			kfree(entry);
			ret = 0;
			break;
		}
	}
	mutex_unlock(&mxc_dispdrv_lock);
	return ret;
}
EXPORT_SYMBOL(mxc_dispdrv_unregister);

int mxc_dispdrv_setdata(struct mxc_dispdrv_handle *handle, void *data)
{
	if (IS_ERR_OR_NULL(handle))
		return -EINVAL;
	handle->data = data;
	return 0;
}
EXPORT_SYMBOL(mxc_dispdrv_setdata);

void *mxc_dispdrv_getdata(struct mxc_dispdrv_handle *handle)
{
	if (IS_ERR_OR_NULL(handle))
		return NULL;
	return handle->data;
}
EXPORT_SYMBOL(mxc_dispdrv_getdata);

struct mxc_dispdrv_handle *mxc_dispdrv_gethandle(const char *name,
						 struct mxc_dispdrv_setting *setting)
{
	struct mxc_dispdrv_handle *handle;
	int ret;

	mutex_lock(&mxc_dispdrv_lock);
	handle = name ? mxc_dispdrv_find(name) : NULL;
	if (!handle) {
		handle = ERR_PTR(-ENODEV);
	} else {
		ret = handle->drv->init(handle, setting);
		if (ret < 0)
			handle = ERR_PTR(ret);
	}
	mutex_unlock(&mxc_dispdrv_lock);
	return handle;
}
EXPORT_SYMBOL(mxc_dispdrv_gethandle);

void mxc_dispdrv_puthandle(struct mxc_dispdrv_handle *handle)
{
}
EXPORT_SYMBOL(mxc_dispdrv_puthandle);

MODULE_LICENSE("GPL");
MODULE_DESCRIPTION("i.MX display-driver registry (stand-in)");
