/* The recording stand-in for the camera processor's ioctl wrappers. */
#ifndef AP0100AT_FUZZ_STUB_H
#define AP0100AT_FUZZ_STUB_H

/* Requests handed to the stub since the process started; each one has
 * passed the stub's record checks (a failed check aborts). */
extern unsigned long ap0100at_stub_calls;

/* The last access record handed over; is_variable tells whether its flags
 * and mask were those of a variable. */
#include "ap0100at_records.h"
extern struct ap0100at_access ap0100at_stub_last_access;
extern int ap0100at_stub_last_is_variable;

#endif
