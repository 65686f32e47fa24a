#include "ap0100at_ioctl.h"

#include <sys/ioctl.h>

int ap0100at_ioctl_command(int fd, struct ap0100at_command* command) {
    return ioctl(fd, AP0100AT_IOCTL_REG_COMMAND, command);
}

int ap0100at_ioctl_write(int fd, struct ap0100at_access* access) {
    return ioctl(fd, AP0100AT_IOCTL_REG_WRITE, access);
}

int ap0100at_ioctl_read(int fd, struct ap0100at_access* access) {
    return ioctl(fd, AP0100AT_IOCTL_REG_READ, access);
}

int ap0100at_ioctl_read32(int fd, struct ap0100at_access* access) {
    return ioctl(fd, AP0100AT_IOCTL_REG_READ32, access);
}
