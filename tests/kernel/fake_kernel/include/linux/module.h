/*
 * Fake kernel: the module macros leave what a module declares in objects
 * named fake_module_*, so a test can load and unload the module and read
 * its information.
 */
#ifndef FAKE_LINUX_MODULE_H
#define FAKE_LINUX_MODULE_H

#include <linux/mod_devicetable.h>

#ifdef __cplusplus
extern "C" {
#endif

extern int (*const fake_module_init)(void);
extern void (*const fake_module_exit)(void);
extern const char fake_module_license[];
extern const char fake_module_description[];
extern const struct of_device_id* const fake_module_of_table;

#ifdef __cplusplus
}
#endif

#define module_init(fn) int (*const fake_module_init)(void) = fn
#define module_exit(fn) void (*const fake_module_exit)(void) = fn
#define MODULE_LICENSE(text) const char fake_module_license[] = text
#define MODULE_DESCRIPTION(text) const char fake_module_description[] = text
#define MODULE_DEVICE_TABLE(type, table) \
    const struct type##_device_id* const fake_module_##type##_table = table

#endif
