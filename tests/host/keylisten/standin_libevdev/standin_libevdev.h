/*
 * A stand-in for the three libevdev calls the key listener's loop makes:
 * libevdev_new_from_fd, libevdev_next_event and libevdev_free. Defined in the
 * test executable, they take precedence over Debian's libevdev for the
 * unchanged library; every other libevdev function (the code names) is
 * still Debian's.
 *
 * A test scripts what the calls answer, runs the loop, then reads what the
 * loop asked for. Script and records belong to the loop's thread while it
 * runs; only standin_wait_held and standin_release cross threads.
 */
#ifndef STANDIN_LIBEVDEV_H
#define STANDIN_LIBEVDEV_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* One answer of libevdev_next_event: its status and, for success and sync,
 * the event. A held step waits for standin_release before answering; a
 * repeated step is answered again and again, never used up. */
struct standin_step {
    int status;
    unsigned short type, code;
    int value;
    int held;
    int repeated;
};

#define STANDIN_MAX_STEPS 64

/* What the loop did with the stand-in. */
struct standin_record {
    int new_calls;
    int fd_flags; /* fcntl(F_GETFL) of the descriptor given to new */
    int fd;       /* that descriptor */
    int frees;    /* handles freed */
    int reads;    /* calls of next_event */
    unsigned read_flags[STANDIN_MAX_STEPS + 1];
};

/* libevdev_new_from_fd answers new_status (0, or a negated errno); the
 * reads answer the steps in order, and -ENODEV once they are used up. */
void standin_script(int new_status, const struct standin_step* steps, size_t count);
const struct standin_record* standin_recorded(void);
/* The reads so far; safe while the loop runs. */
int standin_reads(void);
/* Blocks until the loop waits in a held step. */
void standin_wait_held(void);
/* Lets the held step answer. */
void standin_release(void);

#ifdef __cplusplus
}
#endif

#endif
