/* Fake kernel: device core, managed resources, properties, pin control, log. */
#include "fake_kernel.h"

#include <linux/pinctrl/consumer.h>
#include <linux/property.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

struct fake_kernel fake_kernel;

struct fake_devres {
    struct fake_devres* next;
    void (*action)(void* data); /* NULL for an allocation */
    void* data;
};

void fake_kernel_reset(void) {
    memset(&fake_kernel, 0, sizeof(fake_kernel));
}

static struct fake_devres* fake_devres_add(struct device* dev, size_t size) {
    struct fake_devres* res;

    if (++fake_kernel.devm_calls == fake_kernel.devm_fail_at)
        return NULL;
    res = calloc(1, sizeof(*res) + size);
    if (!res)
        abort();
    res->next = dev->devres;
    dev->devres = res;
    return res;
}

void* devm_kzalloc(struct device* dev, size_t size, gfp_t gfp) {
    struct fake_devres* res = fake_devres_add(dev, size);

    (void)gfp;
    return res ? res + 1 : NULL;
}

int devm_add_action(struct device* dev, void (*action)(void*), void* data) {
    struct fake_devres* res = fake_devres_add(dev, 0);

    if (!res)
        return -ENOMEM;
    res->action = action;
    res->data = data;
    return 0;
}

static void fake_devres_release_all(struct device* dev) {
    while (dev->devres) {
        struct fake_devres* res = dev->devres;

        dev->devres = res->next;
        if (res->action)
            res->action(res->data);
        free(res);
    }
}

int fake_devres_count(const struct device* dev) {
    int count = 0;
    const struct fake_devres* res;

    for (res = dev->devres; res; res = res->next)
        count++;
    return count;
}

int fake_platform_probe(struct platform_device* pdev) {
    int ret = fake_kernel.registered_driver->probe(pdev);

    if (ret) {
        fake_devres_release_all(&pdev->dev);
        dev_set_drvdata(&pdev->dev, NULL);
    }
    return ret;
}

int fake_platform_remove(struct platform_device* pdev) {
    int ret = fake_kernel.registered_driver->remove(pdev);

    fake_devres_release_all(&pdev->dev);
    dev_set_drvdata(&pdev->dev, NULL);
    return ret;
}

int platform_driver_register(struct platform_driver* drv) {
    fake_kernel.registered_driver = drv;
    return 0;
}

void platform_driver_unregister(struct platform_driver* drv) {
    if (fake_kernel.registered_driver == drv)
        fake_kernel.registered_driver = NULL;
}

static const struct fake_property* fake_property_find(const struct device* dev,
                                                      const char* propname) {
    const struct fake_property* prop;

    for (prop = dev->properties; prop && prop->name; prop++)
        if (!strcmp(prop->name, propname))
            return prop;
    return NULL;
}

int device_property_read_string(struct device* dev, const char* propname, const char** val) {
    const struct fake_property* prop = fake_property_find(dev, propname);

    if (prop && prop->error)
        return prop->error;
    if (!prop || !prop->string)
        return -EINVAL;
    *val = prop->string;
    return 0;
}

int device_property_read_u32(struct device* dev, const char* propname, u32* val) {
    const struct fake_property* prop = fake_property_find(dev, propname);

    if (prop && prop->error)
        return prop->error;
    if (!prop || prop->string)
        return -EINVAL;
    *val = prop->value;
    return 0;
}

struct pinctrl* devm_pinctrl_get_select_default(struct device* dev) {
    /* Any valid pointer: the driver only tests it for an error. */
    static int pinctrl;

    (void)dev;
    fake_kernel.pinctrl_calls++;
    if (fake_kernel.pinctrl_error)
        return (struct pinctrl*)ERR_PTR(fake_kernel.pinctrl_error);
    return (struct pinctrl*)&pinctrl;
}

void fake_dev_err(const struct device* dev, const char* fmt, ...) {
    size_t used = strlen(fake_kernel.dev_err_log);
    va_list args;

    (void)dev;
    va_start(args, fmt);
    vsnprintf(fake_kernel.dev_err_log + used, sizeof(fake_kernel.dev_err_log) - used, fmt, args);
    va_end(args);
}
