// libkeylisten's loop over the libevdev stand-in defined in this executable.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <keylisten.h>
#include <libevdev/libevdev.h>

#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include "standin_libevdev.h"

namespace {

using Records = std::vector<std::string>;

// What the callbacks received, in order: "DEBUG Start ..." for a log
// record, "KEY_A 30 1" for an event.
Records received;

void onEvent(const char* name, unsigned int code, int value) {
    received.push_back(std::string(name) + " " + std::to_string(code) + " " +
                       std::to_string(value));
}

void onLog(const char* level, const char* message) {
    received.push_back(std::string(level) + " " + message);
}

standin_step event(int status, unsigned short type, unsigned short code, int value, int held = 0) {
    return {status, type, code, value, held, 0};
}

standin_step key(unsigned short code, int value, int held = 0) {
    return event(LIBEVDEV_READ_STATUS_SUCCESS, EV_KEY, code, value, held);
}

standin_step status(int value, int repeated = 0) {
    return {value, 0, 0, 0, 0, repeated};
}

void script(const std::vector<standin_step>& steps, int newStatus = 0) {
    standin_script(newStatus, steps.data(), steps.size());
    received.clear();
}

// The device every loop opens; the stand-in never reads from it.
const char* const kDevice = "/dev/null";

int openDescriptors() {
    int count = 0;
    DIR* dir = opendir("/proc/self/fd");
    while (readdir(dir))
        count++;
    closedir(dir);
    return count;
}

const unsigned kNormalBlocking = LIBEVDEV_READ_FLAG_NORMAL | LIBEVDEV_READ_FLAG_BLOCKING;
const unsigned kSync = LIBEVDEV_READ_FLAG_SYNC;

TEST(KeyListen, PublishesPressesAndReleasesOnly) {
    script({});
    registerCallback(kDevice, onEvent, onLog);
    received.clear();

    const input_event events[] = {
        {{0, 0}, EV_KEY, KEY_A, 1}, {{0, 0}, EV_KEY, KEY_A, 2},
        {{0, 0}, EV_KEY, KEY_A, 0}, {{0, 0}, EV_SYN, SYN_REPORT, 0},
        {{0, 0}, EV_REL, REL_X, 1}, {{0, 0}, EV_KEY, 0x2fe, 1},  // a code without a name
    };
    for (const input_event& e : events)
        EXPECT_EQ(publish_event(&e), 0);
    EXPECT_EQ(publish_event(nullptr), 0);
    EXPECT_EQ(received, (Records{"KEY_A 30 1", "KEY_A 30 0", " 766 1"}));
}

TEST(KeyListen, LoopStatusesAndMessages) {
    script({
        key(KEY_A, 1),
        event(LIBEVDEV_READ_STATUS_SUCCESS, EV_SYN, SYN_REPORT, 0),
        status(-EAGAIN),
        key(KEY_A, 2),
        event(LIBEVDEV_READ_STATUS_SYNC, EV_KEY, KEY_B, 1),
        event(LIBEVDEV_READ_STATUS_SYNC, EV_KEY, KEY_B, 0),
        status(-EAGAIN),
        key(KEY_A, 0),
        status(-EIO),
    });
    int before = openDescriptors();
    registerCallback(kDevice, onEvent, onLog);
    EXPECT_EQ(openDescriptors(), before);
    EXPECT_EQ(received, (Records{
                            "DEBUG Start native keyboard listener",
                            "KEY_A 30 1",
                            "INFO Sync events",
                            "KEY_B 48 1",
                            "INFO Sync events",
                            "KEY_B 48 0",
                            "KEY_A 30 0",
                            "INFO Failed to handle events",
                            "DEBUG Input/output error",
                            "DEBUG Exit native keyboard listener",
                        }));
    const standin_record* r = standin_recorded();
    const unsigned flags[] = {kNormalBlocking, kNormalBlocking, kNormalBlocking,
                              kNormalBlocking, kNormalBlocking, kSync,
                              kSync,           kNormalBlocking, kNormalBlocking};
    ASSERT_EQ(r->reads, 9);
    for (int i = 0; i < 9; i++)
        EXPECT_EQ(r->read_flags[i], flags[i]) << "read " << i;
    EXPECT_EQ(r->fd_flags & (O_ACCMODE | O_NONBLOCK), O_RDONLY);
    EXPECT_EQ(r->frees, 1);
}

TEST(KeyListen, OpenAndInitFailuresCloseWhatTheyOpened) {
    int before = openDescriptors();
    script({});
    registerCallback("/nonexistent/input/event0", onEvent, onLog);
    EXPECT_EQ(received,
              (Records{"DEBUG Start native keyboard listener", "INFO Failed to open device",
                       "DEBUG Exit native keyboard listener"}));
    EXPECT_EQ(run(), -1);
    EXPECT_EQ(standin_recorded()->new_calls, 0);

    script({key(KEY_A, 1)}, -ENOTTY);
    file = kDevice;
    EXPECT_EQ(run(), -2);
    EXPECT_EQ(received,
              (Records{"INFO Failed to init libevdev", "DEBUG Inappropriate ioctl for device"}));
    EXPECT_EQ(standin_recorded()->reads, 0);
    EXPECT_EQ(openDescriptors(), before);
}

TEST(KeyListen, NullCallbacksAreNotCalled) {
    script({key(KEY_A, 1), status(-EIO)});
    registerCallback(kDevice, nullptr, nullptr);
    EXPECT_EQ(standin_recorded()->reads, 2);
    script({});
    registerCallback("/nonexistent/input/event0", nullptr, nullptr);
}

// stop from another thread while the loop waits for the device: the loop
// ends with the next event, which it still publishes. A listener started
// after that runs until its device ends.
TEST(KeyListen, StopFromAnotherThread) {
    script({key(KEY_A, 1), key(KEY_A, 0, 1), key(KEY_B, 1)});
    std::thread listener([] { registerCallback(kDevice, onEvent, onLog); });
    standin_wait_held();
    stop();
    standin_release();
    listener.join();
    EXPECT_EQ(received, (Records{"DEBUG Start native keyboard listener", "KEY_A 30 1", "KEY_A 30 0",
                                 "DEBUG Exit native keyboard listener"}));
    EXPECT_EQ(standin_recorded()->reads, 2);
    EXPECT_EQ(__atomic_load_n(&running, __ATOMIC_SEQ_CST), 0);

    script({key(KEY_B, 1), key(KEY_B, 0)});
    std::thread again([] { registerCallback(kDevice, onEvent, onLog); });
    again.join();
    EXPECT_EQ(received, (Records{"DEBUG Start native keyboard listener", "KEY_B 48 1", "KEY_B 48 0",
                                 "INFO Failed to handle events", "DEBUG No such device",
                                 "DEBUG Exit native keyboard listener"}));
}

// stop while the library replays dropped events: the replay ends after the
// event in hand, and nothing it has not read yet is published.
TEST(KeyListen, StopDuringASyncReplayEndsIt) {
    script({event(LIBEVDEV_READ_STATUS_SYNC, EV_KEY, KEY_B, 1),
            event(LIBEVDEV_READ_STATUS_SYNC, EV_KEY, KEY_B, 0, 1),
            event(LIBEVDEV_READ_STATUS_SYNC, EV_KEY, KEY_C, 1), status(-EAGAIN), key(KEY_A, 1)});
    std::thread listener([] { registerCallback(kDevice, onEvent, onLog); });
    standin_wait_held();
    stop();
    standin_release();
    listener.join();
    EXPECT_EQ(received, (Records{"DEBUG Start native keyboard listener", "INFO Sync events",
                                 "KEY_B 48 1", "DEBUG Exit native keyboard listener"}));
    EXPECT_EQ(standin_recorded()->reads, 2);
}

// A loop going round without any event in between (a device that keeps
// answering "try again") notices a stop from another thread by itself.
TEST(KeyListen, StopEndsALoopThatNeverWaits) {
    script({key(KEY_A, 1), status(-EAGAIN, 1)});
    std::thread listener([] { registerCallback(kDevice, onEvent, onLog); });
    while (standin_reads() < 1000)
        std::this_thread::yield();
    stop();
    listener.join();
    EXPECT_EQ(received, (Records{"DEBUG Start native keyboard listener", "KEY_A 30 1",
                                 "DEBUG Exit native keyboard listener"}));
}

}  // namespace
