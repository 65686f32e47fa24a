/* Fake kernel: error pointers as the kernel encodes them. */
#ifndef FAKE_LINUX_ERR_H
#define FAKE_LINUX_ERR_H

#include <errno.h>
#include <linux/types.h>
#include <stdint.h>

/* Kernel-internal codes that user space does not define. */
#define EPROBE_DEFER 517

#define MAX_ERRNO 4095

static inline void* ERR_PTR(long error) {
    return (void*)error;
}

static inline long PTR_ERR(const void* ptr) {
    return (long)(intptr_t)ptr;
}

static inline bool IS_ERR(const void* ptr) {
    return (uintptr_t)ptr >= (uintptr_t)-MAX_ERRNO;
}

static inline bool IS_ERR_OR_NULL(const void* ptr) {
    return !ptr || IS_ERR(ptr);
}

#endif
