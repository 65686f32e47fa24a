/*
 * The one seam for every fake device: a preload library put in front of an
 * unchanged program (or test executable). It intercepts the C library's
 * open family, close, ioctl, mmap and the sleep calls; paths named in the
 * configuration file become fake device nodes, everything else goes through
 * to the C library untouched.
 *
 * Environment (read once, at the first intercepted open or sleep call, since
 * a sanitizer runtime maps memory before the environment can be read; and
 * again at each fake_devices_reload):
 *   FAKE_DEVICES_CONFIG  configuration file (absent: nothing is faked)
 *   FAKE_DEVICES_LOG     file every intercepted call is appended to, one line
 *                        each (absent: no log)
 *
 * Configuration, one directive per line, '#' starts a comment:
 *   device <path> <kind>        starts a node; <kind> names a device module
 *                               ("absent": every open fails with ENOENT),
 *                               looked up at the node's first open (an
 *                               unknown kind aborts there)
 *   backing <file>              the node's real descriptor is this file opened
 *                               read-write (frame memory, say); without it a
 *                               fresh anonymous memory file is used
 *   fail <op> <errno> [<nth>] [<request>]
 *                               <op> open, ioctl or mmap; <errno> a name
 *                               (EIO) or number; <nth> the 1-based call to
 *                               fail, counted per node (and per request when
 *                               one is given), 0 or absent: every call
 *   sleep log                   (global) sleep calls return at once and are
 *                               logged instead of sleeping
 *   files log                   (global) opens and closes of ordinary files
 *                               are logged too, as for nodes, so that a test
 *                               can check the program closes every file
 *   <key> <value...>            anything else is the node's own setting,
 *                               read by its device module
 *
 * Log lines written by the core:
 *   open <path> -> <fd>            or  open <path> -> -1 <ERRNO>
 *   ioctl <path> 0x<req> -> <r>    or  ... -> -1 <ERRNO>
 *   mmap <path> <length> <offset> -> ok | -1 <ERRNO>
 *   close <path>
 *   sleep <microseconds>
 * A device module's own lines (fake_log) come before the core's line of the
 * same call.
 *
 * The log's descriptor never takes 0, 1 or 2, so a program started with a
 * standard stream closed gets that number from its own next open, as without
 * the seam.
 *
 * A device module is one small C file in this folder that defines a
 * struct fake_device and registers it with FAKE_DEVICE().
 *
 * In a sanitizer build the sanitizer runtime must come first in LD_PRELOAD;
 * the CMake variable LYRANE_FAKE_PRELOAD holds the right list.
 */
#ifndef FAKE_CORE_H
#define FAKE_CORE_H

#include <stddef.h>
#include <stdint.h>

struct fake_node;

struct fake_device {
    const char* kind;
    /* After each successful open of a node of this kind; fd is the
     * descriptor handed to the program. Optional. */
    void (*open)(struct fake_node* node, int fd);
    /* Answers a request on an open node: the call's result, errno set on
     * failure. Optional: without it every request fails with ENOTTY. */
    int (*ioctl)(struct fake_node* node, unsigned long request, void* arg);
};

/* For a test executable the seam is preloaded into: the first intercepted
 * call may come before a case sets its environment (the sanitizer runtime
 * and the test framework make some). After setting FAKE_DEVICES_CONFIG and
 * FAKE_DEVICES_LOG the case calls this to start over from them: every node
 * with its settings, state and counters is dropped, and descriptors of fake
 * nodes still open become plain descriptors of their backing. Look it up
 * with dlsym(RTLD_DEFAULT, "fake_devices_reload"), so the test still links
 * and says what is missing when run without the preload. */
void fake_devices_reload(void);

void fake_register_device(const struct fake_device* device);
#define FAKE_DEVICE(var)                                            \
    static void __attribute__((constructor)) var##_register(void) { \
        fake_register_device(&var);                                 \
    }

const char* fake_node_path(const struct fake_node* node);
/* The node's setting, the text after the key with surrounding blanks
 * removed; NULL when absent. With repeated keys the last one counts. */
const char* fake_node_get(const struct fake_node* node, const char* key);
/* The setting read as a C number (strtoll base 0), fallback when absent. */
long long fake_node_int(const struct fake_node* node, const char* key, long long fallback);
/* The setting read as blank-separated numbers (C syntax, each masked to
 * 8 bits); returns how many were stored, at most max. */
size_t fake_node_bytes(const struct fake_node* node, const char* key, uint8_t* out, size_t max);
/* Zeroed storage of the given size that lives with the node for the whole
 * process (the device module's state); the first call fixes the size. */
void* fake_node_state(struct fake_node* node, size_t size);
/* Appends one line to the log (a newline is added). */
void fake_log(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

#endif
