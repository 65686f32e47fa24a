#include "lyrane_detail/DeferredLogQueue.h"

#include <gtest/gtest.h>
#include <log4cxx/appenderskeleton.h>
#include <log4cxx/spi/loggingevent.h>

#include <Eigen/Core>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <limits>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "DeferredLogThread.h"
#include "LogCapture.h"
#include "PlaybackProcessing.h"
#include "ZIZO_agc.h"
#include "ZIZO_sad.h"

namespace gate {
using namespace log4cxx;

// Holds the emitting thread inside a record whose message is "gate" until
// opened, so a test can post while nothing is taken out.
class GateAppender : public log4cxx::AppenderSkeleton {
  public:
    DECLARE_LOG4CXX_OBJECT(GateAppender)
    BEGIN_LOG4CXX_CAST_MAP()
    LOG4CXX_CAST_ENTRY(GateAppender)
    LOG4CXX_CAST_ENTRY_CHAIN(AppenderSkeleton)
    END_LOG4CXX_CAST_MAP()

    void append(const ::log4cxx::spi::LoggingEventPtr& event, ::log4cxx::helpers::Pool&) override {
        std::unique_lock<std::mutex> lock(mutex);
        if (event->getMessage() == "gate") {
            entered = true;
            changed.notify_all();
            changed.wait(lock, [this] { return opened; });
        }
    }
    void close() override {}
    bool requiresLayout() const override { return false; }

    // False if the library's thread has not come within 10 s.
    bool waitUntilEntered() {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(10), [this] { return entered; });
    }
    void open() {
        std::lock_guard<std::mutex> lock(mutex);
        opened = true;
        changed.notify_all();
    }

  private:
    std::mutex mutex;
    std::condition_variable changed;
    bool entered = false;
    bool opened = false;
};
IMPLEMENT_LOG4CXX_OBJECT(GateAppender)

}  // namespace gate

namespace {

const log4cxx::LoggerPtr testLogger = log4cxx::Logger::getLogger("Lyrane.DeferredLogTest");

// The gate on the root logger while it lives.
class Gate {
  public:
    Gate() : appender(std::make_shared<gate::GateAppender>()) {
        log4cxx::Logger::getRootLogger()->addAppender(appender);
    }
    ~Gate() {
        appender->open();
        DeferredLogThread::drain();
        log4cxx::Logger::getRootLogger()->removeAppender(appender);
    }
    // Posts the gate record to queue and returns once the library's thread
    // is held inside it.
    void close(DeferredLogQueue& queue) {
        LYRANE_DEFERRED_INFO(queue, testLogger, "{}", gateText);
        ASSERT_TRUE(appender->waitUntilEntered()) << "the library's thread emits nothing";
    }
    void open() { appender->open(); }

  private:
    const std::string gateText = "gate";
    std::shared_ptr<gate::GateAppender> appender;
};

// Logs the same record directly or deferred, from one line, so that both
// carry the same function and line.
void logBothWays(bool deferred, DeferredLogQueue& queue, const std::string& name, float value,
                 long count, uint32_t limit) {
    // clang-format off
    if (deferred) LYRANE_DEFERRED_INFO(queue, testLogger, "AGC {}: value {}, {} of {}", name, value, count, limit); else LOG4CXX_INFO(testLogger, "AGC " << name << ": value " << value << ", " << count << " of " << limit);
    // clang-format on
}

void expectSameRecords(const std::vector<LogRecord>& direct,
                       const std::vector<LogRecord>& deferred) {
    ASSERT_EQ(direct.size(), deferred.size());
    for (std::size_t i = 0; i < direct.size(); ++i) {
        SCOPED_TRACE("record " + std::to_string(i) + ": " + direct[i].message);
        EXPECT_EQ(deferred[i].logger, direct[i].logger);
        EXPECT_EQ(deferred[i].level, direct[i].level);
        EXPECT_EQ(deferred[i].message, direct[i].message);
        EXPECT_EQ(deferred[i].function, direct[i].function);
        EXPECT_EQ(deferred[i].className, direct[i].className);
        EXPECT_EQ(deferred[i].file, direct[i].file);
        EXPECT_EQ(deferred[i].line, direct[i].line);
    }
}

std::string sourceLine(const std::string& file, int line) {
    std::ifstream in(std::string(LYRANE_SOURCE_DIR) + "/" + file);
    std::string text;
    for (int i = 0; i < line && std::getline(in, text); ++i) {
    }
    return text;
}

struct Site {
    std::string logger, level, message, className, function, file;
};

// The record's fields, and its line: the one that posts it in the source.
void expectSite(const std::vector<LogRecord>& records, const Site& site,
                const std::string& sourceFile) {
    SCOPED_TRACE(site.message);
    const LogRecord* found = nullptr;
    for (const auto& record : records) {
        if (record.message == site.message) {
            found = &record;
        }
    }
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->logger, site.logger);
    EXPECT_EQ(found->level, site.level);
    EXPECT_EQ(found->className, site.className);
    EXPECT_EQ(found->function, site.function);
    EXPECT_EQ(found->file, site.file);
    EXPECT_NE(sourceLine(sourceFile, found->line).find("LYRANE_DEFERRED_" + site.level + "("),
              std::string::npos)
        << "line " << found->line;
}

ZIZO_Config enabled() {
    ZIZO_Config config;
    config.set<bool>("enabled", true);
    return config;
}

}  // namespace

TEST(DeferredLogQueue, EmittedRecordsEqualDirectOnesFieldByField) {
    LogCapture log;
    DeferredLogQueue queue;
    const std::string name = "same";
    // Floats print as a stream prints them: shortest of 6 significant
    // digits, exponents, signs, non-finite values.
    const std::vector<float> values = {9.0f,
                                       0.1f,
                                       -1.5e-7f,
                                       93.0f,
                                       1e20f,
                                       3.14159274f,
                                       123456.7f,
                                       std::numeric_limits<float>::quiet_NaN(),
                                       -std::numeric_limits<float>::infinity()};
    for (bool deferred : {false, true}) {
        for (float value : values) {
            logBothWays(deferred, queue, name, value, -42, 4294967295u);
        }
    }
    const auto records = log.records("Lyrane.DeferredLogTest");
    ASSERT_EQ(records.size(), 2 * values.size());
    const std::vector<LogRecord> direct(records.begin(), records.begin() + values.size());
    const std::vector<LogRecord> deferred(records.begin() + values.size(), records.end());
    expectSameRecords(direct, deferred);
    EXPECT_EQ(deferred[0].message, "AGC same: value 9, -42 of 4294967295");
    EXPECT_EQ(deferred[2].message, "AGC same: value -1.5e-07, -42 of 4294967295");
}

TEST(DeferredLogQueue, AudioPathRecordsKeepLoggerLevelTextAndSite) {
    LogCapture log;
    const unsigned int fs = 16000;
    {
        ZIZO_Config config = enabled();
        config.set<bool>("decrease_max_gain", true);
        ZIZO_agc agc("site", 160, fs, config);
        Eigen::ArrayXf out(160);
        agc.run(Eigen::ArrayXf::Zero(100), out, true);
        // Full-scale alternation: ducked at once, and every high-passed
        // sample is in the loudest bin, so after a second the maximum drops
        // to 0 dB.
        Eigen::ArrayXf loud(160);
        for (int i = 0; i < 160; ++i) {
            loud[i] = (i % 2 == 0) ? 1.0f : -1.0f;
        }
        for (unsigned int block = 0; block <= fs / 160; ++block) {
            agc.run(loud, out, true);
        }
    }
    {
        ZIZO_sad sad("site", 160, fs, enabled());
        sad.run(Eigen::ArrayXf::Zero(100));
        sad.switchState(9);
        sad.run(Eigen::ArrayXf::Zero(160));
    }
    {
        PlaybackProcessing chain("site", 160, fs, ZIZO_Config());
        Eigen::ArrayXf in(159), out(160);
        chain.run(in, out);
    }
    const auto records = log.records();
    const std::string agcFile = "liblyrane/ZIZO_agc.cpp";
    const std::string sadFile = "liblyrane/ZIZO_sad.cpp";
    const std::string chainFile = "ladspa_playback_processing/PlaybackProcessing.cpp";
    expectSite(records,
               {"ZIZO.Agc", "ERROR", "AGC site: block of 100 samples refused, 160 expected.",
                "ZIZO_agc", "run", "ZIZO_agc.cpp"},
               agcFile);
    expectSite(records,
               {"ZIZO.Agc", "TRACE", "AGC site: duck gain was applied.", "ZIZO_agc", "run",
                "ZIZO_agc.cpp"},
               agcFile);
    expectSite(records,
               {"ZIZO.Agc", "INFO", "AGC site: max_gain_db was reduced to 0", "ZIZO_agc",
                "updateMaxGain", "ZIZO_agc.cpp"},
               agcFile);
    expectSite(records,
               {"ZIZO.Sad", "ERROR", "SAD site: block of 100 samples refused, 160 expected.",
                "ZIZO_sad", "run", "ZIZO_sad.cpp"},
               sadFile);
    expectSite(records, {"ZIZO.Sad", "ERROR", "Unknown state 9", "ZIZO_sad", "run", "ZIZO_sad.cpp"},
               sadFile);
    expectSite(records,
               {"ZIZO.PlaybackProcessing", "ERROR",
                "(site): block of 159 in, 160 out samples refused; expected 160.",
                "PlaybackProcessing", "run", "PlaybackProcessing.cpp"},
               chainFile);
}

// While the emitting thread is held in an appender, a queue of two takes two
// records and drops the rest; the next record that goes in says how many
// were dropped, and order goes on from there.
TEST(DeferredLogQueue, OverflowIsCountedInTheNextRecord) {
    LogCapture log;
    std::vector<std::string> texts;
    for (int i = 0; i < 11; ++i) {
        texts.push_back("r" + std::to_string(i));
    }
    {
        Gate gate;
        DeferredLogQueue queue(2);
        ASSERT_NO_FATAL_FAILURE(gate.close(queue));
        for (int i = 1; i <= 7; ++i) {  // r1, r2 go in; r3 .. r7 are dropped
            LYRANE_DEFERRED_INFO(queue, testLogger, "{}", texts[i]);
        }
        gate.open();
        DeferredLogThread::drain();
        for (int i = 8; i <= 10; ++i) {
            LYRANE_DEFERRED_INFO(queue, testLogger, "{}", texts[i]);
            DeferredLogThread::drain();
        }
    }
    EXPECT_EQ(log.messages("Lyrane.DeferredLogTest"),
              (std::vector<std::string>{"gate", "r1", "r2",
                                        "r8 [5 records dropped before this one: log queue full]",
                                        "r9", "r10"}));
}

// Drops that no later record reports are reported by the last dropped record
// when the queue is destroyed.
TEST(DeferredLogQueue, DropsWithoutALaterRecordAreReportedAtDestruction) {
    LogCapture log;
    const std::string a = "a", b = "b", c = "c", d = "d";
    {
        Gate gate;
        DeferredLogQueue queue(1);
        ASSERT_NO_FATAL_FAILURE(gate.close(queue));
        LYRANE_DEFERRED_INFO(queue, testLogger, "{}", a);
        LYRANE_DEFERRED_INFO(queue, testLogger, "{}", b);  // dropped
        LYRANE_DEFERRED_INFO(queue, testLogger, "{}", c);  // dropped
        LYRANE_DEFERRED_INFO(queue, testLogger, "{}", d);  // dropped
        gate.open();
    }
    EXPECT_EQ(log.messages("Lyrane.DeferredLogTest"),
              (std::vector<std::string>{"gate", "a",
                                        "d [2 records dropped before this one: log queue full]"}));
}

// A block destroyed right after run emits its pending records, in order. The
// library's thread is held in an appender on another queue meanwhile, past
// the block's queue in its pass, and let go once the destruction waits for
// it; unless the machine stalls the destroying thread for a whole polling
// interval after that, only the destruction can emit them.
TEST(DeferredLogQueue, BlockDestroyedRightAfterRunEmitsItsRecords) {
    LogCapture log;
    Gate gate;
    DeferredLogQueue gateQueue;
    auto agc = std::make_unique<ZIZO_agc>("gone", 160, 16000, enabled());
    ASSERT_NO_FATAL_FAILURE(gate.close(gateQueue));
    Eigen::ArrayXf out(160);
    agc->run(Eigen::ArrayXf::Zero(100), out, true);
    agc->run(Eigen::ArrayXf::Zero(50), out, true);
    std::thread opener([&gate] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        gate.open();
    });
    agc.reset();
    opener.join();
    const auto errors = log.messages("ZIZO.Agc");
    const std::vector<std::string> expected = {
        "AGC gone: block of 100 samples refused, 160 expected.",
        "AGC gone: block of 50 samples refused, 160 expected."};
    std::vector<std::string> refusals;
    for (const auto& message : errors) {
        if (message.find("refused") != std::string::npos) {
            refusals.push_back(message);
        }
    }
    EXPECT_EQ(refusals, expected);
}

// Records posted on one thread while the library's thread emits and another
// drains: every record arrives once, in order, or is counted as dropped.
TEST(DeferredLogThread, ConcurrentPostsArriveInOrderOrAreCounted) {
    LogCapture log;
    const long total = 20000;
    auto queue = std::make_unique<DeferredLogQueue>(64);
    EXPECT_TRUE(DeferredLogThread::isRunning());
    std::atomic<bool> done{false};
    std::thread producer([&] {
        for (long i = 0; i < total; ++i) {
            LYRANE_DEFERRED_DEBUG(*queue, testLogger, "n {}", i);
        }
        done.store(true);
    });
    while (!done.load()) {
        DeferredLogThread::drain();
    }
    producer.join();
    // The last posts may have been dropped; their count shows only when
    // the queue goes.
    queue.reset();
    const auto all = log.messages("Lyrane.DeferredLogTest");
    long expectedNext = 0;
    for (const auto& message : all) {
        long n = -1;
        unsigned long dropped = 0;
        const int fields = std::sscanf(message.c_str(), "n %ld [%lu", &n, &dropped);
        ASSERT_GE(fields, 1) << message;
        ASSERT_EQ(n, expectedNext + static_cast<long>(dropped)) << message;
        expectedNext = n + 1;
    }
    EXPECT_EQ(expectedNext, total);
}
