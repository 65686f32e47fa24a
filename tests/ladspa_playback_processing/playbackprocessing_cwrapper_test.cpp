#include "playbackprocessing_cwrapper.h"

#include <gtest/gtest.h>

#include <Eigen/Core>
#include <ZIZO_Config>
#include <cmath>
#include <memory>
#include <string>
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
