/*
 * libtalvanehid: the I/O board over Linux hiddev. The contract is in
 * talvanehid.h.
 */
#define _GNU_SOURCE
#include "talvanehid.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/hiddev.h>
#include <stddef.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#define TALVANEHID_API __attribute__((visibility("default")))

#define HID_NODE_FORMAT "/dev/usb/hiddev%d"
#define HID_USAGE_CODE 0x00080000u
#define HID_REPORT_ID 1
#define HID_ANALOG_REPORT_ID 2
#define DIGITAL_INPUTS 32
#define ANALOG_INPUTS 16
#define LED_OPEN_BYTES 6

/* The command channel: feature report 1, one byte per usage. */
#define REQUEST_BYTES 48
#define REQUEST_MARKER 0x01
#define STATUS_USAGE 0
#define FIRST_RESULT_USAGE 2
#define STATUS_BUSY 1
#define STATUS_BUSY_TOO 2
#define STATUS_DONE 3
#define ANSWER_WAIT_NS 10000000L

/* control: command byte, length, then up to 44 data bytes after the marker
 * and code; the answer buffer holds bytes 2 and 3 plus up to 44 more. */
#define CONTROL_HEADER_BYTES 4
#define CONTROL_MAX_DATA (REQUEST_BYTES - CONTROL_HEADER_BYTES)
#define CONTROL_ANSWER_COUNT_USAGE 3

_Static_assert(sizeof(struct talvanehid_device_info) == 2576, "record size");
_Static_assert(offsetof(struct talvanehid_device_info, version) == 12, "version offset");
_Static_assert(offsetof(struct talvanehid_device_info, strings) == 16, "strings offset");

#define COMMAND_ERASE 0x02
#define COMMAND_SET_LEDS 0x03
#define COMMAND_LED_OPEN_DETECTION 0x04
#define COMMAND_SET_CODEC_IO 0x05
#define COMMAND_CONTROL 0x07
#define FIRST_PARAMETER 2

/* The board erases only after this exact confirmation. */
static const unsigned char erase_confirmation[] = {0x5A, 0xC3, 0x17, 0x8E, 0x2B, 0x94};

/* Each call builds its request in a local of its own: shared request bytes
 * would let two threads driving two boards send each other's parameters. */
static void new_request(unsigned char request[REQUEST_BYTES], unsigned char code) {
    memset(request, 0, REQUEST_BYTES);
    request[0] = REQUEST_MARKER;
    request[1] = code;
}

/* Request helpers: 1 on success, 0 after printing the request's error. */

static int fetch_report(int fd, unsigned type, unsigned id) {
    struct hiddev_report_info info = {.report_type = type, .report_id = id};

    if (ioctl(fd, HIDIOCGREPORT, &info) < 0) {
        printf("Error: HIDIOCGREPORT\n");
        return 0;
    }
    return 1;
}

static int send_report(int fd, unsigned type, unsigned id) {
    struct hiddev_report_info info = {.report_type = type, .report_id = id};

    if (ioctl(fd, HIDIOCSREPORT, &info) < 0) {
        printf("Error: HIDIOCSREPORT\n");
        return 0;
    }
    return 1;
}

static struct hiddev_usage_ref usage_ref(unsigned type, unsigned id, unsigned usage, int value) {
    struct hiddev_usage_ref ref = {
        .report_type = type,
        .report_id = id,
        .field_index = 0,
        .usage_index = usage,
        .usage_code = HID_USAGE_CODE,
        .value = value,
    };
    return ref;
}

static int get_usage(int fd, unsigned type, unsigned id, unsigned usage, int* value) {
    struct hiddev_usage_ref ref = usage_ref(type, id, usage, 0);

    if (ioctl(fd, HIDIOCGUSAGE, &ref) < 0) {
        printf("Error: HIDIOCGUSAGE\n");
        return 0;
    }
    *value = ref.value;
    return 1;
}

static int set_usage(int fd, unsigned type, unsigned id, unsigned usage, int value) {
    struct hiddev_usage_ref ref = usage_ref(type, id, usage, value);

    if (ioctl(fd, HIDIOCSUSAGE, &ref) < 0) {
        printf("Error: HIDIOCSUSAGE\n");
        return 0;
    }
    return 1;
}

static int get_feature_byte(int fd, unsigned usage, unsigned char* byte) {
    int value;

    if (!get_usage(fd, HID_REPORT_TYPE_FEATURE, HID_REPORT_ID, usage, &value))
        return 0;
    *byte = (unsigned char)value;
    return 1;
}

/* Sets the first count usages of feature report 1 from the template and
 * sends the report. */
static int send_command(int fd, const unsigned char* request, int count) {
    for (int i = 0; i < count; i++)
        if (!set_usage(fd, HID_REPORT_TYPE_FEATURE, HID_REPORT_ID, (unsigned)i, request[i]))
            return 0;
    return send_report(fd, HID_REPORT_TYPE_FEATURE, HID_REPORT_ID);
}

/* Polls the command channel until the board is no longer busy; the board
 * may stay busy for as long as it likes. 1 with the final status, or 0
 * after a failed request. */
static int await_status(int fd, int* status) {
    const struct timespec pause = {0, ANSWER_WAIT_NS};

    do {
        nanosleep(&pause, NULL);
        if (!fetch_report(fd, HID_REPORT_TYPE_FEATURE, HID_REPORT_ID))
            return 0;
        if (!get_usage(fd, HID_REPORT_TYPE_FEATURE, HID_REPORT_ID, STATUS_USAGE, status))
            return 0;
    } while (*status == STATUS_BUSY || *status == STATUS_BUSY_TOO);
    return 1;
}

/* Sends a whole request and waits: 1 when the board reports done. */
static int run_command(int fd, const unsigned char* request, int count) {
    int status;

    if (!send_command(fd, request, count) || !await_status(fd, &status))
        return 0;
    return status == STATUS_DONE;
}

/* Reads count result bytes from answer byte 2 on. */
static int read_results(int fd, unsigned char* results, int count) {
    for (int i = 0; i < count; i++)
        if (!get_feature_byte(fd, (unsigned)(FIRST_RESULT_USAGE + i), &results[i]))
            return 0;
    return 1;
}

TALVANEHID_API int getHidDeviceCount(void) {
    int count = 0;

    for (;;) {
        char path[32];
        int fd;

        snprintf(path, sizeof path, HID_NODE_FORMAT, count);
        fd = open(path, O_RDWR);
        if (fd < 0)
            return count;
        close(fd);
        count++;
    }
}

/* A caller started with standard output closed would otherwise get 1 from
 * the open, and this library's messages would go into the board. */
static int above_standard_streams(int fd) {
    int moved, err;

    if (fd < 0 || fd > STDERR_FILENO)
        return fd;
    moved = fcntl(fd, F_DUPFD, STDERR_FILENO + 1);
    err = errno;
    close(fd);
    errno = err;
    return moved;
}

TALVANEHID_API int openHID(int device_number) {
    char path[32];
    int fd, err;

    snprintf(path, sizeof path, HID_NODE_FORMAT, device_number);
    fd = above_standard_streams(open(path, O_RDWR));
    if (fd >= 0)
        return fd;
    /* printf may change errno; %m still formats the open's. */
    err = errno;
    printf("Can't open %s: %m\n", path);
    return -err;
}

TALVANEHID_API int closeHID(int fd) {
    return close(fd);
}

/* The driver's text ends at its first zero or at the slot's last byte,
 * whichever comes first. */
static void copy_string(char* slot, const char* text) {
    size_t length = strnlen(text, HID_STRING_SIZE - 1);

    memcpy(slot, text, length);
    slot[length] = '\0';
}

TALVANEHID_API int getDeviceInfo(int fd, struct talvanehid_device_info* info) {
    struct hiddev_devinfo device;

    if (!info || ioctl(fd, HIDIOCGDEVINFO, &device) < 0)
        return -1;
    info->busnum = device.busnum;
    info->devnum = device.devnum;
    info->vendor = (uint16_t)device.vendor;
    info->product = (uint16_t)device.product;
    info->version = device.version;
    for (int index = 1; index <= 10; index++) {
        struct hiddev_string_descriptor text = {.index = index};

        if (ioctl(fd, HIDIOCGSTRING, &text) >= 0)
            copy_string(info->strings[index - 1], text.value);
    }
    return 0;
}

TALVANEHID_API int readDigitalIn(int fd, unsigned char* values) {
    if (!values || !fetch_report(fd, HID_REPORT_TYPE_INPUT, HID_REPORT_ID))
        return 0;
    for (int i = 0; i < DIGITAL_INPUTS; i++) {
        int value;

        if (!get_usage(fd, HID_REPORT_TYPE_INPUT, HID_REPORT_ID, (unsigned)i, &value))
            return 0;
        values[i] = (unsigned char)value;
    }
    return 1;
}

TALVANEHID_API int readAnalogIn(int fd, uint16_t* values) {
    if (!values || !fetch_report(fd, HID_REPORT_TYPE_INPUT, HID_ANALOG_REPORT_ID))
        return 0;
    for (int i = 0; i < ANALOG_INPUTS; i++) {
        int value;

        if (!get_usage(fd, HID_REPORT_TYPE_INPUT, HID_ANALOG_REPORT_ID, (unsigned)i, &value))
            return 0;
        values[i] = (uint16_t)value;
    }
    return 1;
}

TALVANEHID_API int writeDigitalOut(int fd, int output, int value) {
    return set_usage(fd, HID_REPORT_TYPE_OUTPUT, HID_REPORT_ID, (unsigned)output, value) &&
           send_report(fd, HID_REPORT_TYPE_OUTPUT, HID_REPORT_ID);
}

TALVANEHID_API int eraseDevice(int fd) {
    unsigned char request[REQUEST_BYTES];

    new_request(request, COMMAND_ERASE);
    memcpy(&request[FIRST_PARAMETER], erase_confirmation, sizeof erase_confirmation);
    return send_command(fd, request, REQUEST_BYTES);
}

TALVANEHID_API int setLEDs(int fd, unsigned char led1, unsigned char led2, unsigned char led3,
                           unsigned char* answer1, unsigned char* answer2) {
    unsigned char request[REQUEST_BYTES], results[2];

    if (!answer1 || !answer2)
        return 0;
    new_request(request, COMMAND_SET_LEDS);
    request[FIRST_PARAMETER] = led1;
    request[FIRST_PARAMETER + 1] = led2;
    request[FIRST_PARAMETER + 2] = led3;
    if (!run_command(fd, request, REQUEST_BYTES) || !read_results(fd, results, 2))
        return 0;
    *answer1 = results[0];
    *answer2 = results[1];
    return 1;
}

TALVANEHID_API int getLedOpenDetection(int fd, unsigned char* detection) {
    unsigned char request[REQUEST_BYTES];

    if (!detection)
        return 0;
    new_request(request, COMMAND_LED_OPEN_DETECTION);
    return run_command(fd, request, REQUEST_BYTES) && read_results(fd, detection, LED_OPEN_BYTES);
}

TALVANEHID_API int setCodecIO(int fd, unsigned char value) {
    unsigned char request[REQUEST_BYTES];

    new_request(request, COMMAND_SET_CODEC_IO);
    request[FIRST_PARAMETER] = value;
    return run_command(fd, request, REQUEST_BYTES);
}

TALVANEHID_API int control(int fd, unsigned char command, const unsigned char* data, int length,
                           unsigned char* answer) {
    unsigned char request[REQUEST_BYTES];

    if (length < 0 || length > CONTROL_MAX_DATA || (!data && length > 0) || !answer)
        return -1;
    new_request(request, COMMAND_CONTROL);
    request[FIRST_PARAMETER] = command;
    request[FIRST_PARAMETER + 1] = (unsigned char)length;
    if (length > 0)
        memcpy(&request[CONTROL_HEADER_BYTES], data, (size_t)length);
    if (!run_command(fd, request, length + CONTROL_HEADER_BYTES))
        return -1;
    if (!read_results(fd, answer, 2))
        return -1;
    /* The count comes from the board; more than the request's data room
     * would read usages past the report and write past the 46 bytes. */
    if (answer[1] > CONTROL_MAX_DATA)
        return -1;
    for (int i = 0; i < answer[1]; i++)
        if (!get_feature_byte(fd, (unsigned)(CONTROL_HEADER_BYTES + i), &answer[2 + i]))
            return -1;
    return 0;
}
