// The stand-in core: what it reads from the store, and what Batch writes.
#include <ExternalModuleRegistry.h>
#include <LogCapture.h>
#include <Lyrane.h>
#include <PlaybackProcessing.h>
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>

namespace {

const char* const kChainName = "LADSPA_PLAYBACKPROCESSING_ACOUSTIC";

ZIZO_Config store(int fs, int Nmics) {
    ZIZO_Config config;
    config.set<int>("fs", fs);
    config.set<int>("Nmics", Nmics);
    return config;
}

std::string constructionError(const ZIZO_Config& config) {
    try {
        Lyrane core(config, 0, 0, 0);
    } catch (const std::invalid_argument& e) {
        return e.what();
    }
    return "";
}

TEST(LyraneStandIn, ReadsRateAndMicrophonesAndRefusesWhatItCannotUse) {
    LogCapture log;
    const Lyrane core(store(16000, 2), 0, 0, 0);
    EXPECT_EQ(core.getFs(), 16000u);
    EXPECT_EQ(core.getNmics(), 2u);
    EXPECT_EQ(core.getFramecounter(), 0u);

    ZIZO_Config noRate;
    noRate.set<int>("Nmics", 1);
    EXPECT_EQ(constructionError(noRate),
              "Lyrane: parameter fs (int) is missing from the configuration");
    ZIZO_Config floatMics = store(16000, 1);
    floatMics.set<float>("Nmics", 1.0f);
    EXPECT_EQ(constructionError(floatMics),
              "Lyrane: parameter Nmics (int) is missing from the configuration");
    EXPECT_EQ(constructionError(store(16000, 0)),
              "Lyrane: parameter Nmics must be at least 1, got 0");
    // 62 Hz gives 62 * 16 / 1000 = 0 samples per frame; 63 Hz gives one.
    EXPECT_EQ(constructionError(store(62, 1)), "Lyrane: fs 62 Hz is too low for a 16 ms frame");
    EXPECT_EQ(constructionError(store(63, 1)), "");
    // The checks do not go through get(), so nothing is logged.
    EXPECT_TRUE(log.records().empty());
}

class LyraneBatch : public ::testing::Test {
  protected:
    // 8 kHz: 128 samples per frame. 8 whole frames and 10 samples after them:
    // long enough for the chain to hand out 342 of the far-end samples it
    // was given, which it only does after the first 682.
    static constexpr Eigen::Index kFrame = 128;
    static constexpr Eigen::Index kFrames = 8;
    static constexpr Eigen::Index kSamples = kFrames * kFrame + 10;

    void SetUp() override {
        mics = Eigen::ArrayXXf::Zero(2, kSamples);
        farend = Eigen::ArrayXf::Zero(kSamples);
        for (Eigen::Index n = 0; n < kSamples; ++n) {
            mics(0, n) = static_cast<float>(n);
            mics(1, n) = 1.0f;
            farend[n] = static_cast<float>(n + 1);
        }
        out = Eigen::ArrayXf::Constant(kSamples, -7.0f);
        out2 = Eigen::ArrayXf::Constant(kSamples, -7.0f);
    }

    Lyrane core{store(8000, 2), 0, 0, 0};
    Eigen::ArrayXXf mics;
    Eigen::ArrayXf farend, out, out2;
    const Lyrane::EventMap events{{{0, LYRANE_EVENT_V}, 5}};
};

TEST_F(LyraneBatch, MixesTheMicrophonesAndPullsTheReferenceThroughTheChain) {
    auto chain = std::make_shared<PlaybackProcessing>(kChainName, 1, 8000, ZIZO_Config());
    ASSERT_TRUE(
        ExternalModuleRegistry::getInstance()->registerPlaybackProcessing(kChainName, chain));
    core.Batch(mics, farend, out, out2, events);
    ExternalModuleRegistry::getInstance()->unregisterPlaybackProcessing(kChainName);

    for (Eigen::Index n = 0; n < kSamples; ++n) {
        const bool executed = n < kFrames * kFrame;
        // Mean of n and 1; the samples after the last frame keep their value.
        EXPECT_EQ(out[n], executed ? (static_cast<float>(n) + 1.0f) / 2.0f : -7.0f) << n;
        // The chain hands out a sample once more than 682 are buffered: with
        // one played and one pulled per sample, sample n - 682 at sample n.
        const float reference = n >= 682 ? farend[n - 682] : 0.0f;
        EXPECT_EQ(out2[n], executed ? reference : -7.0f) << n;
    }
    // Far-end samples 1 .. 342 came back, in order.
    EXPECT_EQ(out2[kFrames * kFrame - 1], 342.0f);
    EXPECT_EQ(core.getFramecounter(), 8u);
    EXPECT_EQ(core.getDoaFramecounter(), 8u);
    // Counters add up over calls.
    core.Batch(mics, farend, out, out2, events);
    EXPECT_EQ(core.getFramecounter(), 16u);
}

TEST_F(LyraneBatch, WithoutARegisteredChainTheReferenceIsSilence) {
    ASSERT_EQ(ExternalModuleRegistry::getInstance()->getPlaybackProcessing(kChainName), nullptr);
    core.Batch(mics, farend, out, out2, events);
    EXPECT_TRUE((out2.head(kFrames * kFrame) == 0.0f).all());
    EXPECT_EQ(core.getFramecounter(), 8u);
}

TEST_F(LyraneBatch, RefusesSignalsOfTheWrongShapeAndChangesNothing) {
    Eigen::ArrayXXf oneMic = mics.topRows(1);
    EXPECT_THROW(core.Batch(oneMic, farend, out, out2, events), std::invalid_argument);
    Eigen::ArrayXf shortFarend = farend.head(kSamples - 1);
    EXPECT_THROW(core.Batch(mics, shortFarend, out, out2, events), std::invalid_argument);
    EXPECT_TRUE((out == -7.0f).all());
    EXPECT_EQ(core.getFramecounter(), 0u);
}

}  // namespace
