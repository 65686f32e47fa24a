/* Fake kernel: the C library's string functions stand for the kernel's. */
#ifndef FAKE_LINUX_STRING_H
#define FAKE_LINUX_STRING_H

#include <string.h>

#endif
