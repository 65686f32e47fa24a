/* Fake kernel: the kernel's own integer names over the user-space types. */
#ifndef FAKE_LINUX_TYPES_H
#define FAKE_LINUX_TYPES_H

#include_next <linux/types.h>
#include <stddef.h>
#ifndef __cplusplus
#include <stdbool.h>
#endif

typedef __u8 u8;
typedef __u16 u16;
typedef __u32 u32;
typedef __u64 u64;
typedef __s32 s32;
typedef unsigned int gfp_t;

struct list_head {
    struct list_head *next, *prev;
};

#endif
