/*
 * Fake kernel: a device with its data pointers, its firmware properties (a
 * table the test sets) and its managed resources, released newest first as
 * the driver core does after a failed probe or a remove.
 */
#ifndef FAKE_LINUX_DEVICE_H
#define FAKE_LINUX_DEVICE_H

#include <linux/types.h>

#ifdef __cplusplus
extern "C" {
#endif

#define GFP_KERNEL 0u

struct fake_property;
struct fake_devres;

struct device {
    void* platform_data;
    void* driver_data;
    const struct fake_property* properties;
    struct fake_devres* devres;
};

static inline void* dev_get_platdata(const struct device* dev) {
    return dev->platform_data;
}

static inline void* dev_get_drvdata(const struct device* dev) {
    return dev->driver_data;
}

static inline void dev_set_drvdata(struct device* dev, void* data) {
    dev->driver_data = data;
}

void* devm_kzalloc(struct device* dev, size_t size, gfp_t gfp);
int devm_add_action(struct device* dev, void (*action)(void*), void* data);

__attribute__((format(printf, 2, 3))) void fake_dev_err(const struct device* dev, const char* fmt,
                                                        ...);
#define dev_err(dev, ...) fake_dev_err(dev, __VA_ARGS__)

#ifdef __cplusplus
}
#endif

#endif
