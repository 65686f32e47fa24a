// libtalvanehid against the fake hiddev board, preloaded into this
// executable: each case writes its board and has the preload read it again.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <linux/hiddev.h>
#include <sys/ioctl.h>
#include <talvanehid.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "TempDir.h"

namespace {

using Lines = std::vector<std::string>;

std::string request(unsigned long code) {
    return std::to_string(code);
}

class Board : public ::testing::Test {
  protected:
    // Every node's lines, then "sleep log" so waiting costs no time.
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
        readLog();  // the open is not part of what a case checks
        return fd;
    }

    // The board's lines, opens, closes and pauses logged since the last
    // call (the core's ioctl lines are left out).
    Lines readLog() {
        std::ifstream in(dir.file("devices.log"));
        Lines lines;
        std::string line;
        for (size_t n = 0; std::getline(in, line); n++) {
            if (n < seen)
                continue;
            seen = n + 1;
            if (line.rfind("ioctl ", 0) != 0)
                lines.push_back(line);
        }
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

// The lines of one command going out: each byte in its usage of feature
// report 1, then the report.
Lines sent(const std::vector<int>& bytes) {
    Lines lines;
    for (size_t i = 0; i < bytes.size(); i++)
        lines.push_back("hiddev SUSAGE 3 1 " + std::to_string(i) + " = " +
                        std::to_string(bytes[i]));
    lines.push_back("hiddev SREPORT 3 1");
    return lines;
}

// A whole 48-byte request: the leading bytes given, the rest zero.
Lines sentFull(std::vector<int> bytes) {
    bytes.resize(48, 0);
    return sent(bytes);
}

Lines answerRound(int status) {
    return {"sleep 10000", "hiddev GREPORT 3 1",
            "hiddev GUSAGE 3 1 0 -> " + std::to_string(status)};
}

Lines featureRead(int usage, int value) {
    return {"hiddev GUSAGE 3 1 " + std::to_string(usage) + " -> " + std::to_string(value)};
}

Lines operator+(Lines a, const Lines& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST_F(Board, DeviceCountStopsAtTheFirstNodeThatWillNotOpen) {
    start(
        "device /dev/usb/hiddev0 hiddev\n"
        "device /dev/usb/hiddev1 hiddev\n"
        "device /dev/usb/hiddev2 absent\n"
        "device /dev/usb/hiddev3 hiddev\n");
    EXPECT_EQ(getHidDeviceCount(), 2);
    Lines log = readLog();
    ASSERT_EQ(log.size(), 5u);
    EXPECT_EQ(log[0].rfind("open /dev/usb/hiddev0 -> ", 0), 0u);
    EXPECT_EQ(log[1], "close /dev/usb/hiddev0");
    EXPECT_EQ(log[2].rfind("open /dev/usb/hiddev1 -> ", 0), 0u);
    EXPECT_EQ(log[3], "close /dev/usb/hiddev1");
    EXPECT_EQ(log[4], "open /dev/usb/hiddev2 -> -1 ENOENT");
}

TEST_F(Board, NoDevicesWhenNodeZeroWillNotOpen) {
    start(
        "device /dev/usb/hiddev0 hiddev\n"
        "fail open EACCES\n"
        "device /dev/usb/hiddev1 hiddev\n");
    EXPECT_EQ(getHidDeviceCount(), 0);
    EXPECT_EQ(readLog(), Lines{"open /dev/usb/hiddev0 -> -1 EACCES"});
}

TEST_F(Board, OpenAndClose) {
    start(
        "device /dev/usb/hiddev0 hiddev\n"
        "device /dev/usb/hiddev1 hiddev\n"
        "fail open EACCES\n"
        "device /dev/usb/hiddev2 absent\n");
    captureOutput();
    EXPECT_EQ(openHID(1), -EACCES);
    EXPECT_EQ(openHID(2), -ENOENT);
    EXPECT_EQ(output(),
              "Can't open /dev/usb/hiddev1: Permission denied\n"
              "Can't open /dev/usb/hiddev2: No such file or directory\n");

    int fd = openHID(0);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(closeHID(fd), 0);
    EXPECT_EQ(closeHID(fd), -1);
}

TEST_F(Board, DeviceInfoRecord) {
    start(
        "device /dev/usb/hiddev0 hiddev\n"
        "devinfo 3 2 7 0 0x1234 0xabcd 0xfffe 1\n"
        "string1 Maker GmbH\n"
        "string2 Board\n"
        "string4_fill 0x41\n"
        "device /dev/usb/hiddev1 hiddev\n"
        "fail ioctl EIO 0 " +
        request(HIDIOCGDEVINFO) + "\n");
    // Exactly the record's size on the heap, so a write past it is caught.
    const size_t size = 2576;
    std::unique_ptr<unsigned char[]> record(new unsigned char[size]);
    memset(record.get(), 0x5a, size);
    auto* info = reinterpret_cast<talvanehid_device_info*>(record.get());

    int fd = open(0);
    EXPECT_EQ(getDeviceInfo(fd, info), 0);
    const unsigned char head[16] = {2,    0,    0,    0,    7,    0,    0,    0,
                                    0x34, 0x12, 0xcd, 0xab, 0xfe, 0xff, 0xff, 0xff};
    EXPECT_EQ(memcmp(record.get(), head, 16), 0);
    EXPECT_EQ(info->version, -2);
    EXPECT_STREQ(reinterpret_cast<char*>(&record[16]), "Maker GmbH");
    EXPECT_STREQ(reinterpret_cast<char*>(&record[16 + 256]), "Board");
    // String 3 failed: its slot is as it was.
    EXPECT_EQ(std::string(reinterpret_cast<char*>(&record[16 + 512]), 256), std::string(256, 'Z'));
    // String 4 came without an end: cut to 255 bytes and ended.
    EXPECT_EQ(std::string(reinterpret_cast<char*>(&record[16 + 768])), std::string(255, 'A'));
    for (int slot = 4; slot < 10; slot++)
        EXPECT_EQ(record[16 + slot * 256], 0x5a) << "slot " << slot + 1;
    Lines expected{"hiddev GDEVINFO"};
    for (int k = 1; k <= 10; k++)
        expected.push_back("hiddev GSTRING " + std::to_string(k));
    EXPECT_EQ(readLog(), expected);

    EXPECT_EQ(getDeviceInfo(fd, nullptr), -1);
    int failing = open(1);
    memset(record.get(), 0x5a, size);
    EXPECT_EQ(getDeviceInfo(failing, info), -1);
    EXPECT_EQ(record[0], 0x5a);
    EXPECT_EQ(record[16], 0x5a);
    EXPECT_EQ(readLog(), Lines{});
}

TEST_F(Board, Inputs) {
    std::string digital, analog;
    for (int i = 0; i < 32; i++)
        digital += i % 3 == 0 ? " 1" : " 0";
    start(
        "device /dev/usb/hiddev0 hiddev\n"
        "input1" +
        digital +
        "\n"
        "input2 0 1 4095 65535 32768 5 6 7 8 9 10 11 12 13 14 1000\n"
        "device /dev/usb/hiddev1 hiddev\n"
        "fail ioctl EIO 3 " +
        request(HIDIOCGUSAGE) +
        "\n"
        "device /dev/usb/hiddev2 hiddev\n"
        "fail ioctl EIO 0 " +
        request(HIDIOCGREPORT) + "\n");
    int fd = open(0);

    unsigned char bits[32];
    memset(bits, 0xee, sizeof bits);
    EXPECT_EQ(readDigitalIn(fd, bits), 1);
    Lines expected{"hiddev GREPORT 1 1"};
    for (int i = 0; i < 32; i++) {
        EXPECT_EQ(bits[i], i % 3 == 0 ? 1 : 0) << "input " << i;
        expected.push_back("hiddev GUSAGE 1 1 " + std::to_string(i) + " -> " +
                           (i % 3 == 0 ? "1" : "0"));
    }
    EXPECT_EQ(readLog(), expected);

    uint16_t levels[16];
    EXPECT_EQ(readAnalogIn(fd, levels), 1);
    const uint16_t want[16] = {0, 1, 4095, 65535, 32768, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 1000};
    for (int i = 0; i < 16; i++)
        EXPECT_EQ(levels[i], want[i]) << "input " << i;
    Lines log = readLog();
    ASSERT_EQ(log.size(), 17u);
    EXPECT_EQ(log[0], "hiddev GREPORT 1 2");
    EXPECT_EQ(log[16], "hiddev GUSAGE 1 2 15 -> 1000");

    EXPECT_EQ(readDigitalIn(fd, nullptr), 0);
    EXPECT_EQ(readAnalogIn(fd, nullptr), 0);
    EXPECT_EQ(readLog(), Lines{});

    captureOutput();
    EXPECT_EQ(readDigitalIn(open(1), bits), 0);
    EXPECT_EQ(output(), "Error: HIDIOCGUSAGE\n");
    EXPECT_EQ(readLog().size(), 3u);  // the report and two usages before the failure
    captureOutput();
    EXPECT_EQ(readAnalogIn(open(2), levels), 0);
    EXPECT_EQ(output(), "Error: HIDIOCGREPORT\n");
}

TEST_F(Board, DigitalOutputs) {
    start(
        "device /dev/usb/hiddev0 hiddev\n"
        "outputs 8\n"
        "device /dev/usb/hiddev1 hiddev\n"
        "fail ioctl EIO 0 " +
        request(HIDIOCSREPORT) + "\n");
    int fd = open(0);
    EXPECT_EQ(writeDigitalOut(fd, 5, 1), 1);
    EXPECT_EQ(writeDigitalOut(fd, 0, 1), 1);
    EXPECT_EQ(readLog(),
              (Lines{"hiddev SUSAGE 2 1 5 = 1", "hiddev SREPORT 2 1 outputs 0 0 0 0 0 1 0 0",
                     "hiddev SUSAGE 2 1 0 = 1", "hiddev SREPORT 2 1 outputs 1 0 0 0 0 1 0 0"}));

    captureOutput();
    EXPECT_EQ(writeDigitalOut(fd, 8, 1), 0);  // the board has outputs 0 to 7
    EXPECT_EQ(writeDigitalOut(open(1), 2, 1), 0);
    EXPECT_EQ(output(), "Error: HIDIOCSUSAGE\nError: HIDIOCSREPORT\n");
}

TEST_F(Board, EraseSendsThePatternAndAwaitsNothing) {
    start(
        "device /dev/usb/hiddev0 hiddev\n"
        "device /dev/usb/hiddev1 hiddev\n"
        "fail ioctl EIO 4 " +
        request(HIDIOCSUSAGE) + "\n");
    EXPECT_EQ(eraseDevice(open(0)), 1);
    EXPECT_EQ(readLog(), sentFull({0x01, 0x02, 0x5a, 0xc3, 0x17, 0x8e, 0x2b, 0x94}));

    captureOutput();
    EXPECT_EQ(eraseDevice(open(1)), 0);
    EXPECT_EQ(output(), "Error: HIDIOCSUSAGE\n");
    EXPECT_EQ(readLog(), (Lines{"hiddev SUSAGE 3 1 0 = 1", "hiddev SUSAGE 3 1 1 = 2",
                                "hiddev SUSAGE 3 1 2 = 90"}));
}

TEST_F(Board, SetLedsWaitsThroughBusyRounds) {
    start(
        "device /dev/usb/hiddev0 hiddev\n"
        "status 1 2 1 3\n"
        "answer 0x11 0x22 0x33\n"
        "device /dev/usb/hiddev1 hiddev\n"
        "status 2 7\n"
        "answer 0x11 0x22\n");
    int fd = open(0);
    unsigned char a = 0, b = 0;
    EXPECT_EQ(setLEDs(fd, 0x0f, 0x80, 0xff, &a, &b), 1);
    EXPECT_EQ(a, 0x11);
    EXPECT_EQ(b, 0x22);
    EXPECT_EQ(readLog(), sentFull({0x01, 0x03, 0x0f, 0x80, 0xff}) + answerRound(1) +
                             answerRound(2) + answerRound(1) + answerRound(3) +
                             featureRead(2, 0x11) + featureRead(3, 0x22));

    EXPECT_EQ(setLEDs(fd, 1, 2, 3, nullptr, &b), 0);
    EXPECT_EQ(setLEDs(fd, 1, 2, 3, &a, nullptr), 0);
    EXPECT_EQ(readLog(), Lines{});

    // A failure code ends the wait without a message and stores nothing.
    a = b = 0;
    captureOutput();
    EXPECT_EQ(setLEDs(open(1), 4, 5, 6, &a, &b), 0);
    EXPECT_EQ(output(), "");
    EXPECT_EQ(a, 0);
    EXPECT_EQ(b, 0);
    EXPECT_EQ(readLog(), sentFull({0x01, 0x03, 4, 5, 6}) + answerRound(2) + answerRound(7));
}

TEST_F(Board, LedOpenDetection) {
    start(
        "device /dev/usb/hiddev0 hiddev\n"
        "answer 1 0 0xff 3 4 0x80 9\n"
        "device /dev/usb/hiddev1 hiddev\n"
        "status 0\n");
    unsigned char detection[7];
    memset(detection, 0xee, sizeof detection);
    EXPECT_EQ(getLedOpenDetection(open(0), detection), 1);
    const unsigned char want[7] = {1, 0, 0xff, 3, 4, 0x80, 0xee};
    EXPECT_EQ(memcmp(detection, want, 7), 0);
    Lines expected = sentFull({0x01, 0x04}) + answerRound(3);
    const int answer[6] = {1, 0, 255, 3, 4, 128};
    for (int i = 0; i < 6; i++)
        expected = expected + featureRead(2 + i, answer[i]);
    EXPECT_EQ(readLog(), expected);

    int failing = open(1);
    EXPECT_EQ(getLedOpenDetection(failing, detection), 0);
    EXPECT_EQ(getLedOpenDetection(failing, nullptr), 0);
    EXPECT_EQ(readLog(), sentFull({0x01, 0x04}) + answerRound(0));
}

TEST_F(Board, SetCodecIo) {
    start(
        "device /dev/usb/hiddev0 hiddev\n"
        "status 1 3\n"
        "device /dev/usb/hiddev1 hiddev\n"
        "fail ioctl EIO 2 " +
        request(HIDIOCGREPORT) + "\n");
    EXPECT_EQ(setCodecIO(open(0), 0x42), 1);
    EXPECT_EQ(readLog(), sentFull({0x01, 0x05, 0x42}) + answerRound(1) + answerRound(3));

    captureOutput();
    int fd = open(1);
    EXPECT_EQ(setCodecIO(fd, 0x43), 1);  // the first fetch succeeds
    EXPECT_EQ(setCodecIO(fd, 0x44), 0);  // the second fails
    EXPECT_EQ(output(), "Error: HIDIOCGREPORT\n");
}

TEST_F(Board, ABusyBoardIsPolledForAsLongAsItTakes) {
    std::string busy;
    for (int i = 0; i < 200; i++)
        busy += i % 2 ? " 2" : " 1";
    start("device /dev/usb/hiddev0 hiddev\nstatus" + busy + " 3\n");
    EXPECT_EQ(setCodecIO(open(0), 1), 1);
    Lines log = readLog();
    size_t pauses = 0;
    for (const std::string& line : log)
        pauses += line == "sleep 10000";
    EXPECT_EQ(pauses, 201u);
    EXPECT_EQ(log.back(), "hiddev GUSAGE 3 1 0 -> 3");
}

TEST_F(Board, ControlRequestLengths) {
    std::string answer44 = "answer 0x5a 44";
    for (int i = 0; i < 44; i++)
        answer44 += " " + std::to_string(100 + i);
    start(
        "device /dev/usb/hiddev0 hiddev\n"
        "answer 0xa5 0\n"
        "device /dev/usb/hiddev1 hiddev\n" +
        answer44 + "\n");
    std::unique_ptr<unsigned char[]> answer(new unsigned char[46]);
    int fd = open(0);
    EXPECT_EQ(control(fd, 0x33, nullptr, 0, answer.get()), 0);
    EXPECT_EQ(answer[0], 0xa5);
    EXPECT_EQ(answer[1], 0);
    EXPECT_EQ(readLog(), sent({0x01, 0x07, 0x33, 0}) + answerRound(3) + featureRead(2, 0xa5) +
                             featureRead(3, 0));

    // Too long, negative, data or answer missing: the board is not touched.
    unsigned char data[45];
    for (int i = 0; i < 45; i++)
        data[i] = (unsigned char)(i + 1);
    EXPECT_EQ(control(fd, 0x33, data, 45, answer.get()), -1);
    EXPECT_EQ(control(fd, 0x33, data, -1, answer.get()), -1);
    EXPECT_EQ(control(fd, 0x33, nullptr, 3, answer.get()), -1);
    EXPECT_EQ(control(fd, 0x33, data, 3, nullptr), -1);
    EXPECT_EQ(readLog(), Lines{});

    // The longest request and the longest answer fill the 46 bytes exactly.
    EXPECT_EQ(control(open(1), 0x34, data, 44, answer.get()), 0);
    std::vector<int> request{0x01, 0x07, 0x34, 44};
    for (int i = 0; i < 44; i++)
        request.push_back(i + 1);
    Lines expected = sent(request) + answerRound(3) + featureRead(2, 0x5a) + featureRead(3, 44);
    EXPECT_EQ(answer[0], 0x5a);
    EXPECT_EQ(answer[1], 44);
    for (int i = 0; i < 44; i++) {
        EXPECT_EQ(answer[2 + i], 100 + i) << "answer byte " << 4 + i;
        expected = expected + featureRead(4 + i, 100 + i);
    }
    EXPECT_EQ(readLog(), expected);
}

TEST_F(Board, ControlAnswersOutsideTheBufferOrFailed) {
    start(
        "device /dev/usb/hiddev0 hiddev\n"
        "answer 0x5a 45\n"
        "device /dev/usb/hiddev1 hiddev\n"
        "status 1 9\n"
        "device /dev/usb/hiddev2 hiddev\n"
        "fail ioctl EIO 0 " +
        request(HIDIOCSREPORT) + "\n");
    std::unique_ptr<unsigned char[]> answer(new unsigned char[46]);
    memset(answer.get(), 0xee, 46);
    const unsigned char data[2] = {7, 8};

    // A count above 44 is refused before any byte past answer[1] is read.
    EXPECT_EQ(control(open(0), 0x35, data, 2, answer.get()), -1);
    EXPECT_EQ(readLog(), sent({0x01, 0x07, 0x35, 2, 7, 8}) + answerRound(3) + featureRead(2, 0x5a) +
                             featureRead(3, 45));
    for (int i = 2; i < 46; i++)
        EXPECT_EQ(answer[i], 0xee) << "answer byte " << i;

    memset(answer.get(), 0xee, 46);
    EXPECT_EQ(control(open(1), 0x35, data, 2, answer.get()), -1);
    EXPECT_EQ(readLog(), sent({0x01, 0x07, 0x35, 2, 7, 8}) + answerRound(1) + answerRound(9));
    EXPECT_EQ(answer[0], 0xee);

    captureOutput();
    EXPECT_EQ(control(open(2), 0x35, data, 2, answer.get()), -1);
    EXPECT_EQ(output(), "Error: HIDIOCSREPORT\n");
}

// Each command has its own request; a call leaves the others' bytes alone,
// and a shorter control request sends only its own length.
TEST_F(Board, RequestsStayApart) {
    start("device /dev/usb/hiddev0 hiddev\nanswer 1 2\n");
    int fd = open(0);
    unsigned char answer[46], a, b;
    unsigned char data[10];
    for (int i = 0; i < 10; i++)
        data[i] = (unsigned char)(0xc0 + i);
    ASSERT_EQ(control(fd, 0x10, data, 10, answer), 0);
    ASSERT_EQ(setLEDs(fd, 9, 8, 7, &a, &b), 1);
    readLog();

    const unsigned char shorter[2] = {0xee, 0xef};
    ASSERT_EQ(control(fd, 0x11, shorter, 2, answer), 0);
    ASSERT_EQ(setCodecIO(fd, 0x55), 1);
    ASSERT_EQ(setLEDs(fd, 1, 2, 3, &a, &b), 1);
    ASSERT_EQ(eraseDevice(fd), 1);
    EXPECT_EQ(readLog(), sent({0x01, 0x07, 0x11, 2, 0xee, 0xef}) + answerRound(3) +
                             featureRead(2, 1) + featureRead(3, 2) + featureRead(4, 0) +
                             featureRead(5, 0) + sentFull({0x01, 0x05, 0x55}) + answerRound(3) +
                             sentFull({0x01, 0x03, 1, 2, 3}) + answerRound(3) + featureRead(2, 1) +
                             featureRead(3, 2) +
                             sentFull({0x01, 0x02, 0x5a, 0xc3, 0x17, 0x8e, 0x2b, 0x94}));
}

}  // namespace
