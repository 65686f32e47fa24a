// The AGC's kernels against values worked out by hand from the formulas (in
// double precision, or exactly where they are exact), independently of the
// kernels' code: the block, the floor and the block's model all run these
// kernels, so a fault in one shows here and not as a disagreement.
#include "AgcKernel.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace {

// The built-in parameters at 16 kHz: tau_level 1.5 s, tau_duck 0.1 s, hold
// 1 s, release 3 dB/s, target -6 dB, p_gain 1, maximum 35 dB.
lyrane::AgcSampleSettings defaults16k() {
    lyrane::AgcSampleSettings p;
    p.maxAmp = 0.95f;
    p.levelCoef = 0.99995834f;  // exp(-1 / 24000)
    p.duckCoef = 0.99937522f;   // exp(-1 / 1600)
    p.levelBelowTargetMax = 0.5011872f;
    p.law = {-6.0f, 1.0f / 16000.0f, 35.0f, 35.0f};
    p.holdSamples = 16000;
    p.releaseStepDb = 0.0001875f;
    return p;
}

lyrane::AgcLoopState fresh() {
    return lyrane::AgcLoopState{0.0f, 1.0f, 0.1f, 0xffffffffu, 0.0f, 0};
}

}  // namespace

// A fresh loop at 0 dB multiplies by the factor of 0 dB, 0.9713478; a sample
// past max_amp is clipped and pulls the duck gain down to max_amp over its
// magnitude; the level follower rises at once and decays with tau_level.
TEST(AgcKernel, OneSampleOfAFreshLoop) {
    const lyrane::AgcSampleSettings p = defaults16k();
    for (auto kind : {0, 1}) {
        lyrane::AgcLoopState s = fresh();
        bool ducked = false;
        const float out =
            kind ? lyrane::agcSample<lyrane::Arithmetic::Written>(p, s, 0.5f, false, ducked)
                 : lyrane::agcSample(p, s, 0.5f, false, ducked);
        EXPECT_FLOAT_EQ(out, 0.48567390f);
        EXPECT_FALSE(ducked);
        EXPECT_FLOAT_EQ(s.level, 0.48567390f);  // instant rise
        EXPECT_EQ(s.duckGain, 1.0f);
        EXPECT_EQ(s.nonspeechCounter, 1u);

        s = fresh();
        EXPECT_EQ(lyrane::agcSample(p, s, 1.0f, false, ducked), 0.95f);
        EXPECT_TRUE(ducked);
        EXPECT_FLOAT_EQ(s.duckGain, 0.97802246f);  // 0.95 / 0.9713478
        // Recovering towards 1 with tau_duck: 1 - 0.02197754 x 0.99937522.
        EXPECT_FLOAT_EQ((lyrane::agcSample(p, s, 0.0f, false, ducked), s.duckGain), 0.97803619f);
        // The level of 0.9713478 x 1.0, decaying by levelCoef.
        EXPECT_FLOAT_EQ(s.level, 0.97134781f * 0.99995834f);

        // A duck gain already down is pulled down from where it is.
        s = fresh();
        s.duckGain = 0.5f;
        lyrane::agcSample(p, s, 4.0f, false, ducked);  // 0.5 x 0.9713478 x 4 = 1.9426956
        EXPECT_FLOAT_EQ(s.duckGain, 0.5f * 0.95f / 1.9426956f);
    }
}

// Clip to +-max_amp, NaN to +max_amp; an infinite sample drives the duck
// gain to 0 and is not measured by the level follower.
TEST(AgcKernel, NonFiniteAndLoudSamples) {
    const lyrane::AgcSampleSettings p = defaults16k();
    lyrane::AgcLoopState s = fresh();
    bool ducked = false;
    EXPECT_EQ(lyrane::agcSample(p, s, -2.0f, false, ducked), -0.95f);
    s = fresh();
    EXPECT_EQ(lyrane::agcSample(p, s, std::numeric_limits<float>::quiet_NaN(), false, ducked),
              0.95f);
    EXPECT_EQ(s.level, 0.1f);
    s = fresh();
    EXPECT_EQ(lyrane::agcSample(p, s, std::numeric_limits<float>::infinity(), false, ducked),
              0.95f);
    EXPECT_EQ(s.duckGain, 0.0f);
    EXPECT_EQ(s.level, 0.1f);
}

// The follower's maximum as the kernel writes it against the rule (the
// larger of the decayed level and the magnitude, the decayed level when they
// are equal) over levels and magnitudes that meet, zeros and a coefficient
// that is not a number: the same bits everywhere.
TEST(AgcKernel, LevelFollowerTakesTheLargerOfDecayAndMagnitude) {
    const float values[] = {0.0f, 1e-45f, 1e-38f, 0.25f, 0.5f, 0.99f, 1.0f, 3e38f};
    const float coefficients[] = {0.99995834f, 0.5f, 0.0f, 1.0f,
                                  std::numeric_limits<float>::quiet_NaN()};
    for (const float c : coefficients) {
        for (const float prev : values) {
            for (const float magnitude : values) {
                const float s = prev * c + (1.0f - c) * magnitude;
                const float rule = s >= magnitude ? s : magnitude;
                uint32_t expected, got;
                const float level = lyrane::nextLevel(prev, magnitude, c);
                std::memcpy(&expected, &rule, sizeof expected);
                std::memcpy(&got, &level, sizeof got);
                EXPECT_EQ(got, expected) << prev << ", " << magnitude << ", coefficient " << c;
            }
        }
    }
}

// With speech and the level at the -96 dB floor the gain rises by
// (-6 + 96) / 16000 = 0.005625 dB a sample and stops at the maximum; without
// speech it is held for 16000 samples, then released by 3 dB/s.
TEST(AgcKernel, GainLawAndRelease) {
    const lyrane::AgcSampleSettings p = defaults16k();
    for (auto kind : {0, 1}) {
        lyrane::AgcLoopState s = fresh();
        s.level = 1e-6f;  // -120 dB
        bool ducked = false;
        auto step = [&](bool speech) {
            return kind ? lyrane::agcSample<lyrane::Arithmetic::Written>(p, s, 0.0f, speech, ducked)
                        : lyrane::agcSample(p, s, 0.0f, speech, ducked);
        };
        step(true);
        EXPECT_FLOAT_EQ(s.gainDb, 0.005625f);
        step(true);
        EXPECT_FLOAT_EQ(s.gainDb, 0.01125f);
        s.gainDb = 34.999f;
        step(true);
        EXPECT_EQ(s.gainDb, 35.0f);
        step(true);
        EXPECT_EQ(s.gainDb, 35.0f);

        s.gainDb = 12.0f;
        for (int i = 0; i < 16000; ++i) {
            step(false);
        }
        EXPECT_EQ(s.gainDb, 12.0f);
        EXPECT_EQ(s.nonspeechCounter, 16000u);
        step(false);
        EXPECT_FLOAT_EQ(s.gainDb, 12.0f - 0.0001875f);
        step(true);
        EXPECT_EQ(s.nonspeechCounter, 0u);

        // A level far above target lowers the gain, down to the configured
        // maximum's negative even while the maximum itself is lowered.
        s.gainDb = -34.9999f;
        s.level = 2.0f;
        step(true);
        EXPECT_EQ(s.gainDb, -35.0f);
        lyrane::AgcSampleSettings lowered = p;
        lowered.law.maxGainDb = 9.0f;
        s.gainDb = -20.0f;
        lyrane::agcSample(lowered, s, 0.0f, true, ducked);
        EXPECT_FLOAT_EQ(s.gainDb, -20.0f + (-6.0f - 6.0206f) / 16000.0f);
    }
}

// The high-pass, the bins it counts in, and the block-end scan, with the
// numbers of a worked case: fs 16000, blocks of 160, a maximum of 35 dB.
TEST(AgcKernel, LevelHistogramAndScan) {
    const lyrane::HighPassCoefficients hp{0.99376947f, 0.9968847f};  // exp(-100 / 16000)
    lyrane::HighPassState state{0.0f, 0.0f};
    std::array<uint32_t, lyrane::kAgcLevelBins> counts{};
    uint32_t inScan = 0;
    lyrane::countLevel(hp, state, lyrane::levelBinTable(), counts.data(), 12, inScan, 1.0f);
    EXPECT_FLOAT_EQ(state.prevOutput, 0.9968847f);  // -0.03 dB: bin 0
    EXPECT_EQ(counts[0], 1u);
    EXPECT_EQ(inScan, 1u);
    lyrane::countLevel(hp, state, lyrane::levelBinTable(), counts.data(), 12, inScan, 1.0f);
    EXPECT_FLOAT_EQ(state.prevOutput, 0.99376947f * 0.9968847f);
    lyrane::countLevel(hp, state, lyrane::levelBinTable(), counts.data(), 12, inScan,
                       std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(counts[31], 1u);  // counted as silent, the state kept
    EXPECT_FLOAT_EQ(state.prevOutput, 0.99376947f * 0.9968847f);
    EXPECT_EQ(inScan, 2u);

    uint32_t total = 0;
    counts = {};
    counts[0] = 4;
    counts[1] = 3;
    counts[2] = 3;
    counts[3] = 7;
    counts[12] = 100;  // not scanned: bin 12 could only lower the maximum to 36 dB
    EXPECT_EQ(lyrane::scanBinsBelow(35.0f, counts.data(), total), 12u);  // ceil(11.67)
    EXPECT_EQ(total, 17u);
    EXPECT_EQ(lyrane::scanBinsBelow(0.0f, counts.data(), total), 0u);
    EXPECT_EQ(lyrane::scanBinsBelow(200.0f, counts.data(), total), 32u);
    // 0.1 % of 16160 samples is 16.16: bins 0 .. 2 hold 10, bin 3 makes 17.
    EXPECT_EQ(lyrane::overdrivenBin(counts.data(), 12, 16160), 3);
    EXPECT_EQ(lyrane::overdrivenBin(counts.data(), 3, 16160), -1);
    EXPECT_EQ(lyrane::overdrivenBin(counts.data(), 12, 17000), -1);  // 17 is not above 17
}
