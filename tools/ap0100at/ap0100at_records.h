/*
 * The two records the AP0100AT sub-device driver exchanges through its
 * private ioctls, and the four request codes. The driver copies the records
 * byte for byte, so their layout is fixed here and checked at compile time.
 */
#ifndef AP0100AT_RECORDS_H
#define AP0100AT_RECORDS_H

#include <linux/ioctl.h>
#include <stddef.h>
#include <stdint.h>

/* Register or firmware variable access, for writes and reads. */
struct ap0100at_access {
    uint16_t address; /* register, or AP0100AT_VARIABLE_ADDRESS(page, offset) */
    uint16_t flags;   /* AP0100AT_ACCESS_8BIT, _16BIT or _32BIT */
    uint32_t value;   /* written, or read back */
    uint32_t mask;    /* the bits of value the driver takes */
};

#define AP0100AT_COMMAND_WORDS 8

/* Host command; zeroed before use so that the reserved bytes stay zero. */
struct ap0100at_command {
    uint16_t code;
    uint16_t parameters[AP0100AT_COMMAND_WORDS];
    uint16_t reserved;
    uint32_t parameter_count;
    uint32_t response_count;
    int32_t result;                            /* filled in by the driver */
    uint16_t response[AP0100AT_COMMAND_WORDS]; /* filled in by the driver */
};

_Static_assert(sizeof(struct ap0100at_access) == 12, "access record is 12 bytes");
_Static_assert(offsetof(struct ap0100at_access, address) == 0, "address at 0");
_Static_assert(offsetof(struct ap0100at_access, flags) == 2, "flags at 2");
_Static_assert(offsetof(struct ap0100at_access, value) == 4, "value at 4");
_Static_assert(offsetof(struct ap0100at_access, mask) == 8, "mask at 8");

_Static_assert(sizeof(struct ap0100at_command) == 48, "command record is 48 bytes");
_Static_assert(offsetof(struct ap0100at_command, code) == 0, "code at 0");
_Static_assert(offsetof(struct ap0100at_command, parameters) == 2, "parameters at 2");
_Static_assert(offsetof(struct ap0100at_command, reserved) == 18, "reserved at 18");
_Static_assert(offsetof(struct ap0100at_command, parameter_count) == 20, "count at 20");
_Static_assert(offsetof(struct ap0100at_command, response_count) == 24, "wanted at 24");
_Static_assert(offsetof(struct ap0100at_command, result) == 28, "result at 28");
_Static_assert(offsetof(struct ap0100at_command, response) == 32, "response at 32");

/* Access flags; every register access is a 16-bit one to the driver. */
#define AP0100AT_ACCESS_8BIT 0x0000
#define AP0100AT_ACCESS_16BIT 0x0010
#define AP0100AT_ACCESS_32BIT 0x0030
#define AP0100AT_REGISTER_FLAGS AP0100AT_ACCESS_16BIT
#define AP0100AT_REGISTER_MASK 0xffffffffu

/* A firmware variable lives on one of 32 pages of 1024 bytes. */
#define AP0100AT_VARIABLE_BIT 0x8000
#define AP0100AT_PAGE_MAX 31
#define AP0100AT_OFFSET_MAX 0x3ff
#define AP0100AT_PAGE_SHIFT 10
#define AP0100AT_VARIABLE_ADDRESS(page, offset) \
    (AP0100AT_VARIABLE_BIT | ((page) << AP0100AT_PAGE_SHIFT) | (offset))

#define AP0100AT_IOCTL_REG_COMMAND _IOWR('a', 0x20, struct ap0100at_command)
#define AP0100AT_IOCTL_REG_WRITE _IOW('a', 0x21, struct ap0100at_access)
/* Declared write-only, yet drivers fill the value field (and return the
 * register content as the call's result); both programs rely on that. */
#define AP0100AT_IOCTL_REG_READ _IOW('a', 0x22, struct ap0100at_access)
#define AP0100AT_IOCTL_REG_READ32 _IOWR('a', 0x22, struct ap0100at_access)

/* The driver was built with these numbers; a layout change must not move them. */
_Static_assert(AP0100AT_IOCTL_REG_COMMAND == 0xc0306120u, "command request code");
_Static_assert(AP0100AT_IOCTL_REG_WRITE == 0x400c6121u, "write request code");
_Static_assert(AP0100AT_IOCTL_REG_READ == 0x400c6122u, "read request code");
_Static_assert(AP0100AT_IOCTL_REG_READ32 == 0xc00c6122u, "32-bit read request code");

#endif
