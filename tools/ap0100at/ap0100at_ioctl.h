/*
 * One wrapper per driver request, each the bare ioctl call. They live in a
 * source file of their own so that a test build can link a recording
 * replacement instead of the system call.
 *
 * Each returns the ioctl's result: non-negative on success (for
 * ap0100at_ioctl_read the register content), -1 with errno set on failure.
 */
#ifndef AP0100AT_IOCTL_H
#define AP0100AT_IOCTL_H

#include "ap0100at_records.h"

int ap0100at_ioctl_command(int fd, struct ap0100at_command* command);
int ap0100at_ioctl_write(int fd, struct ap0100at_access* access);
int ap0100at_ioctl_read(int fd, struct ap0100at_access* access);
int ap0100at_ioctl_read32(int fd, struct ap0100at_access* access);

#endif
