/* Fake kernel: the helpers of <linux/kernel.h> a driver uses. */
#ifndef FAKE_LINUX_KERNEL_H
#define FAKE_LINUX_KERNEL_H

#include_next <linux/kernel.h>
#include <linux/types.h>

#define ARRAY_SIZE(arr) (sizeof(arr) / sizeof((arr)[0]))

#endif
