/*
 * Fake kernel: the display-driver registry, holding one registration at a
 * time (all a single driver makes); registration can be made to fail.
 */
#include <stdlib.h>
#include <string.h>

#include "fake_kernel.h"

struct mxc_dispdrv_handle {
    struct mxc_dispdrv_driver* drv;
    void* data;
};

static struct mxc_dispdrv_handle* fake_dispdrv_handle;

struct mxc_dispdrv_handle* mxc_dispdrv_register(struct mxc_dispdrv_driver* drv) {
    if (fake_kernel.register_error)
        return (struct mxc_dispdrv_handle*)ERR_PTR(fake_kernel.register_error);
    if (fake_dispdrv_handle)
        return (struct mxc_dispdrv_handle*)ERR_PTR(-EBUSY);
    fake_dispdrv_handle = calloc(1, sizeof(*fake_dispdrv_handle));
    if (!fake_dispdrv_handle)
        abort();
    fake_dispdrv_handle->drv = drv;
    return fake_dispdrv_handle;
}

int mxc_dispdrv_unregister(struct mxc_dispdrv_handle* handle) {
    if (!handle || handle != fake_dispdrv_handle)
        return -EINVAL;
    free(fake_dispdrv_handle);
    fake_dispdrv_handle = NULL;
    return 0;
}

int mxc_dispdrv_setdata(struct mxc_dispdrv_handle* handle, void* data) {
    if (IS_ERR_OR_NULL(handle))
        return -EINVAL;
    handle->data = data;
    return 0;
}

void* mxc_dispdrv_getdata(struct mxc_dispdrv_handle* handle) {
    return IS_ERR_OR_NULL(handle) ? NULL : handle->data;
}

void mxc_dispdrv_puthandle(struct mxc_dispdrv_handle* handle) {
    fake_kernel.puthandle_calls++;
    fake_kernel.last_put = handle;
}

struct mxc_dispdrv_handle* fake_dispdrv_find(const char* name) {
    if (fake_dispdrv_handle && !strcmp(fake_dispdrv_handle->drv->name, name))
        return fake_dispdrv_handle;
    return NULL;
}

int fake_dispdrv_bind(const char* name, struct mxc_dispdrv_setting* setting) {
    struct mxc_dispdrv_handle* handle = fake_dispdrv_find(name);

    return handle ? handle->drv->init(handle, setting) : -ENODEV;
}

int fake_dispdrv_registered(void) {
    return fake_dispdrv_handle != NULL;
}
