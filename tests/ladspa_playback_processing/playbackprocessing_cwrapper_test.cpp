#include "playbackprocessing_cwrapper.h"

#include <gtest/gtest.h>
#include <log4cxx/appenderskeleton.h>
#include <log4cxx/logger.h>
#include <log4cxx/spi/loggingevent.h>

#include <Eigen/Core>
#include <ZIZO_Config>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ExternalModuleRegistry.h"
#include "LogCapture.h"
#include "PlaybackProcessing.h"

namespace {

const char* const kLogger = "ZIZO.PlaybackProcessingCWrapper";
const std::string kCoefficientFile =
    std::string(LYRANE_TEST_CONFIG_DIR) + "/equalizer_coefficients.cfg";

std::shared_ptr<PlaybackProcessing> registered(const std::string& name) {
    return ExternalModuleRegistry::getInstance()->getPlaybackProcessing(name);
}

}  // namespace

TEST(PlaybackProcessingCWrapper, NullHandleGivesStatusOneAndLogsNothing) {
    LogCapture log;
    float sample = 0.5f;
    int flag = 7;
    EXPECT_EQ(PlaybackProcessing_Uninit(nullptr), 0);
    EXPECT_EQ(PlaybackProcessing_Process(nullptr, &sample, &sample), 1);
    EXPECT_EQ(PlaybackProcessing_setAGCEnabled(nullptr, 1), 1);
    EXPECT_EQ(PlaybackProcessing_getAGCEnabled(nullptr, &flag), 1);
    EXPECT_EQ(PlaybackProcessing_setAGCTargetLevelDb(nullptr, -20.0f), 1);
    EXPECT_EQ(PlaybackProcessing_setAGCMaxGainDb(nullptr, 12.0f), 1);
    EXPECT_EQ(PlaybackProcessing_setAGCDecreaseMaxGain(nullptr, 1), 1);
    EXPECT_EQ(PlaybackProcessing_setAGCMaxAmp(nullptr, 0.5f), 1);
    EXPECT_EQ(PlaybackProcessing_setAGCNonspeechHoldGainTime(nullptr, 1.0f), 1);
    EXPECT_EQ(PlaybackProcessing_setAGCNonspeechReleaseSpeed(nullptr, 3.0f), 1);
    EXPECT_EQ(PlaybackProcessing_setEqualizerEnabled(nullptr, 1), 1);
    EXPECT_EQ(PlaybackProcessing_getEqualizerEnabled(nullptr, &flag), 1);
    EXPECT_EQ(PlaybackProcessing_setEqualizerFilename(nullptr, "x.cfg"), 1);
    EXPECT_EQ(PlaybackProcessing_setOutputGainDb(nullptr, 0.0f), 1);
    EXPECT_EQ(sample, 0.5f);
    EXPECT_EQ(flag, 7);
    EXPECT_TRUE(log.records().empty());
}

TEST(PlaybackProcessingCWrapper, InitLogsBuildsMutedChainAndRegistersIt) {
    LogCapture log;
    PlaybackProcessingData* handle = PlaybackProcessing_Init("CW_INIT", 1, 16000);
    ASSERT_NE(handle, nullptr);
    const auto own = log.records(kLogger);
    ASSERT_EQ(own.size(), 2u);
    EXPECT_EQ(own[0].level, "INFO");
    EXPECT_EQ(own[0].message, "PlaybackProcessing_Init");
    EXPECT_EQ(own[0].function, "PlaybackProcessing_Init");
    EXPECT_EQ(own[0].file, "playbackprocessing_cwrapper.cpp");
    EXPECT_EQ(own[1].level, "DEBUG");
    EXPECT_EQ(own[1].message, "Nblock 1, fs 16000");
    EXPECT_EQ(log.count("Registered CW_INIT."), 1u);

    // The registry the test reaches is the one the library registered in.
    const auto chain = registered("CW_INIT");
    ASSERT_NE(chain, nullptr);
    EXPECT_EQ(chain->getNblock(), 1u);
    EXPECT_EQ(chain->getFs(), 16000u);
    int flag = 7;
    EXPECT_EQ(PlaybackProcessing_getAGCEnabled(handle, &flag), 0);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(PlaybackProcessing_getEqualizerEnabled(handle, &flag), 0);
    EXPECT_EQ(flag, 0);

    // Muted until the output gain is set; in and out may be one buffer.
    float sample = 0.5f;
    for (int i = 0; i < 10; ++i) {
        sample = 0.5f;
        ASSERT_EQ(PlaybackProcessing_Process(handle, &sample, &sample), 0);
        EXPECT_EQ(sample, 0.0f);
    }
    ASSERT_EQ(PlaybackProcessing_setOutputGainDb(handle, 0.0f), 0);
    sample = 0.5f;
    ASSERT_EQ(PlaybackProcessing_Process(handle, &sample, &sample), 0);
    EXPECT_EQ(sample, 0.5f);

    std::weak_ptr<PlaybackProcessing> watch = chain;
    EXPECT_EQ(PlaybackProcessing_Uninit(handle), 0);
    EXPECT_EQ(registered("CW_INIT"), nullptr);
    EXPECT_EQ(log.count("Unregistered CW_INIT."), 1u);
    // The test's own reference keeps the chain, as a consumer's would.
    EXPECT_FALSE(watch.expired());
    EXPECT_EQ(chain->getName(), "CW_INIT");
}

TEST(PlaybackProcessingCWrapper, FailedInitLogsOneFatalAndLeavesNothing) {
    LogCapture log;
    EXPECT_EQ(PlaybackProcessing_Init(nullptr, 1, 16000), nullptr);
    auto fatal = log.records(kLogger, "FATAL");
    ASSERT_EQ(fatal.size(), 1u);
    EXPECT_EQ(fatal[0].message.rfind("Could not create instance of PlaybackProcessing: ", 0), 0u)
        << fatal[0].message;
    EXPECT_EQ(fatal[0].function, "PlaybackProcessing_Init");

    log.clear();
    EXPECT_EQ(PlaybackProcessing_Init("CW_ZERO_RATE", 1, 0), nullptr);
    fatal = log.records(kLogger, "FATAL");
    ASSERT_EQ(fatal.size(), 1u);
    EXPECT_EQ(fatal[0].message,
              "Could not create instance of PlaybackProcessing: "
              "PlaybackProcessing needs Nblock > 0 and fs > 0");
    EXPECT_EQ(registered("CW_ZERO_RATE"), nullptr);
    // Nothing was offered to the registry (its first use may log its
    // construction at TRACE).
    EXPECT_EQ(log.records("ZIZO.External_Module_Registry", "INFO").size(), 0u);
    EXPECT_EQ(log.records("ZIZO.External_Module_Registry", "ERROR").size(), 0u);
}

TEST(PlaybackProcessingCWrapper, NullArgumentsGiveStatusOneAndChangeNothing) {
    PlaybackProcessingData* handle = PlaybackProcessing_Init("CW_NULL", 1, 16000);
    ASSERT_NE(handle, nullptr);
    PlaybackProcessing_setOutputGainDb(handle, 0.0f);
    LogCapture log;
    float in = 0.25f, out = 9.0f;
    EXPECT_EQ(PlaybackProcessing_Process(handle, nullptr, &out), 1);
    EXPECT_EQ(PlaybackProcessing_Process(handle, &in, nullptr), 1);
    EXPECT_EQ(out, 9.0f);
    EXPECT_EQ(PlaybackProcessing_getAGCEnabled(handle, nullptr), 1);
    EXPECT_EQ(PlaybackProcessing_getEqualizerEnabled(handle, nullptr), 1);
    EXPECT_EQ(PlaybackProcessing_setEqualizerFilename(handle, nullptr), 1);
    EXPECT_TRUE(log.records().empty());

    // The refused Process calls buffered nothing: after 683 good ones the
    // consumer's first sample is the first good input.
    for (int i = 0; i < 683; ++i) {
        in = float(i + 1);
        ASSERT_EQ(PlaybackProcessing_Process(handle, &in, &out), 0);
    }
    EXPECT_EQ(registered("CW_NULL")->getNextInputSample(), 1.0f);
    PlaybackProcessing_Uninit(handle);
}

TEST(PlaybackProcessingCWrapper, SettersLogTheirDebugTextAndReachTheChain) {
    PlaybackProcessingData* handle = PlaybackProcessing_Init("CW_SET", 160, 16000);
    ASSERT_NE(handle, nullptr);
    const auto chain = registered("CW_SET");
    LogCapture log;

    EXPECT_EQ(PlaybackProcessing_setAGCEnabled(handle, 2), 0);
    int flag = 0;
    EXPECT_EQ(PlaybackProcessing_getAGCEnabled(handle, &flag), 0);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(PlaybackProcessing_setAGCTargetLevelDb(handle, -20.5f), 0);
    EXPECT_EQ(PlaybackProcessing_setAGCMaxGainDb(handle, -12.0f), 0);
    EXPECT_EQ(chain->getAgcMaxGainDb(), 12.0f);
    EXPECT_EQ(PlaybackProcessing_setAGCDecreaseMaxGain(handle, 3), 0);
    EXPECT_EQ(PlaybackProcessing_setAGCMaxAmp(handle, 0.5f), 0);
    EXPECT_EQ(PlaybackProcessing_setAGCNonspeechHoldGainTime(handle, 0.5f), 0);
    EXPECT_EQ(PlaybackProcessing_setAGCNonspeechReleaseSpeed(handle, 6.0f), 0);
    EXPECT_EQ(PlaybackProcessing_setEqualizerFilename(handle, kCoefficientFile.c_str()), 0);
    EXPECT_EQ(PlaybackProcessing_setEqualizerEnabled(handle, 5), 0);
    EXPECT_EQ(PlaybackProcessing_getEqualizerEnabled(handle, &flag), 0);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(PlaybackProcessing_setOutputGainDb(handle, -6.0f), 0);
    EXPECT_EQ(PlaybackProcessing_setAGCEnabled(handle, 0), 0);
    EXPECT_EQ(PlaybackProcessing_getAGCEnabled(handle, &flag), 0);
    EXPECT_EQ(flag, 0);

    const std::vector<std::string> expected = {
        "setAGCTargetLevelDb called with target_level -20.5",
        "setAGCMaxGainDb called with max_gain -12",
        "setAGCDecreaseMaxGain called with enabled 3",
        "setAGCMaxAmp called with max_amp 0.5",
        "setEqualizerFilename called with filename " + kCoefficientFile,
        "setEqualizerEnabled called with enabled 5",
        "setOutputGainDb called with gain -6",
    };
    const auto records = log.records(kLogger);
    ASSERT_EQ(records.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(records[i].message, expected[i]);
        EXPECT_EQ(records[i].level, "DEBUG");
    }
    EXPECT_EQ(records[0].function, "PlaybackProcessing_setAGCTargetLevelDb");
    EXPECT_EQ(records[6].function, "PlaybackProcessing_setOutputGainDb");
    // The chain's own record of the output gain comes after the wrapper's.
    EXPECT_EQ(log.count("(CW_SET): output gain set to -6dB (0.501187)"), 1u);
    PlaybackProcessing_Uninit(handle);
}

TEST(PlaybackProcessingCWrapper, DuplicateNameRunsUnregisteredAndLeavesTheFirstRegistered) {
    LogCapture log;
    PlaybackProcessingData* first = PlaybackProcessing_Init("CW_DUP", 1, 16000);
    PlaybackProcessingData* second = PlaybackProcessing_Init("CW_DUP", 1, 16000);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(log.count("Cannot register CW_DUP. Object is already registered."), 1u);
    const auto firstChain = registered("CW_DUP");

    float sample = 0.5f;
    EXPECT_EQ(PlaybackProcessing_setOutputGainDb(second, 0.0f), 0);
    EXPECT_EQ(PlaybackProcessing_Process(second, &sample, &sample), 0);
    EXPECT_EQ(sample, 0.5f) << "the second chain works";

    EXPECT_EQ(PlaybackProcessing_Uninit(second), 0);
    EXPECT_EQ(registered("CW_DUP"), firstChain) << "releasing the second keeps the first";
    EXPECT_EQ(log.count("Cannot unregister CW_DUP. Object is not registered."), 0u);
    EXPECT_EQ(PlaybackProcessing_Uninit(first), 0);
    EXPECT_EQ(registered("CW_DUP"), nullptr);
    EXPECT_EQ(log.count("Unregistered CW_DUP."), 1u);
}

TEST(PlaybackProcessingCWrapper, ProcessGivesTheChainsRunBitForBitInPlaceAndApart) {
    // One sample per call (the plug-in's case, copied without a library call)
    // and a longer block (copied whole). The reference is the chain's own run
    // on a chain built alike; the input is a slow ramp with sign changes, so
    // the AGC and equalizer states matter to every output sample.
    for (const unsigned int Nblock : {1u, 5u}) {
        SCOPED_TRACE("Nblock " + std::to_string(Nblock));
        PlaybackProcessingData* inPlace = PlaybackProcessing_Init("CW_SAME", Nblock, 16000);
        PlaybackProcessingData* apart = PlaybackProcessing_Init("CW_APART", Nblock, 16000);
        ASSERT_NE(inPlace, nullptr);
        ASSERT_NE(apart, nullptr);
        PlaybackProcessing reference("CW_REFERENCE", Nblock, 16000, ZIZO_Config());
        for (PlaybackProcessingData* handle : {inPlace, apart}) {
            PlaybackProcessing_setEqualizerFilename(handle, kCoefficientFile.c_str());
            PlaybackProcessing_setOutputGainDb(handle, -3.0f);
            PlaybackProcessing_setAGCEnabled(handle, 1);
            PlaybackProcessing_setEqualizerEnabled(handle, 1);
        }
        reference.setEqualizerFilename(kCoefficientFile);
        reference.setOutputGainDb(-3.0f);
        reference.setAgcEnabled(true);
        reference.setEqualizerEnabled(true);

        Eigen::ArrayXf in(Nblock), expected(Nblock);
        std::vector<float> buffer(Nblock), input(Nblock), output(Nblock);
        for (unsigned int block = 0; block < 4000 / Nblock; ++block) {
            for (unsigned int i = 0; i < Nblock; ++i) {
                const unsigned int k = block * Nblock + i;
                in[i] = 0.4f * std::sin(0.05f * float(k)) * float(k % 97) / 97.0f;
                buffer[i] = input[i] = in[i];
            }
            ASSERT_TRUE(reference.run(in, expected));
            ASSERT_EQ(PlaybackProcessing_Process(inPlace, buffer.data(), buffer.data()), 0);
            ASSERT_EQ(PlaybackProcessing_Process(apart, input.data(), output.data()), 0);
            for (unsigned int i = 0; i < Nblock; ++i) {
                ASSERT_EQ(buffer[i], expected[i])
                    << "in place, block " << block << ", sample " << i;
                ASSERT_EQ(output[i], expected[i]) << "apart, block " << block << ", sample " << i;
                ASSERT_EQ(input[i], in[i]) << "the input buffer is left alone";
            }
        }
        PlaybackProcessing_Uninit(inPlace);
        PlaybackProcessing_Uninit(apart);
    }
}

// The buffer call against Process on each of its blocks: whole buffers of
// longer blocks, buffers that overlap without being the same (each block
// reads what the one before left), and refused calls that change nothing.
TEST(PlaybackProcessingCWrapper, ProcessBufferIsProcessOnEachBlockAndRefusesPartBlocks) {
    for (const unsigned int Nblock : {1u, 5u}) {
        SCOPED_TRACE("Nblock " + std::to_string(Nblock));
        PlaybackProcessingData* single = PlaybackProcessing_Init("CW_BLOCKS", Nblock, 16000);
        PlaybackProcessingData* buffered = PlaybackProcessing_Init("CW_BUFFER", Nblock, 16000);
        ASSERT_NE(single, nullptr);
        ASSERT_NE(buffered, nullptr);
        for (PlaybackProcessingData* handle : {single, buffered}) {
            PlaybackProcessing_setEqualizerFilename(handle, kCoefficientFile.c_str());
            PlaybackProcessing_setEqualizerEnabled(handle, 1);
            PlaybackProcessing_setAGCEnabled(handle, 1);
            PlaybackProcessing_setOutputGainDb(handle, 0.0f);
        }
        float sample = 0.5f;
        EXPECT_EQ(PlaybackProcessing_ProcessBuffer(nullptr, &sample, &sample, Nblock), 1);
        EXPECT_EQ(PlaybackProcessing_ProcessBuffer(buffered, nullptr, &sample, Nblock), 1);
        EXPECT_EQ(PlaybackProcessing_ProcessBuffer(buffered, &sample, nullptr, Nblock), 1);
        EXPECT_EQ(PlaybackProcessing_ProcessBuffer(buffered, &sample, &sample, 0), 0);
        EXPECT_EQ(sample, 0.5f);

        const unsigned int n = 40 * Nblock;
        std::vector<float> expected(n + 1), actual(n + 1);
        for (int round = 0; round < 30; ++round) {
            for (unsigned int i = 0; i <= n; ++i)
                expected[i] = actual[i] = 0.3f * std::sin(0.07f * float(i + round * n));
            if (Nblock > 1) {
                // A part block at the end: nothing processed.
                EXPECT_EQ(
                    PlaybackProcessing_ProcessBuffer(buffered, actual.data(), actual.data(), n + 1),
                    1);
            }
            // Every other round the output lies one sample after the input,
            // where each block overwrites the next one's input.
            const unsigned int shift = round % 2;
            for (unsigned int start = 0; start < n; start += Nblock) {
                ASSERT_EQ(PlaybackProcessing_Process(single, expected.data() + start,
                                                     expected.data() + shift + start),
                          0);
            }
            ASSERT_EQ(
                PlaybackProcessing_ProcessBuffer(buffered, actual.data(), actual.data() + shift, n),
                0);
            for (unsigned int i = 0; i <= n; ++i)
                ASSERT_EQ(actual[i], expected[i]) << "round " << round << ", sample " << i;
        }
        // The FIFO holds what each block read.
        for (int pull = 0; pull < 1500; ++pull) {
            ASSERT_EQ(registered("CW_BUFFER")->getNextInputSample(),
                      registered("CW_BLOCKS")->getNextInputSample())
                << "pull " << pull;
        }
        PlaybackProcessing_Uninit(single);
        PlaybackProcessing_Uninit(buffered);
    }
}

namespace gate {
using namespace log4cxx;

// Holds the thread that logs the record it waits for until released, as an
// appender stuck on slow I/O would. Waiting for the switch-off record that
// an enabled equalizer's reload logs keeps that reload half done, its file
// not yet read, for as long as the test likes.
class RecordGateAppender : public log4cxx::AppenderSkeleton {
  public:
    DECLARE_LOG4CXX_OBJECT(RecordGateAppender)
    BEGIN_LOG4CXX_CAST_MAP()
    LOG4CXX_CAST_ENTRY(RecordGateAppender)
    LOG4CXX_CAST_ENTRY_CHAIN(AppenderSkeleton)
    END_LOG4CXX_CAST_MAP()

    void append(const ::log4cxx::spi::LoggingEventPtr& event, ::log4cxx::helpers::Pool&) override {
        if (event->getMessage() != awaited)
            return;
        std::unique_lock<std::mutex> lock(mutex);
        entered = true;
        changed.notify_all();
        changed.wait(lock, [this] { return released; });
    }
    void close() override {}
    bool requiresLayout() const override { return false; }

    void await(const std::string& message) { awaited = message; }
    bool waitUntilEntered(std::chrono::seconds limit) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, limit, [this] { return entered; });
    }
    void release() {
        std::lock_guard<std::mutex> lock(mutex);
        released = true;
        changed.notify_all();
    }

  private:
    std::mutex mutex;
    std::condition_variable changed;
    std::string awaited;
    bool entered = false;
    bool released = false;
};
IMPLEMENT_LOG4CXX_OBJECT(RecordGateAppender)

}  // namespace gate

TEST(PlaybackProcessingCWrapper, ProcessKeepsFilteringWhileAReloadIsStuck) {
    // Both chains equalize the same signal; chain B's setter gets stuck
    // inside its reload, and B's Process calls must neither wait for it nor
    // see a half-done reload: they go on with the previous sections.
    const unsigned int fs = 16000;
    PlaybackProcessingData* reference = PlaybackProcessing_Init("RT_REF", 1, fs);
    PlaybackProcessingData* stuck = PlaybackProcessing_Init("RT_STUCK", 1, fs);
    ASSERT_NE(reference, nullptr);
    ASSERT_NE(stuck, nullptr);
    for (PlaybackProcessingData* chain : {reference, stuck}) {
        ASSERT_EQ(PlaybackProcessing_setEqualizerFilename(chain, kCoefficientFile.c_str()), 0);
        ASSERT_EQ(PlaybackProcessing_setEqualizerEnabled(chain, 1), 0);
        ASSERT_EQ(PlaybackProcessing_setOutputGainDb(chain, 0.0f), 0);
    }

    auto equalizerLogger = log4cxx::Logger::getLogger("ZIZO.Equalizer");
    const log4cxx::LevelPtr previousLevel = equalizerLogger->getLevel();
    equalizerLogger->setLevel(log4cxx::Level::getInfo());
    auto gate = std::make_shared<gate::RecordGateAppender>();
    gate->await("Equalizer RT_STUCK_EQUALIZER disabled.");
    equalizerLogger->addAppender(gate);
    std::thread setter(
        [&] { PlaybackProcessing_setEqualizerFilename(stuck, kCoefficientFile.c_str()); });
    ASSERT_TRUE(gate->waitUntilEntered(std::chrono::seconds(30)));

    const std::size_t samples = 16000;
    std::vector<float> expected(samples), got(samples);
    for (std::size_t k = 0; k < samples; ++k) {
        const float in = 0.25f * std::sin(0.05f * float(k)) + 0.1f * std::sin(1.3f * float(k));
        PlaybackProcessing_Process(reference, &in, &expected[k]);
        got[k] = in;
    }
    std::atomic<bool> processed{false};
    std::thread audio([&] {
        for (float& sample : got)
            PlaybackProcessing_Process(stuck, &sample, &sample);
        processed.store(true);
    });
    // Generous: a second of audio takes well under a second even under
    // sanitizers; a Process call waiting for the setter never returns.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!processed.load() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(processed.load()) << "Process waited for a setter stuck in a reload";
    gate->release();
    setter.join();
    audio.join();
    equalizerLogger->removeAppender(gate);
    equalizerLogger->setLevel(previousLevel);

    EXPECT_EQ(got, expected);
    int enabled = 0;
    EXPECT_EQ(PlaybackProcessing_getEqualizerEnabled(stuck, &enabled), 0);
    EXPECT_EQ(enabled, 1);
    PlaybackProcessing_Uninit(reference);
    PlaybackProcessing_Uninit(stuck);
}

TEST(PlaybackProcessingCWrapper, ProcessNeverWaitsForAStuckAgcSetter) {
    // An AGC setter held inside its own record, as behind a slow appender:
    // Process goes on (and the setter's change reaches it once given).
    const unsigned int fs = 16000;
    PlaybackProcessingData* chain = PlaybackProcessing_Init("RT_AGC", 1, fs);
    ASSERT_NE(chain, nullptr);
    ASSERT_EQ(PlaybackProcessing_setAGCEnabled(chain, 1), 0);
    ASSERT_EQ(PlaybackProcessing_setOutputGainDb(chain, 0.0f), 0);

    auto agcLogger = log4cxx::Logger::getLogger("ZIZO.Agc");
    const log4cxx::LevelPtr previousLevel = agcLogger->getLevel();
    agcLogger->setLevel(log4cxx::Level::getDebug());
    auto gate = std::make_shared<gate::RecordGateAppender>();
    gate->await("AGC RT_AGC_AGC: nonspeech_hold_gain_time set to 0.5");
    agcLogger->addAppender(gate);
    std::thread setter([&] { PlaybackProcessing_setAGCNonspeechHoldGainTime(chain, 0.5f); });
    ASSERT_TRUE(gate->waitUntilEntered(std::chrono::seconds(30)));

    std::atomic<bool> processed{false};
    std::thread audio([&] {
        for (int k = 0; k < 16000; ++k) {
            float sample = 0.25f * std::sin(0.05f * float(k));
            PlaybackProcessing_Process(chain, &sample, &sample);
        }
        processed.store(true);
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!processed.load() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(processed.load()) << "Process waited for a setter stuck in its record";
    gate->release();
    setter.join();
    audio.join();
    agcLogger->removeAppender(gate);
    agcLogger->setLevel(previousLevel);
    PlaybackProcessing_Uninit(chain);
}
