/* A C user of the two installed host libraries: calls every function of
 * libtalvanehid on a descriptor that is no I/O board (each request fails
 * and says which), and drives libkeylisten on a missing device, on a file
 * that is no input device, and through publish_event and stop.
 * usage: outside_hostlibs SCRATCH_DIR
 * pkg-config-packages: libtalvanehid libkeylisten
 */
#include <fcntl.h>
#include <keylisten.h>
#include <stdio.h>
#include <string.h>
#include <talvanehid.h>
#include <unistd.h>

static void show(const char* what, int result) {
    printf("%s -> %d\n", what, result);
    fflush(stdout);
}

static void onEvent(const char* name, unsigned int code, int value) {
    printf("event %s %u %d\n", name, code, value);
}

static void onLog(const char* level, const char* message) {
    printf("log %s %s\n", level, message);
}

static void useTalvanehid(const char* notBoard) {
    struct talvanehid_device_info info;
    unsigned char bytes[46] = {0}, a, b;
    uint16_t levels[16];
    int fd;

    show("getHidDeviceCount >= 0", getHidDeviceCount() >= 0);
    show("openHID", openHID(9999));
    fd = open(notBoard, O_RDWR);
    show("getDeviceInfo", getDeviceInfo(fd, &info));
    show("readDigitalIn", readDigitalIn(fd, bytes));
    show("readAnalogIn", readAnalogIn(fd, levels));
    show("writeDigitalOut", writeDigitalOut(fd, 1, 1));
    show("eraseDevice", eraseDevice(fd));
    show("setLEDs", setLEDs(fd, 1, 2, 3, &a, &b));
    show("getLedOpenDetection", getLedOpenDetection(fd, bytes));
    show("setCodecIO", setCodecIO(fd, 1));
    show("control", control(fd, 0x10, bytes, 2, bytes));
    show("control of 45 bytes", control(fd, 0x10, bytes, 45, bytes));
    show("closeHID", closeHID(fd));
}

static void useKeylisten(const char* missing, const char* notInput) {
    const struct input_event press = {{0, 0}, EV_KEY, KEY_A, 1};

    registerCallback(missing, onEvent, onLog);
    file = notInput;
    show("run", run());
    show("publish_event", publish_event(&press));
    stop();
    show("running after stop", running);
}

int main(int argc, char** argv) {
    char notBoard[4096], missing[4096];
    FILE* plain;

    if (argc != 2)
        return 2;
    snprintf(notBoard, sizeof notBoard, "%s/plain-file", argv[1]);
    snprintf(missing, sizeof missing, "%s/no-such-device", argv[1]);
    plain = fopen(notBoard, "w");
    if (!plain || fclose(plain) != 0)
        return 1;
    useTalvanehid(notBoard);
    useKeylisten(missing, notBoard);
    return 0;
}
