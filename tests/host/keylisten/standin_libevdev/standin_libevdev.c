/* The libevdev stand-in; see standin_libevdev.h. */
#include "standin_libevdev.h"

#include <errno.h>
#include <fcntl.h>
#include <libevdev/libevdev.h>
#include <pthread.h>
#include <stdlib.h>
#include <string.h>

struct libevdev {
    int fd;
};

static struct standin_step script[STANDIN_MAX_STEPS];
static size_t script_length;
static size_t next_step;
static int script_new_status;
static struct standin_record record;

static pthread_mutex_t hold_lock = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t hold_changed = PTHREAD_COND_INITIALIZER;
static int holding, released;

void standin_script(int new_status, const struct standin_step* steps, size_t count) {
    if (count > STANDIN_MAX_STEPS)
        abort();
    if (count > 0)
        memcpy(script, steps, count * sizeof *steps);
    script_length = count;
    next_step = 0;
    script_new_status = new_status;
    memset(&record, 0, sizeof record);
    record.fd = -1;
}

const struct standin_record* standin_recorded(void) {
    return &record;
}

int standin_reads(void) {
    return __atomic_load_n(&record.reads, __ATOMIC_SEQ_CST);
}

void standin_wait_held(void) {
    pthread_mutex_lock(&hold_lock);
    while (!holding)
        pthread_cond_wait(&hold_changed, &hold_lock);
    pthread_mutex_unlock(&hold_lock);
}

void standin_release(void) {
    pthread_mutex_lock(&hold_lock);
    released = 1;
    pthread_cond_broadcast(&hold_changed);
    pthread_mutex_unlock(&hold_lock);
}

static void hold(void) {
    pthread_mutex_lock(&hold_lock);
    holding = 1;
    pthread_cond_broadcast(&hold_changed);
    while (!released)
        pthread_cond_wait(&hold_changed, &hold_lock);
    holding = released = 0;
    pthread_mutex_unlock(&hold_lock);
}

int libevdev_new_from_fd(int fd, struct libevdev** dev) {
    record.new_calls++;
    record.fd = fd;
    record.fd_flags = fcntl(fd, F_GETFL);
    if (script_new_status < 0)
        return script_new_status;
    *dev = calloc(1, sizeof **dev);
    if (!*dev)
        return -ENOMEM;
    (*dev)->fd = fd;
    return 0;
}

int libevdev_next_event(struct libevdev* dev, unsigned int flags, struct input_event* ev) {
    const struct standin_step* step;

    (void)dev;
    if (record.reads < STANDIN_MAX_STEPS + 1)
        record.read_flags[record.reads] = flags;
    __atomic_add_fetch(&record.reads, 1, __ATOMIC_SEQ_CST);
    if (next_step == script_length)
        return -ENODEV;
    step = &script[next_step];
    if (!step->repeated)
        next_step++;
    if (step->held)
        hold();
    if (step->status == LIBEVDEV_READ_STATUS_SUCCESS || step->status == LIBEVDEV_READ_STATUS_SYNC) {
        memset(ev, 0, sizeof *ev);
        ev->type = step->type;
        ev->code = step->code;
        ev->value = step->value;
    }
    return step->status;
}

void libevdev_free(struct libevdev* dev) {
    if (dev)
        record.frees++;
    free(dev);
}
