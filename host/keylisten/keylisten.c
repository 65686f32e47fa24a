/*
 * libkeylisten: key events from one input device through libevdev. The
 * contract is in keylisten.h.
 */
#define _GNU_SOURCE
#include "keylisten.h"

#include <errno.h>
#include <fcntl.h>
#include <libevdev/libevdev.h>
#include <string.h>
#include <unistd.h>

#define KEYLISTEN_API __attribute__((visibility("default")))

/* The kernel's value for a key held down long enough to repeat. */
#define KEY_VALUE_REPEAT 2

KEYLISTEN_API const char* file;
/* Written by stop on one thread and read by the loop on another, so every
 * access is atomic even though the type stays a plain int for callers. */
KEYLISTEN_API int running = 1;
static keylisten_event_callback callback_function;
static keylisten_log_callback logger;

static void log_message(const char* level, const char* message) {
    if (logger)
        logger(level, message);
}

static void log_error_text(int err) {
    char text[128];

    log_message("DEBUG", strerror_r(err, text, sizeof text));
}

static int is_running(void) {
    return __atomic_load_n(&running, __ATOMIC_SEQ_CST);
}

KEYLISTEN_API void stop(void) {
    __atomic_store_n(&running, 0, __ATOMIC_SEQ_CST);
}

KEYLISTEN_API int publish_event(const struct input_event* event) {
    const char* name;

    if (!event || event->type != EV_KEY || event->value == KEY_VALUE_REPEAT)
        return 0;
    name = libevdev_event_code_get_name(event->type, event->code);
    if (callback_function)
        callback_function(name ? name : "", event->code, event->value);
    return 0;
}

/* The loop goes on through these statuses; any other ends it. */
static int keeps_reading(int status) {
    return status == LIBEVDEV_READ_STATUS_SUCCESS || status == LIBEVDEV_READ_STATUS_SYNC ||
           status == -EAGAIN;
}

/* Reads and publishes until stop is noticed or a read fails; returns the
 * last read's status. */
static int read_events(struct libevdev* device) {
    struct input_event event;
    int status;

    do {
        status = libevdev_next_event(
            device, LIBEVDEV_READ_FLAG_NORMAL | LIBEVDEV_READ_FLAG_BLOCKING, &event);
        if (status == LIBEVDEV_READ_STATUS_SYNC) {
            /* Replays the state the dropped events would have left, until
             * libevdev answers -EAGAIN. */
            while (status == LIBEVDEV_READ_STATUS_SYNC && is_running()) {
                log_message("INFO", "Sync events");
                publish_event(&event);
                status = libevdev_next_event(device, LIBEVDEV_READ_FLAG_SYNC, &event);
            }
        } else if (status == LIBEVDEV_READ_STATUS_SUCCESS) {
            publish_event(&event);
        }
    } while (keeps_reading(status) && is_running());
    return status;
}

static int listen_on(int fd) {
    struct libevdev* device = NULL;
    int status = libevdev_new_from_fd(fd, &device);

    if (status < 0) {
        log_message("INFO", "Failed to init libevdev");
        log_error_text(-status);
        return -2;
    }
    status = read_events(device);
    if (!keeps_reading(status)) {
        log_message("INFO", "Failed to handle events");
        log_error_text(-status);
    }
    libevdev_free(device);
    return 0;
}

KEYLISTEN_API int run(void) {
    int fd, result;

    /* Close-on-exec: a callback that starts a program must not hand it the
     * device. */
    fd = file ? open(file, O_RDONLY | O_CLOEXEC) : -1;
    if (fd < 0) {
        log_message("INFO", "Failed to open device");
        return -1;
    }
    __atomic_store_n(&running, 1, __ATOMIC_SEQ_CST);
    result = listen_on(fd);
    close(fd);
    return result;
}

KEYLISTEN_API void registerCallback(const char* path, keylisten_event_callback callback,
                                    keylisten_log_callback log_callback) {
    file = path;
    callback_function = callback;
    logger = log_callback;
    log_message("DEBUG", "Start native keyboard listener");
    run();
    log_message("DEBUG", "Exit native keyboard listener");
}
