/* Fake kernel: the device-tree match record, laid out as the kernel's. */
#ifndef FAKE_LINUX_MOD_DEVICETABLE_H
#define FAKE_LINUX_MOD_DEVICETABLE_H

struct of_device_id {
    char name[32];
    char type[32];
    char compatible[128];
    const void* data;
};

#endif
