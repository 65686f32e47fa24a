/*
 * libkeylisten on a real kernel: creates a keyboard with uinput, listens to
 * its event node on a second thread and prints what the callbacks receive.
 *
 * First run: press, auto-repeat, release and a scan-code report of KEY_A,
 * then stop and one more key (KEY_B) to wake the blocking read; KEY_B's
 * release comes after the loop ended. Second run: the callback holds on
 * KEY_C while the keyboard floods the event node, so the kernel drops
 * events and the loop has to resynchronise ("Sync events").
 * Prints its findings for the guest script to compare; exits 1 on a
 * set-up failure.
 */
#define _GNU_SOURCE
#include <dirent.h>
#include <fcntl.h>
#include <keylisten.h>
#include <linux/uinput.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#define FLOOD_PAIRS 600

static char device_path[300];
static int keyboard = -1;

static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t changed = PTHREAD_COND_INITIALIZER;
static int releases_seen;     /* first run: KEY_A releases published */
static int holding, released; /* second run: the callback held on KEY_C */
static int sync_records;      /* second run: "Sync events" records */
static int flooding;          /* second run: print nothing */

static void die(const char* what) {
    perror(what);
    exit(1);
}

static void pause_ms(long ms) {
    struct timespec t = {ms / 1000, (ms % 1000) * 1000000};
    nanosleep(&t, NULL);
}

static void emit(unsigned short type, unsigned short code, int value) {
    struct input_event event;

    memset(&event, 0, sizeof event);
    event.type = type;
    event.code = code;
    event.value = value;
    if (write(keyboard, &event, sizeof event) != (ssize_t)sizeof event)
        die("write to uinput");
}

static void emit_report(unsigned short type, unsigned short code, int value) {
    emit(type, code, value);
    emit(EV_SYN, SYN_REPORT, 0);
}

static void on_event(const char* name, unsigned int code, int value) {
    pthread_mutex_lock(&lock);
    if (!flooding) {
        printf("event %s %u %d\n", name, code, value);
        if (code == KEY_A && value == 0)
            releases_seen++;
    } else if (code == KEY_C && value == 1) {
        holding = 1;
        pthread_cond_broadcast(&changed);
        while (!released)
            pthread_cond_wait(&changed, &lock);
    }
    pthread_cond_broadcast(&changed);
    pthread_mutex_unlock(&lock);
}

static void on_log(const char* level, const char* message) {
    pthread_mutex_lock(&lock);
    if (!flooding)
        printf("log %s %s\n", level, message);
    else if (strcmp(message, "Sync events") == 0)
        sync_records++;
    pthread_cond_broadcast(&changed);
    pthread_mutex_unlock(&lock);
}

static void create_keyboard(void) {
    struct uinput_setup setup;
    char sysname[64], dir_path[128];
    const unsigned short keys[] = {KEY_A, KEY_B, KEY_C, KEY_D};
    struct dirent* entry;
    DIR* dir;

    keyboard = open("/dev/uinput", O_WRONLY | O_CLOEXEC);
    if (keyboard < 0)
        die("open /dev/uinput");
    if (ioctl(keyboard, UI_SET_EVBIT, EV_KEY) < 0 || ioctl(keyboard, UI_SET_EVBIT, EV_MSC) < 0 ||
        ioctl(keyboard, UI_SET_MSCBIT, MSC_SCAN) < 0)
        die("UI_SET_EVBIT");
    for (size_t i = 0; i < sizeof keys / sizeof keys[0]; i++)
        if (ioctl(keyboard, UI_SET_KEYBIT, keys[i]) < 0)
            die("UI_SET_KEYBIT");
    memset(&setup, 0, sizeof setup);
    setup.id.bustype = BUS_VIRTUAL;
    snprintf(setup.name, sizeof setup.name, "keylisten test keyboard");
    if (ioctl(keyboard, UI_DEV_SETUP, &setup) < 0 || ioctl(keyboard, UI_DEV_CREATE) < 0)
        die("UI_DEV_CREATE");
    if (ioctl(keyboard, UI_GET_SYSNAME(sizeof sysname), sysname) < 0)
        die("UI_GET_SYSNAME");
    snprintf(dir_path, sizeof dir_path, "/sys/devices/virtual/input/%s", sysname);
    dir = opendir(dir_path);
    if (!dir)
        die(dir_path);
    while ((entry = readdir(dir)))
        if (strncmp(entry->d_name, "event", 5) == 0)
            snprintf(device_path, sizeof device_path, "/dev/input/%s", entry->d_name);
    closedir(dir);
    if (!device_path[0])
        die("no event node");
    for (int i = 0; i < 500 && access(device_path, R_OK) != 0; i++)
        pause_ms(10);
}

/* Whether this process holds the event node open: the listener's read has
 * begun to queue events from then on. */
static int listener_opened(void) {
    char link[300], target[300];
    struct dirent* entry;
    int found = 0;
    DIR* dir = opendir("/proc/self/fd");

    while (dir && !found && (entry = readdir(dir))) {
        ssize_t n;

        snprintf(link, sizeof link, "/proc/self/fd/%s", entry->d_name);
        n = readlink(link, target, sizeof target - 1);
        if (n > 0) {
            target[n] = '\0';
            found = strcmp(target, device_path) == 0;
        }
    }
    if (dir)
        closedir(dir);
    return found;
}

static void* listen_thread(void* unused) {
    (void)unused;
    registerCallback(device_path, on_event, on_log);
    return NULL;
}

static pthread_t start_listener(void) {
    pthread_t thread;

    if (pthread_create(&thread, NULL, listen_thread, NULL) != 0)
        die("pthread_create");
    while (!listener_opened())
        pause_ms(10);
    pause_ms(50);
    return thread;
}

static void wait_until(int* counter, int value) {
    pthread_mutex_lock(&lock);
    while (*counter < value)
        pthread_cond_wait(&changed, &lock);
    pthread_mutex_unlock(&lock);
}

static void stop_and_wake(pthread_t thread, unsigned short key) {
    stop();
    emit_report(EV_KEY, key, 1);
    pthread_join(thread, NULL);
    emit_report(EV_KEY, key, 0);
}

static void first_run(void) {
    pthread_t thread = start_listener();

    emit_report(EV_KEY, KEY_A, 1);
    emit_report(EV_KEY, KEY_A, 2);
    emit_report(EV_KEY, KEY_A, 0);
    emit_report(EV_MSC, MSC_SCAN, 0x70004);
    wait_until(&releases_seen, 1);
    pause_ms(100); /* the scan-code report, had it been published */
    stop_and_wake(thread, KEY_B);
    printf("listener ended\n");
}

static void second_run(void) {
    pthread_t thread;

    pthread_mutex_lock(&lock);
    flooding = 1;
    pthread_mutex_unlock(&lock);
    thread = start_listener();
    emit_report(EV_KEY, KEY_C, 1);
    wait_until(&holding, 1);
    for (int i = 0; i < FLOOD_PAIRS; i++) {
        emit_report(EV_KEY, KEY_D, 1);
        emit_report(EV_KEY, KEY_D, 0);
    }
    emit_report(EV_KEY, KEY_C, 0);
    pthread_mutex_lock(&lock);
    released = 1;
    pthread_cond_broadcast(&changed);
    pthread_mutex_unlock(&lock);
    wait_until(&sync_records, 1);
    stop_and_wake(thread, KEY_B);
    printf("flood: the loop resynchronised after dropped events\n");
}

int main(void) {
    setvbuf(stdout, NULL, _IOLBF, 0);
    create_keyboard();
    first_run();
    second_run();
    ioctl(keyboard, UI_DEV_DESTROY);
    close(keyboard);
    return 0;
}
