// The library's log thread and dlclose, as a host that loads and unloads
// the library sees them. This program links neither the library nor the
// test support (which does), only log4cxx, so the library is loaded and
// unloaded here alone.
#include <dirent.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <log4cxx/appenderskeleton.h>
#include <log4cxx/logger.h>
#include <log4cxx/spi/loggingevent.h>

#include <algorithm>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

namespace unloadtest {
using namespace log4cxx;

class MessageAppender : public log4cxx::AppenderSkeleton {
  public:
    DECLARE_LOG4CXX_OBJECT(MessageAppender)
    BEGIN_LOG4CXX_CAST_MAP()
    LOG4CXX_CAST_ENTRY(MessageAppender)
    LOG4CXX_CAST_ENTRY_CHAIN(AppenderSkeleton)
    END_LOG4CXX_CAST_MAP()

    void append(const ::log4cxx::spi::LoggingEventPtr& event, ::log4cxx::helpers::Pool&) override {
        std::lock_guard<std::mutex> lock(mutex);
        messages.push_back(event->getMessage());
    }
    void close() override {}
    bool requiresLayout() const override { return false; }
    std::vector<std::string> all() {
        std::lock_guard<std::mutex> lock(mutex);
        return messages;
    }

  private:
    std::mutex mutex;
    std::vector<std::string> messages;
};
IMPLEMENT_LOG4CXX_OBJECT(MessageAppender)

}  // namespace unloadtest

namespace {

// Threads named as the library names its log thread (a sanitizer may start
// threads of its own at any time).
int logThreadCount() {
    int count = 0;
    if (DIR* tasks = opendir("/proc/self/task")) {
        while (const dirent* entry = readdir(tasks)) {
            if (entry->d_name[0] == '.') {
                continue;
            }
            std::ifstream comm(std::string("/proc/self/task/") + entry->d_name + "/comm");
            std::string name;
            std::getline(comm, name);
            count += name == "lyrane-log";
        }
        closedir(tasks);
    }
    return count;
}

bool stillLoaded(const char* path) {
    void* handle = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
    if (handle != nullptr) {
        dlclose(handle);
    }
    return handle != nullptr;
}

class Capture {
  public:
    Capture() : appender(std::make_shared<unloadtest::MessageAppender>()) {
        auto root = log4cxx::Logger::getRootLogger();
        root->setLevel(log4cxx::Level::getAll());
        root->addAppender(appender);
    }
    ~Capture() { log4cxx::Logger::getRootLogger()->removeAppender(appender); }
    std::vector<std::string> messages() { return appender->all(); }

  private:
    std::shared_ptr<unloadtest::MessageAppender> appender;
};

template <typename F>
F symbol(void* module, const char* name) {
    return reinterpret_cast<F>(dlsym(module, name));
}

}  // namespace

// The thread starts with the first queue, and dlclose stops and joins it
// before the code goes: the pending records are emitted and the thread is
// gone. A thread left running would crash in unmapped code.
TEST(DeferredLogThreadUnload, DlcloseEmitsPendingRecordsAndJoinsTheThread) {
    Capture capture;
    void* probe = dlopen(LYRANE_UNLOAD_PROBE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(probe, nullptr) << dlerror();
    auto post = symbol<void (*)(int)>(probe, "lyrane_unload_probe_post");
    ASSERT_NE(post, nullptr);
    post(3);
    EXPECT_EQ(logThreadCount(), 1);
    ASSERT_EQ(dlclose(probe), 0);
    ASSERT_FALSE(stillLoaded(LYRANE_UNLOAD_PROBE)) << "the probe module was not unloaded";
    EXPECT_EQ(logThreadCount(), 0);
    EXPECT_EQ(capture.messages(), (std::vector<std::string>{"probe 0", "probe 1", "probe 2"}));
}

// The library itself through its C interface, as the plug-in drives it: a
// chain that lowers its maximum gain posts a deferred INFO record; after
// Uninit and dlclose the record is out, and the process exits cleanly (the
// test's time limit catches a hang at exit). If the library stays loaded
// (symbols that pin it), its thread runs on until exit.
TEST(DeferredLogThreadUnload, LibraryChainRecordIsOutAfterDlcloseAndExitIsClean) {
    Capture capture;
    void* library = dlopen(LYRANE_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    using Handle = void*;
    auto init = symbol<Handle (*)(const char*, unsigned int, unsigned int)>(
        library, "PlaybackProcessing_Init");
    auto setFlag = symbol<int (*)(Handle, int)>(library, "PlaybackProcessing_setAGCEnabled");
    auto setDecrease =
        symbol<int (*)(Handle, int)>(library, "PlaybackProcessing_setAGCDecreaseMaxGain");
    auto process =
        symbol<int (*)(Handle, const float*, float*)>(library, "PlaybackProcessing_Process");
    auto uninit = symbol<int (*)(Handle)>(library, "PlaybackProcessing_Uninit");
    ASSERT_TRUE(init && setFlag && setDecrease && process && uninit);

    const unsigned int fs = 16000;
    Handle chain = init("UNLOAD", 1, fs);
    ASSERT_NE(chain, nullptr);
    setFlag(chain, 1);
    setDecrease(chain, 1);
    // Full-scale alternation for over a second: every high-passed sample is
    // in the loudest level bin, so the maximum gain drops to 0 dB.
    for (unsigned int k = 0; k <= fs + fs / 10; ++k) {
        const float in = (k % 2 == 0) ? 1.0f : -1.0f;
        float out;
        process(chain, &in, &out);
    }
    EXPECT_EQ(logThreadCount(), 1);
    uninit(chain);
    ASSERT_EQ(dlclose(library), 0);

    const auto messages = capture.messages();
    EXPECT_NE(
        std::find(messages.begin(), messages.end(), "AGC UNLOAD_AGC: max_gain_db was reduced to 0"),
        messages.end());
    EXPECT_EQ(logThreadCount(), stillLoaded(LYRANE_LIBRARY) ? 1 : 0);
}
