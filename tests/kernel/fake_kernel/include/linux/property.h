/*
 * Fake kernel: firmware-node property reads from the device's property
 * table; an absent property gives -EINVAL, as the kernel's reads do.
 */
#ifndef FAKE_LINUX_PROPERTY_H
#define FAKE_LINUX_PROPERTY_H

#include <linux/device.h>

#ifdef __cplusplus
extern "C" {
#endif

int device_property_read_string(struct device* dev, const char* propname, const char** val);
int device_property_read_u32(struct device* dev, const char* propname, u32* val);

#ifdef __cplusplus
}
#endif

#endif
