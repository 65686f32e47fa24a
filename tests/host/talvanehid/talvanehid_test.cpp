// libtalvanehid against the fake hiddev board, preloaded into this
// executable: each case writes its boards and has the preload read them.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <linux/hiddev.h>
#include <sys/ioctl.h>
#include <talvanehid.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "TempDir.h"

namespace {

using Lines = std::vector<std::string>;

Lines operator+(Lines a, const Lines& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A node setting that fails the nth call (0: every call) of a request.
std::string failing(unsigned long request, int nth = 0) {
    return "fail ioctl EIO " + std::to_string(nth) + " " + std::to_string(request) + "\n";
}

class Board : public ::testing::Test {
  protected:
    // The nodes' lines; pauses are logged instead of slept.
    void start(const std::string& nodes) {
        const std::string config = dir.write("devices.cfg", "sleep log\n" + nodes);
        setenv("FAKE_DEVICES_CONFIG", config.c_str(), 1);
        setenv("FAKE_DEVICES_LOG", dir.file("devices.log").c_str(), 1);
        auto reload = reinterpret_cast<void (*)()>(dlsym(RTLD_DEFAULT, "fake_devices_reload"));
        ASSERT_NE(reload, nullptr) << "the fake-device preload is not loaded";
        reload();
    }

    int open(int number) {
        int fd = openHID(number);
        EXPECT_GE(fd, 0) << "node " << number;
        readLog();
        return fd;
    }

    // What the log gained since the last call, without the core's ioctl
    // lines (the board logs its own).
    Lines readLog() {
        std::ifstream in(dir.file("devices.log"));
        Lines lines;
        std::string line;
        for (size_t n = 0; std::getline(in, line); n++)
            if (n >= seen && (seen = n + 1) && line.rfind("ioctl ", 0) != 0)
                lines.push_back(line);
        return lines;
    }

    void captureOutput() { testing::internal::CaptureStdout(); }
    std::string output() {
        fflush(stdout);
        return testing::internal::GetCapturedStdout();
    }

    TempDir dir;
    size_t seen = 0;
};

// A command going out: each byte into its usage of feature report 1, then
// the report; full requests are zero after the bytes given.
Lines sent(std::vector<int> bytes, bool full = true) {
    Lines lines;
    if (full)
        bytes.resize(48, 0);
    for (size_t i = 0; i < bytes.size(); i++)
        lines.push_back("hiddev SUSAGE 3 1 " + std::to_string(i) + " = " +
                        std::to_string(bytes[i]));
    lines.push_back("hiddev SREPORT 3 1");
    return lines;
}

// One pause and status fetch per status.
Lines waited(const std::vector<int>& statuses) {
    Lines lines;
    for (int status : statuses)
        lines = lines + Lines{"sleep 10000", "hiddev GREPORT 3 1",
                              "hiddev GUSAGE 3 1 0 -> " + std::to_string(status)};
    return lines;
}

Lines read(int firstUsage, const std::vector<int>& values) {
    Lines lines;
    for (size_t i = 0; i < values.size(); i++)
        lines.push_back("hiddev GUSAGE 3 1 " + std::to_string(firstUsage + i) + " -> " +
                        std::to_string(values[i]));
    return lines;
}

TEST_F(Board, DeviceCountOpenAndClose) {
    start(
        "device /dev/usb/hiddev0 hiddev\n"
        "device /dev/usb/hiddev1 hiddev\n"
        "device /dev/usb/hiddev2 absent\n"
        "device /dev/usb/hiddev3 hiddev\n");
    EXPECT_EQ(getHidDeviceCount(), 2);
    Lines log = readLog();
    ASSERT_EQ(log.size(), 5u);
    EXPECT_EQ(log[1], "close /dev/usb/hiddev0");
    EXPECT_EQ(log[3], "close /dev/usb/hiddev1");
    EXPECT_EQ(log[4], "open /dev/usb/hiddev2 -> -1 ENOENT");

    start(
        "device /dev/usb/hiddev0 hiddev\nfail open EACCES\n"
        "device /dev/usb/hiddev1 hiddev\n");
    EXPECT_EQ(getHidDeviceCount(), 0);
    captureOutput();
    EXPECT_EQ(openHID(0), -EACCES);
    EXPECT_EQ(openHID(2), -ENOENT);  // not faked: no such node here
    EXPECT_EQ(output(),
              "Can't open /dev/usb/hiddev0: Permission denied\n"
              "Can't open /dev/usb/hiddev2: No such file or directory\n");
    int fd = openHID(1);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(closeHID(fd), 0);
    EXPECT_EQ(closeHID(fd), -1);
}

TEST_F(Board, DeviceInfoRecord) {
    start(
        "device /dev/usb/hiddev0 hiddev\n"
        "devinfo 3 2 7 0 0x1234 0xabcd 0xfffe 1\n"
        "string1 Maker GmbH\nstring2 Board\nstring4_fill 0x41\n"
        "device /dev/usb/hiddev1 hiddev\n" +
        failing(HIDIOCGDEVINFO));
    // Exactly the record's size on the heap, so a write past it is caught.
    std::unique_ptr<unsigned char[]> record(new unsigned char[2576]);
    memset(record.get(), 'Z', 2576);
    auto* info = reinterpret_cast<talvanehid_device_info*>(record.get());
    auto slot = [&](int k) { return reinterpret_cast<char*>(&record[16 + (k - 1) * 256]); };

    EXPECT_EQ(getDeviceInfo(open(0), info), 0);
    const unsigned char head[16] = {2,    0,    0,    0,    7,    0,    0,    0,
                                    0x34, 0x12, 0xcd, 0xab, 0xfe, 0xff, 0xff, 0xff};
    EXPECT_EQ(memcmp(record.get(), head, 16), 0);
    EXPECT_STREQ(slot(1), "Maker GmbH");
    EXPECT_STREQ(slot(2), "Board");
    EXPECT_EQ(std::string(slot(3), 256), std::string(256, 'Z'));  // failed: as it was
    EXPECT_EQ(std::string(slot(4)), std::string(255, 'A'));       // no end: cut and ended
    Lines expected{"hiddev GDEVINFO"};
    for (int k = 1; k <= 10; k++)
        expected.push_back("hiddev GSTRING " + std::to_string(k));
    EXPECT_EQ(readLog(), expected);

    memset(record.get(), 'Z', 2576);
    EXPECT_EQ(getDeviceInfo(open(1), info), -1);
    EXPECT_EQ(getDeviceInfo(open(0), nullptr), -1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(record.get()), 2576), std::string(2576, 'Z'));
}

TEST_F(Board, InputsAndOutputs) {
    start(
        "device /dev/usb/hiddev0 hiddev\n"
        "input1 1 0 0 1 0 0 1 0 0 1 0 0 1 0 0 1 0 0 1 0 0 1 0 0 1 0 0 1 0 0 1 1\n"
        "input2 0 1 4095 65535 32768 5 6 7 8 9 10 11 12 13 14 1000\n"
        "outputs 8\n"
        "device /dev/usb/hiddev1 hiddev\n" +
        failing(HIDIOCGUSAGE, 3) + failing(HIDIOCSREPORT) + "device /dev/usb/hiddev2 hiddev\n" +
        failing(HIDIOCGREPORT));
    int fd = open(0);
    unsigned char bits[32];
    EXPECT_EQ(readDigitalIn(fd, bits), 1);
    for (int i = 0; i < 32; i++)
        EXPECT_EQ(bits[i], i % 3 == 0 || i == 31 ? 1 : 0) << "input " << i;
    uint16_t levels[16];
    EXPECT_EQ(readAnalogIn(fd, levels), 1);
    const uint16_t want[16] = {0, 1, 4095, 65535, 32768, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 1000};
    EXPECT_EQ(memcmp(levels, want, sizeof want), 0);
    Lines log = readLog();
    ASSERT_EQ(log.size(), 50u);
    EXPECT_EQ(log[0], "hiddev GREPORT 1 1");
    EXPECT_EQ(log[32], "hiddev GUSAGE 1 1 31 -> 1");
    EXPECT_EQ(log[33], "hiddev GREPORT 1 2");
    EXPECT_EQ(log[49], "hiddev GUSAGE 1 2 15 -> 1000");

    EXPECT_EQ(writeDigitalOut(fd, 5, 1), 1);
    EXPECT_EQ(writeDigitalOut(fd, 0, 7), 1);
    EXPECT_EQ(readLog(),
              (Lines{"hiddev SUSAGE 2 1 5 = 1", "hiddev SREPORT 2 1 outputs 0 0 0 0 0 1 0 0",
                     "hiddev SUSAGE 2 1 0 = 7", "hiddev SREPORT 2 1 outputs 7 0 0 0 0 1 0 0"}));

    EXPECT_EQ(readDigitalIn(fd, nullptr), 0);
    EXPECT_EQ(readAnalogIn(fd, nullptr), 0);
    EXPECT_EQ(readLog(), Lines{});
    captureOutput();
    EXPECT_EQ(writeDigitalOut(fd, 8, 1), 0);  // outputs 0 to 7 only
    int failing = open(1);
    EXPECT_EQ(readDigitalIn(failing, bits), 0);
    EXPECT_EQ(writeDigitalOut(failing, 2, 1), 0);
    EXPECT_EQ(readAnalogIn(open(2), levels), 0);
    EXPECT_EQ(output(),
              "Error: HIDIOCSUSAGE\nError: HIDIOCGUSAGE\nError: HIDIOCSREPORT\n"
              "Error: HIDIOCGREPORT\n");
}

TEST_F(Board, CommandsAndTheirAnswers) {
    start(
        "device /dev/usb/hiddev0 hiddev\n"
        "status 1 2 1 3\nanswer 0x11 0x22 0xff 3 4 0x80 9\n"
        "device /dev/usb/hiddev1 hiddev\n"
        "status 2 7\n" +
        failing(HIDIOCSUSAGE, 52) + failing(HIDIOCGREPORT, 3));
    int fd = open(0);
    unsigned char a = 0, b = 0, detection[7];
    memset(detection, 0xee, sizeof detection);
    EXPECT_EQ(setLEDs(fd, 0x0f, 0x80, 0xff, &a, &b), 1);
    EXPECT_EQ(a, 0x11);
    EXPECT_EQ(b, 0x22);
    EXPECT_EQ(getLedOpenDetection(fd, detection), 1);
    const unsigned char leds[7] = {0x11, 0x22, 0xff, 3, 4, 0x80, 0xee};
    EXPECT_EQ(memcmp(detection, leds, 7), 0);
    EXPECT_EQ(setCodecIO(fd, 0x42), 1);
    EXPECT_EQ(eraseDevice(fd), 1);
    EXPECT_EQ(readLog(), sent({0x01, 0x03, 0x0f, 0x80, 0xff}) + waited({1, 2, 1, 3}) +
                             read(2, {0x11, 0x22}) + sent({0x01, 0x04}) + waited({1, 2, 1, 3}) +
                             read(2, {0x11, 0x22, 0xff, 3, 4, 0x80}) + sent({0x01, 0x05, 0x42}) +
                             waited({1, 2, 1, 3}) +
                             sent({0x01, 0x02, 0x5a, 0xc3, 0x17, 0x8e, 0x2b, 0x94}));

    EXPECT_EQ(setLEDs(fd, 1, 2, 3, nullptr, &b), 0);
    EXPECT_EQ(setLEDs(fd, 1, 2, 3, &a, nullptr), 0);
    EXPECT_EQ(getLedOpenDetection(fd, nullptr), 0);
    EXPECT_EQ(readLog(), Lines{});

    // A failure code ends the wait without a message and stores nothing;
    // failed requests name themselves.
    a = b = 0;
    fd = open(1);
    captureOutput();
    EXPECT_EQ(setLEDs(fd, 4, 5, 6, &a, &b), 0);
    EXPECT_EQ(a + b, 0);
    EXPECT_EQ(readLog(), sent({0x01, 0x03, 4, 5, 6}) + waited({2, 7}));
    EXPECT_EQ(eraseDevice(fd), 0);  // usage 3 of the second request fails
    EXPECT_EQ(setCodecIO(fd, 1), 0);
    EXPECT_EQ(output(), "Error: HIDIOCSUSAGE\nError: HIDIOCGREPORT\n");
}

TEST_F(Board, ABusyBoardIsPolledForAsLongAsItTakes) {
    std::string busy;
    for (int i = 0; i < 200; i++)
        busy += i % 2 ? " 2" : " 1";
    start("device /dev/usb/hiddev0 hiddev\nstatus" + busy + " 3\n");
    EXPECT_EQ(setCodecIO(open(0), 1), 1);
    Lines log = readLog();
    EXPECT_EQ(std::count(log.begin(), log.end(), "sleep 10000"), 201);
    EXPECT_EQ(log.back(), "hiddev GUSAGE 3 1 0 -> 3");
}

TEST_F(Board, ControlLengthsAndAnswerCounts) {
    std::string longest = "answer 0x5a 44";
    std::vector<int> request{0x01, 0x07, 0x34, 44}, answer;
    unsigned char data[45];
    for (int i = 0; i < 45; i++) {
        data[i] = (unsigned char)(i + 1);
        longest += " " + std::to_string(100 + i);
        request.push_back(i + 1);
        answer.push_back(100 + i);
    }
    request.resize(48);
    answer.resize(44);
    start(
        "device /dev/usb/hiddev0 hiddev\nanswer 0xa5 0\n"
        "device /dev/usb/hiddev1 hiddev\n" +
        longest + "\n" +
        "device /dev/usb/hiddev2 hiddev\nanswer 0x5a 45\n"
        "device /dev/usb/hiddev3 hiddev\nstatus 1 9\n" +
        failing(HIDIOCSREPORT, 2));
    // Exactly the 46 bytes a caller must supply, so a write past them is caught.
    std::unique_ptr<unsigned char[]> reply(new unsigned char[46]);

    int fd = open(0);
    EXPECT_EQ(control(fd, 0x33, nullptr, 0, reply.get()), 0);
    EXPECT_EQ(reply[0], 0xa5);
    EXPECT_EQ(reply[1], 0);
    EXPECT_EQ(readLog(), sent({0x01, 0x07, 0x33, 0}, false) + waited({3}) + read(2, {0xa5, 0}));

    // Too long, negative, data or answer missing: the board is not touched.
    EXPECT_EQ(control(fd, 0x33, data, 45, reply.get()), -1);
    EXPECT_EQ(control(fd, 0x33, data, -1, reply.get()), -1);
    EXPECT_EQ(control(fd, 0x33, nullptr, 3, reply.get()), -1);
    EXPECT_EQ(control(fd, 0x33, data, 3, nullptr), -1);
    EXPECT_EQ(readLog(), Lines{});

    EXPECT_EQ(control(open(1), 0x34, data, 44, reply.get()), 0);
    EXPECT_EQ(readLog(), sent(request) + waited({3}) + read(2, {0x5a, 44}) + read(4, answer));
    EXPECT_EQ(std::vector<int>(&reply[2], &reply[46]), answer);

    // A count above 44 is refused before any byte past reply[1] is read.
    memset(reply.get(), 0xee, 46);
    EXPECT_EQ(control(open(2), 0x35, data, 2, reply.get()), -1);
    EXPECT_EQ(readLog(),
              sent({0x01, 0x07, 0x35, 2, 1, 2}, false) + waited({3}) + read(2, {0x5a, 45}));
    EXPECT_EQ(std::vector<int>(&reply[2], &reply[46]), std::vector<int>(44, 0xee));

    fd = open(3);
    memset(reply.get(), 0xee, 46);
    EXPECT_EQ(control(fd, 0x35, data, 2, reply.get()), -1);
    EXPECT_EQ(readLog(), sent({0x01, 0x07, 0x35, 2, 1, 2}, false) + waited({1, 9}));
    EXPECT_EQ(reply[0], 0xee);
    captureOutput();
    EXPECT_EQ(control(fd, 0x35, data, 2, reply.get()), -1);
    EXPECT_EQ(output(), "Error: HIDIOCSREPORT\n");
}

// Each command has its own request; a call leaves the others' bytes alone,
// and a shorter control request sends only its own length.
TEST_F(Board, RequestsStayApart) {
    start("device /dev/usb/hiddev0 hiddev\nanswer 1 2\n");
    int fd = open(0);
    unsigned char answer[46], a, b, data[10];
    memset(data, 0xc0, sizeof data);
    ASSERT_EQ(control(fd, 0x10, data, 10, answer), 0);
    ASSERT_EQ(setLEDs(fd, 9, 8, 7, &a, &b), 1);
    readLog();

    const unsigned char shorter[2] = {0xee, 0xef};
    ASSERT_EQ(control(fd, 0x11, shorter, 2, answer), 0);
    ASSERT_EQ(setLEDs(fd, 1, 2, 3, &a, &b), 1);
    EXPECT_EQ(readLog(), sent({0x01, 0x07, 0x11, 2, 0xee, 0xef}, false) + waited({3}) +
                             read(2, {1, 2, 0, 0}) + sent({0x01, 0x03, 1, 2, 3}) + waited({3}) +
                             read(2, {1, 2}));
}

// With standard output closed, the board must not take descriptor 1: the
// library's messages would go into it.
TEST_F(Board, OpenNeverTakesAClosedStandardStream) {
    start("device /dev/usb/hiddev0 hiddev\n");
    fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    close(STDOUT_FILENO);
    const int fd = openHID(0);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    EXPECT_GT(fd, STDERR_FILENO);
    EXPECT_EQ(closeHID(fd), 0);
}

// Two threads drive two boards at once, each call with arguments of its
// own; each board echoes the request it received, which must be the
// caller's.
TEST_F(Board, TwoThreadsOnTwoBoardsSendTheirOwnRequests) {
    start(
        "device /dev/usb/hiddev0 hiddev\nanswer echo\n"
        "device /dev/usb/hiddev1 hiddev\nanswer echo\n");
    const int fds[2] = {open(0), open(1)};
    std::atomic<int> wrong{0};
    auto drive = [&](int board) {
        for (int i = 0; i < 100; i++) {
            const auto tag = static_cast<unsigned char>(board * 128 + i);
            unsigned char a = 0, b = 0, answer[46] = {};
            std::vector<unsigned char> data(40, tag);
            if (setLEDs(fds[board], tag, static_cast<unsigned char>(~tag), 0, &a, &b) != 1 ||
                a != tag || b != static_cast<unsigned char>(~tag))
                wrong++;
            if (control(fds[board], tag, data.data(), 40, answer) != 0 || answer[0] != tag ||
                answer[1] != 40 || std::vector<unsigned char>(&answer[2], &answer[42]) != data)
                wrong++;
        }
    };
    std::thread other(drive, 1);
    drive(0);
    other.join();
    EXPECT_EQ(wrong, 0);
}

}  // namespace
