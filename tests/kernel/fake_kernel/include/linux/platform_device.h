/* Fake kernel: platform devices and drivers; registration is recorded. */
#ifndef FAKE_LINUX_PLATFORM_DEVICE_H
#define FAKE_LINUX_PLATFORM_DEVICE_H

#include <linux/device.h>
#include <linux/mod_devicetable.h>
#include <linux/module.h>

#ifdef __cplusplus
extern "C" {
#endif

struct device_driver {
    const char* name;
    const struct of_device_id* of_match_table;
};

struct platform_device {
    const char* name;
    int id;
    struct device dev;
};

struct platform_driver {
    int (*probe)(struct platform_device* pdev);
    int (*remove)(struct platform_device* pdev);
    struct device_driver driver;
};

static inline void* platform_get_drvdata(const struct platform_device* pdev) {
    return dev_get_drvdata(&pdev->dev);
}

static inline void platform_set_drvdata(struct platform_device* pdev, void* data) {
    dev_set_drvdata(&pdev->dev, data);
}

int platform_driver_register(struct platform_driver* drv);
void platform_driver_unregister(struct platform_driver* drv);

#ifdef __cplusplus
}
#endif

#define module_platform_driver(drv)              \
    static int drv##_init(void) {                \
        return platform_driver_register(&(drv)); \
    }                                            \
    static void drv##_exit(void) {               \
        platform_driver_unregister(&(drv));      \
    }                                            \
    module_init(drv##_init);                     \
    module_exit(drv##_exit)

#endif
