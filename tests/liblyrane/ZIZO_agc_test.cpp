#include "ZIZO_agc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "HeapCounter.h"
#include "LogCapture.h"
#include "SpeechLikeSignal.h"
#include "ZIZO_sad.h"

namespace {

ZIZO_Config agcConfig() {
    ZIZO_Config config;
    config.set<bool>("enabled", true);
    return config;
}

// tau_level 0 gives a level follower without memory: the level is the last
// output magnitude, so silence puts it on the -96 dB floor at once.
ZIZO_Config memorylessConfig() {
    ZIZO_Config config = agcConfig();
    config.set<float>("tau_level", 0.0f);
    return config;
}

Eigen::ArrayXf sine(unsigned int n, float amplitude, float frequency_hz, unsigned int fs,
                    unsigned int offset = 0) {
    Eigen::ArrayXf x(n);
    for (unsigned int i = 0; i < n; ++i) {
        const double t = static_cast<double>(offset + i) / fs;
        x[i] = static_cast<float>(amplitude * std::sin(2.0 * M_PI * frequency_hz * t));
    }
    return x;
}

// Runs count samples one block at a time; returns the output.
Eigen::ArrayXf runSamples(ZIZO_agc& agc, const Eigen::ArrayXf& input, unsigned int Nblock,
                          bool speech) {
    Eigen::ArrayXf output(input.size());
    Eigen::ArrayXf block(Nblock);
    Eigen::ArrayXf out(Nblock);
    for (Eigen::Index start = 0; start + static_cast<Eigen::Index>(Nblock) <= input.size();
         start += Nblock) {
        block = input.segment(start, Nblock);
        agc.run(block, out, speech);
        output.segment(start, Nblock) = out;
    }
    return output;
}

float peakDb(const Eigen::ArrayXf& x) {
    return 20.0f * std::log10(x.abs().maxCoeff());
}

const float kFactorAtZeroDb = 0.97134781f;

}  // namespace

// Expected values: the bit patterns worked out by hand from
// (g x log2(10) / 20 + 126.94269504) x 2^23, and the error bound of the
// approximation (0.961 to 1.021 times 10^(g / 20), computed in double
// precision).
TEST(ZIZO_agc, GainFactorIsTheBitExactPowerOfTwoApproximation) {
    const float zero = ZIZO_agc::gainFactor(0.0f);
    uint32_t bits;
    std::memcpy(&bits, &zero, sizeof bits);
    EXPECT_EQ(bits, 1064872512u);
    EXPECT_EQ(zero, kFactorAtZeroDb);
    EXPECT_FLOAT_EQ(ZIZO_agc::gainFactor(6.0f), 1.9392776f);
    EXPECT_FLOAT_EQ(ZIZO_agc::gainFactor(20.0f), 10.116943f);
    EXPECT_FLOAT_EQ(ZIZO_agc::gainFactor(35.0f), 56.194336f);
    EXPECT_FLOAT_EQ(ZIZO_agc::gainFactor(-6.0f), 0.4865284f);

    float previous = 0.0f;
    for (float g = -120.0f; g <= 120.0f; g += 0.01f) {
        const float factor = ZIZO_agc::gainFactor(g);
        const double ratio = factor / std::pow(10.0, g / 20.0);
        ASSERT_GE(ratio, 0.961) << g;
        ASSERT_LE(ratio, 1.021) << g;
        ASSERT_GE(factor, previous) << g;
        previous = factor;
    }
    // Below the smallest normal exponent the factor stops falling; NaN is
    // treated like a gain far below it.
    EXPECT_GT(ZIZO_agc::gainFactor(-1000.0f), 0.0f);
    EXPECT_EQ(ZIZO_agc::gainFactor(-1000.0f), ZIZO_agc::gainFactor(-800.0f));
    EXPECT_EQ(ZIZO_agc::gainFactor(std::numeric_limits<float>::quiet_NaN()),
              ZIZO_agc::gainFactor(-1000.0f));
}

// Expected values: exp(-1 / (16000 x tau)) for tau 1.5 s and 0.1 s, 16000 x
// 1 s and 3 / 16000, worked out in double precision.
TEST(ZIZO_agc, ParametersAndSetters) {
    LogCapture log;
    ZIZO_agc agc("set", 160, 16000, agcConfig());
    EXPECT_EQ(agc.getLevelCoef(), 0.99995834f);
    EXPECT_EQ(agc.getDuckCoef(), 0.99937522f);
    EXPECT_EQ(agc.getHoldSamples(), 16000u);
    EXPECT_FLOAT_EQ(agc.getReleaseStepDb(), 0.0001875f);
    EXPECT_EQ(agc.getTauLevel(), 1.5f);
    EXPECT_EQ(agc.getTauDuck(), 0.1f);
    EXPECT_EQ(agc.getTargetLevelDb(), -6.0f);
    EXPECT_EQ(agc.getMaxGainDb(), 35.0f);
    EXPECT_EQ(agc.getMaxAmp(), 0.95f);

    agc.setMaxAmp(-0.5f);
    EXPECT_EQ(agc.getMaxAmp(), 0.5f);
    agc.setTargetLevelDb(-20.0f);
    EXPECT_EQ(agc.getTargetLevelDb(), -20.0f);
    agc.setTauLevel(0.0f);
    EXPECT_EQ(agc.getLevelCoef(), 0.0f);
    agc.setTauDuck(0.5f);
    EXPECT_FLOAT_EQ(agc.getDuckCoef(), 0.99987501f);
    agc.setNonspeechHoldGainTime(0.25f);
    EXPECT_EQ(agc.getHoldSamples(), 4000u);
    agc.setNonspeechHoldGainTime(-1.0f);
    EXPECT_EQ(agc.getHoldSamples(), 0u);
    EXPECT_EQ(agc.getNonspeechHoldGainTime(), -1.0f);
    agc.setNonspeechReleaseSpeed(6.0f);
    EXPECT_FLOAT_EQ(agc.getReleaseStepDb(), 0.000375f);
    EXPECT_EQ(agc.getNonspeechReleaseSpeed(), 6.0f);

    EXPECT_EQ(log.count("AGC set: nonspeech_hold_gain_time set to 0.25"), 1u);
    EXPECT_EQ(log.count("AGC set: nonspeech_hold_gain_time set to -1"), 1u);
    EXPECT_EQ(log.count("AGC set: nonspeech_release_speed set to 6"), 1u);
    // Construction: creation notice, then the two setters with the defaults.
    const auto debug = log.records("ZIZO.Agc", "DEBUG");
    ASSERT_EQ(debug.size(), 6u);
    EXPECT_EQ(debug[0].message, "Creating instance of ZIZO_agc (set).");
    EXPECT_EQ(debug[1].message, "AGC set: nonspeech_hold_gain_time set to 1");
    EXPECT_EQ(debug[2].message, "AGC set: nonspeech_release_speed set to 3");
    EXPECT_EQ(debug[3].function, "setNonspeechHoldGainTime");
}

// A fresh block has gain 0 dB, whose factor is 0.9713478. A sample of 1.0
// comes out at 0.9713478, above max_amp 0.95: it is clipped to 0.95 and the
// duck gain drops to 0.95 / 0.9713478 = 0.97802246, so that the next sample
// comes out at about 0.95 x its input.
TEST(ZIZO_agc, DuckingAndClipping) {
    LogCapture log;
    ZIZO_agc agc("duck", 4, 16000, agcConfig());
    Eigen::ArrayXf in(4), out(4);

    in << 0.1f, -0.5f, 0.9f, -0.97f;
    agc.run(in, out, false);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(out[i], kFactorAtZeroDb * in[i]) << i;
    }
    EXPECT_EQ(log.records("ZIZO.Agc", "TRACE").size(), 0u);

    in << 1.0f, 0.5f, -2.0f, 0.4f;
    agc.run(in, out, false);
    EXPECT_EQ(out[0], 0.95f);
    EXPECT_FLOAT_EQ(out[1], 0.475f);
    EXPECT_EQ(out[2], -0.95f);
    // The second over scales the gain down to 0.95 / 2 of the input.
    EXPECT_FLOAT_EQ(out[3], 0.19f);
    // Two samples ducked, one record for the block.
    const auto trace = log.records("ZIZO.Agc", "TRACE");
    ASSERT_EQ(trace.size(), 1u);
    EXPECT_EQ(trace[0].message, "AGC duck: duck gain was applied.");
    EXPECT_EQ(trace[0].function, "run");

    // NaN comes out at max_amp without ducking.
    in << std::numeric_limits<float>::quiet_NaN(), 0.0f, 0.0f, 0.0f;
    agc.run(in, out, false);
    EXPECT_EQ(out[0], 0.95f);
    EXPECT_EQ(log.records("ZIZO.Agc", "TRACE").size(), 1u);

    // The duck gain recovers towards 1 with tau_duck (0.1 s): after 1 s it
    // is within e^-10 of 1, and nothing more is logged.
    log.clear();
    runSamples(agc, Eigen::ArrayXf::Constant(16000, 0.01f), 4, false);
    EXPECT_NEAR(agc.getDuckGain(), 1.0f, 1e-4f);
    EXPECT_EQ(log.records("ZIZO.Agc", "TRACE").size(), 0u);

    // A lower max_amp acts from the next sample.
    agc.setMaxAmp(0.25f);
    in << 0.5f, 0.1f, 0.1f, 0.1f;
    agc.run(in, out, false);
    EXPECT_EQ(out[0], 0.25f);
    EXPECT_LT(out[1], kFactorAtZeroDb * 0.1f * 0.6f);
}

// With silence and speech the level sits on the -96 dB floor; a target of
// -6 dB at p_gain 1 and 16 kHz moves the gain by 90 / 16000 = 0.005625 dB
// per sample until it meets the 35 dB maximum (after 6222.2 samples).
TEST(ZIZO_agc, GainClimbsAtTheLoopRateUpToTheMaximum) {
    ZIZO_agc agc("climb", 1, 16000, memorylessConfig());
    runSamples(agc, Eigen::ArrayXf::Zero(1000), 1, true);
    EXPECT_NEAR(agc.getGainDb(), 5.625f, 1e-3f);
    runSamples(agc, Eigen::ArrayXf::Zero(5200), 1, true);
    EXPECT_LT(agc.getGainDb(), 35.0f);
    runSamples(agc, Eigen::ArrayXf::Zero(160), 1, true);
    EXPECT_EQ(agc.getGainDb(), 35.0f);
    runSamples(agc, Eigen::ArrayXf::Zero(16000), 1, true);
    EXPECT_EQ(agc.getGainDb(), 35.0f);
}

// A -20 dBFS tone with speech: the loop settles where the output peak meets
// the -6 dB target (error time constant 1 / p_gain = 1 s, so 10 s leave a
// residue far below 0.05 dB). A target the gain cannot reach stops it at
// -max_gain_db.
TEST(ZIZO_agc, LevelSettlesOnTheTargetWithinTheGainRange) {
    ZIZO_agc agc("settle", 160, 16000, agcConfig());
    const Eigen::ArrayXf tone = sine(160000, 0.1f, 1000.0f, 16000);
    const Eigen::ArrayXf out = runSamples(agc, tone, 160, true);
    EXPECT_NEAR(peakDb(out.tail(1600)), -6.0f, 0.05f);
    EXPECT_NEAR(agc.getGainDb(), 14.0f, 0.5f);

    agc.setTargetLevelDb(-60.0f);
    const Eigen::ArrayXf loud = sine(48000, 0.9f, 1000.0f, 16000);
    runSamples(agc, loud, 160, true);
    EXPECT_EQ(agc.getGainDb(), -35.0f);
}

// Without speech the gain holds for holdSamples (16000) samples, then moves
// towards 0 dB by releaseStepDb (3 dB/s / 16 kHz) per sample: 12 dB take 64000
// samples, after which the gain alternates around 0 by one step. Every speech
// sample restarts the hold.
TEST(ZIZO_agc, GainHoldsThenReleasesTowardsZero) {
    ZIZO_agc agc("release", 1, 16000, memorylessConfig());
    agc.setMaxGainDb(12.0f);
    runSamples(agc, Eigen::ArrayXf::Zero(4000), 1, true);
    ASSERT_EQ(agc.getGainDb(), 12.0f);

    const Eigen::ArrayXf one = Eigen::ArrayXf::Zero(1);
    Eigen::ArrayXf out(1);
    for (int i = 0; i < 16000; ++i) {
        agc.run(one, out, false);
        ASSERT_EQ(agc.getGainDb(), 12.0f) << "sample " << i;
    }
    agc.run(one, out, false);
    EXPECT_FLOAT_EQ(agc.getGainDb(), 12.0f - 0.0001875f);

    runSamples(agc, Eigen::ArrayXf::Zero(62000), 1, false);
    EXPECT_GT(agc.getGainDb(), 0.0f);
    EXPECT_LT(agc.getGainDb(), 0.5f);
    runSamples(agc, Eigen::ArrayXf::Zero(4000), 1, false);
    const float step = agc.getReleaseStepDb();
    for (int i = 0; i < 4; ++i) {
        const float before = agc.getGainDb();
        agc.run(one, out, false);
        EXPECT_LE(std::fabs(agc.getGainDb()), 1.5f * step);
        EXPECT_NE(agc.getGainDb() > 0.0f, before > 0.0f) << "no alternation at " << i;
    }

    // One speech sample (which moves the gain by one loop step) and the
    // hold starts over.
    agc.run(one, out, true);
    const float held = agc.getGainDb();
    runSamples(agc, Eigen::ArrayXf::Zero(16000), 1, false);
    EXPECT_EQ(agc.getGainDb(), held);
}

TEST(ZIZO_agc, EnableSwitchCopiesAndLogsOnlyChanges) {
    LogCapture log;
    ZIZO_agc quiet("plain", 8, 16000, ZIZO_Config());
    ZIZO_agc agc("sw", 8, 16000, agcConfig());
    auto info = log.records("ZIZO.Agc", "INFO");
    ASSERT_EQ(info.size(), 2u);
    EXPECT_EQ(info[0].message, "AGC plain disabled.");
    EXPECT_EQ(info[0].function, "ZIZO_agc");
    EXPECT_EQ(info[1].message, "AGC sw enabled.");

    agc.setEnabled(true);
    EXPECT_EQ(log.records("ZIZO.Agc", "INFO").size(), 2u);
    agc.setEnabled(false);
    agc.setEnabled(false);
    info = log.records("ZIZO.Agc", "INFO");
    ASSERT_EQ(info.size(), 3u);
    EXPECT_EQ(info[2].message, "AGC sw disabled.");
    EXPECT_EQ(info[2].function, "setEnabled");

    // Disabled: an exact copy whatever the length, no state change.
    for (int n : {0, 3, 8, 20}) {
        const Eigen::ArrayXf in = Eigen::ArrayXf::Constant(n, 3.0f);
        Eigen::ArrayXf out;
        agc.run(in, out, true);
        ASSERT_EQ(out.size(), n);
        EXPECT_TRUE((out == in).all());
    }
    EXPECT_EQ(agc.getGainDb(), 0.0f);
    EXPECT_EQ(agc.getDuckGain(), 1.0f);

    agc.setEnabled(true);
    Eigen::ArrayXf in = Eigen::ArrayXf::Constant(8, 0.5f), out;
    agc.run(in, out, false);
    EXPECT_TRUE((out == kFactorAtZeroDb * 0.5f).all());
}

// In-place processing (the chain's use) must give exactly what separate
// arrays give, also when out starts with another length.
TEST(ZIZO_agc, InPlaceMatchesSeparateArrays) {
    ZIZO_agc separate("a", 160, 16000, agcConfig());
    ZIZO_agc inPlace("b", 160, 16000, agcConfig());
    for (int b = 0; b < 400; ++b) {
        const Eigen::ArrayXf in = sine(160, b < 200 ? 0.05f : 0.9f, 440.0f, 16000, 160 * b);
        Eigen::ArrayXf out(b == 0 ? 3 : 160);
        separate.run(in, out, b % 50 < 30);
        Eigen::ArrayXf data = in;
        inPlace.run(data, data, b % 50 < 30);
        ASSERT_EQ(out.size(), 160);
        ASSERT_TRUE((out == data).all()) << "block " << b;
    }
}

// resetGain restarts gain, duck gain and level but not the non-speech count:
// in the release phase the next non-speech sample steps on from 0 dB instead
// of holding.
TEST(ZIZO_agc, ResetGainRestartsTheLoopState) {
    LogCapture log;
    ZIZO_agc agc("reset", 1, 16000, memorylessConfig());
    runSamples(agc, Eigen::ArrayXf::Zero(8000), 1, true);
    runSamples(agc, Eigen::ArrayXf::Constant(1, 1.0f), 1, true);
    runSamples(agc, Eigen::ArrayXf::Zero(17000), 1, false);
    ASSERT_GT(agc.getGainDb(), 30.0f);
    ASSERT_LT(agc.getDuckGain(), 1.0f);

    agc.resetGain();
    EXPECT_EQ(agc.getGainDb(), 0.0f);
    EXPECT_EQ(agc.getDuckGain(), 1.0f);
    EXPECT_EQ(agc.getLevel(), 0.1f);
    EXPECT_EQ(agc.getMaxGainDb(), 35.0f);
    EXPECT_EQ(log.count("AGC reset: resetGain called."), 1u);

    const Eigen::ArrayXf in = Eigen::ArrayXf::Constant(1, 0.25f);
    Eigen::ArrayXf out;
    agc.run(in, out, false);
    EXPECT_EQ(out[0], kFactorAtZeroDb * 0.25f);
    EXPECT_EQ(agc.getGainDb(), agc.getReleaseStepDb());
}

// One infinite sample must not pin the level follower (an infinite level
// never decays, and the loop would drive the gain to its minimum for good);
// NaN and infinite samples come out at the clip level.
TEST(ZIZO_agc, LoopRecoversFromNonFiniteSamples) {
    ZIZO_agc agc("nan", 160, 16000, agcConfig());
    const Eigen::ArrayXf tone = sine(160000, 0.1f, 1000.0f, 16000);
    runSamples(agc, tone, 160, true);
    const float settled = agc.getGainDb();
    ASSERT_NEAR(settled, 14.0f, 0.5f);

    Eigen::ArrayXf bad = sine(160, 0.1f, 1000.0f, 16000);
    bad[5] = std::numeric_limits<float>::quiet_NaN();
    bad[50] = -std::numeric_limits<float>::infinity();
    bad[100] = std::numeric_limits<float>::infinity();
    Eigen::ArrayXf out;
    agc.run(bad, out, true);
    EXPECT_EQ(out[5], 0.95f);
    EXPECT_EQ(out[50], -0.95f);
    EXPECT_EQ(out[100], 0.95f);
    EXPECT_TRUE(std::isfinite(agc.getLevel()));

    // The infinity drove the duck gain to 0; three seconds later it has
    // recovered (tau_duck 0.1 s) and the loop holds the tone at the target
    // again.
    const Eigen::ArrayXf after = runSamples(agc, tone.head(48000), 160, true);
    EXPECT_NEAR(agc.getGainDb(), settled, 0.5f);
    EXPECT_NEAR(peakDb(after.tail(1600)), -6.0f, 0.3f);
}

// A block shorter than Nblock would be read past its end: it is refused,
// copied through unchanged, and the loop goes on as if it had never come.
TEST(ZIZO_agc, ShortBlocksAreRefusedAndPassedThrough) {
    LogCapture log;
    ZIZO_agc plain("plain", 160, 16000, agcConfig());
    ZIZO_agc refusing("short", 160, 16000, agcConfig());
    const Eigen::ArrayXf shortBlock = Eigen::ArrayXf::Constant(100, 0.9f);
    for (int b = 0; b < 300; ++b) {
        const Eigen::ArrayXf in = sine(160, 0.2f, 300.0f, 16000, 160 * b);
        Eigen::ArrayXf expected, got, passed;
        plain.run(in, expected, b % 7 < 4);
        refusing.run(shortBlock, passed, true);
        ASSERT_TRUE((passed == shortBlock).all());
        refusing.run(in, got, b % 7 < 4);
        ASSERT_TRUE((got == expected).all()) << "block " << b;
    }
    EXPECT_EQ(log.count("AGC short: block of 100 samples refused, 160 expected."), 300u);

    // A block of no samples: nothing to read, nothing written.
    ZIZO_agc none("none", 0, 16000, agcConfig());
    Eigen::ArrayXf out = Eigen::ArrayXf::Ones(5);
    none.run(Eigen::ArrayXf::Ones(5), out, true);
    EXPECT_EQ(out.size(), 0);
}

// A configuration value of the wrong type reads as 0 with the store's
// warning: a maximum gain of 0 dB pins the gain to 0 dB, a loop gain of 0
// keeps it where it is.
TEST(ZIZO_agc, MistypedValuesFallBackToZero) {
    LogCapture log;
    ZIZO_Config config = memorylessConfig();
    config.set<int>("max_gain_db", 12);
    ZIZO_agc pinned("pinned", 160, 16000, config);
    EXPECT_EQ(log.count("get failed for parameter max_gain_db"), 1u);
    EXPECT_EQ(pinned.getMaxGainDb(), 0.0f);
    runSamples(pinned, Eigen::ArrayXf::Zero(16000), 160, true);
    EXPECT_EQ(pinned.getGainDb(), 0.0f);

    ZIZO_Config frozen = memorylessConfig();
    frozen.set<double>("p_gain", 1.0);
    ZIZO_agc still("still", 160, 16000, frozen);
    EXPECT_EQ(log.count("get failed for parameter p_gain"), 1u);
    runSamples(still, Eigen::ArrayXf::Zero(16000), 160, true);
    EXPECT_EQ(still.getGainDb(), 0.0f);
}

// ---------------------------------------------------------------------------
// Real-time use: ten seconds of a speech-like signal through detector and
// AGC, as the chain runs them, at 160 samples per block and at 1.

namespace {

// Quiet speech (the gain climbs to its maximum), then loud speech that the
// climbed gain drives into ducking and clipping and whose level makes the
// maximum-gain reduction act while it runs.
Eigen::ArrayXf quietThenLoudSpeech(unsigned int fs) {
    Eigen::ArrayXf x(10 * fs);
    x << speechLike(5 * fs, fs, 0.02f), speechLike(5 * fs, fs, 0.9f);
    return x;
}

struct RealTimeRun {
    Eigen::ArrayXf output;
    std::vector<bool> speech;  // per sample: the detector's decision
    long allocationsOutsideReductions = 0;
    long allocationsInReductions = 0;
    int reductionBlocks = 0;
};

// Runs detector and AGC over x in blocks of Nblock, the AGC in place with
// the detector's decision, or with the given per-sample decisions if any.
// Counts the heap allocations made inside run() on this thread (the
// library's log thread allocates as it emits), apart for the blocks that
// lowered the maximum gain.
RealTimeRun runRealTime(const Eigen::ArrayXf& x, unsigned int Nblock, bool decreaseMaxGain,
                        const std::vector<bool>* givenSpeech) {
    ZIZO_Config sadConfig;
    sadConfig.set<bool>("enabled", true);
    ZIZO_Config config = agcConfig();
    config.set<bool>("decrease_max_gain", decreaseMaxGain);
    ZIZO_sad sad("rt_SAD", Nblock, 16000, sadConfig);
    ZIZO_agc agc("rt_AGC", Nblock, 16000, config);

    RealTimeRun result;
    result.output.resize(x.size());
    result.speech.resize(x.size());
    Eigen::ArrayXf block(Nblock);
    for (Eigen::Index start = 0; start + static_cast<Eigen::Index>(Nblock) <= x.size();
         start += Nblock) {
        block = x.segment(start, Nblock);
        const float maxGainBefore = agc.getMaxGainDb();
        long allocated;
        bool speech;
        {
            ThreadAllocationCount count;
            sad.run(block);
            speech = givenSpeech ? (*givenSpeech)[start] : sad.isSpeech();
            agc.run(block, block, speech);
            allocated = count.value();
        }
        if (agc.getMaxGainDb() != maxGainBefore) {
            ++result.reductionBlocks;
            result.allocationsInReductions += allocated;
        } else {
            result.allocationsOutsideReductions += allocated;
        }
        result.output.segment(start, Nblock) = block;
        for (unsigned int k = 0; k < Nblock; ++k) {
            result.speech[start + k] = speech;
        }
    }
    return result;
}

}  // namespace

TEST(ZIZO_agc, RealTimeRunAllocatesNothingAndIgnoresTheBlockSize) {
    {
        // The counter sees both kinds of allocation: a block's construction
        // allocates its name and store entries with operator new, an array
        // takes Eigen's allocator.
        ThreadAllocationCount count;
        ZIZO_agc agc("count", 10, 16000, agcConfig());
        const long byConstruction = count.value();
        EXPECT_GE(byConstruction, 2);
        const Eigen::ArrayXf array = Eigen::ArrayXf::Zero(10);
        EXPECT_EQ(count.value(), byConstruction + 1);
    }
    const Eigen::ArrayXf x = quietThenLoudSpeech(16000);

    const RealTimeRun blocks = runRealTime(x, 160, false, nullptr);
    EXPECT_EQ(blocks.allocationsOutsideReductions, 0);
    EXPECT_EQ(blocks.reductionBlocks, 0);
    // The run covers every phase: speech and non-speech, ducking and clipping.
    const auto speechSamples = std::count(blocks.speech.begin(), blocks.speech.end(), true);
    EXPECT_GT(speechSamples, 16000);
    EXPECT_LT(speechSamples, 140000);
    EXPECT_GT((blocks.output.abs() == 0.95f).count(), 0);

    // The AGC's loop is per sample: given the same decisions, one sample per
    // block gives bit for bit the same output.
    const RealTimeRun samples = runRealTime(x, 1, false, &blocks.speech);
    EXPECT_EQ(samples.allocationsOutsideReductions, 0);
    EXPECT_TRUE((samples.output == blocks.output).all());

    // With the maximum-gain reduction on (and its INFO record enabled), the
    // blocks that lower the maximum allocate nothing either: the record is
    // only posted. (INFO, not TRACE: a duck record per sample could fill
    // the queue and drop the INFO records this checks for.)
    LogCapture log;
    ZIZO_agc::AC_AGC_logger->setLevel(log4cxx::Level::getInfo());
    for (unsigned int Nblock : {160u, 1u}) {
        SCOPED_TRACE("Nblock " + std::to_string(Nblock));
        const RealTimeRun reducing = runRealTime(x, Nblock, true, nullptr);
        EXPECT_EQ(reducing.allocationsOutsideReductions, 0);
        EXPECT_GE(reducing.reductionBlocks, 1);
        EXPECT_LE(reducing.reductionBlocks, 12);
        EXPECT_EQ(reducing.allocationsInReductions, 0);
    }
    ZIZO_agc::AC_AGC_logger->setLevel(nullptr);
    EXPECT_GE(log.records("ZIZO.Agc", "INFO").size(), 2u);
}

// At the maximum gain a speech sample whose level is below target cannot
// raise the gain further, which the loop may decide without the logarithm;
// one ulp of target either side of the level in dB must still follow the
// plain gain law g = min(max, g + p_gain / fs x (target - levelDb)). With
// tau_level 1e9 s the follower's coefficient is 1.0f, so the level of one
// loud sample stays exact through the silent speech sample that follows it;
// several neighbouring levels are tried because only some of them are the
// smallest float with their value in dB.
TEST(ZIZO_agc, GainAtTheMaximumFollowsTheLawOneUlpAroundTheTarget) {
    const unsigned int fs = 16000;
    const float maxGain_db = 10.0f;
    ZIZO_Config config = agcConfig();
    config.set<float>("tau_level", 1e9f);
    config.set<float>("p_gain", static_cast<float>(fs));  // 1 dB of gain per dB of error
    config.set<float>("max_gain_db", maxGain_db);
    ZIZO_agc agc("ulp", 1, fs, config);
    const Eigen::ArrayXf silence = Eigen::ArrayXf::Zero(1);
    Eigen::ArrayXf loud(1);
    Eigen::ArrayXf out(1);
    // Levels that are the smallest float with their value in dB: only at
    // those does a threshold one float too high let the loop skip a gain
    // that the law puts below the maximum.
    int smallestOfTheirDb = 0;
    for (float start : {0.15f, 0.2f, 0.3f, 0.45f}) {
        float x = start;
        for (int step = 0; step < 12; ++step, x = std::nextafter(x, 1.0f)) {
            agc.resetGain();
            agc.setTargetLevelDb(100.0f);
            loud[0] = x;
            agc.run(loud, out, true);
            ASSERT_EQ(agc.getGainDb(), maxGain_db);
            const float level = agc.getLevel();
            ASSERT_EQ(level, kFactorAtZeroDb * x);
            const float levelDb = 20.0f * std::log10(level);
            for (float target :
                 {std::nextafter(levelDb, -100.0f), levelDb, std::nextafter(levelDb, 100.0f)}) {
                agc.resetGain();
                agc.setTargetLevelDb(100.0f);
                agc.run(loud, out, true);
                agc.setTargetLevelDb(target);
                agc.run(silence, out, true);
                ASSERT_EQ(agc.getLevel(), level);
                const float expected = std::min(maxGain_db, maxGain_db + (target - levelDb));
                EXPECT_EQ(agc.getGainDb(), expected) << "level " << level << " target " << target;
            }
            if (20.0f * std::log10(std::nextafter(level, 0.0f)) < levelDb) {
                ++smallestOfTheirDb;
            }
        }
    }
    EXPECT_GE(smallestOfTheirDb, 4);
}

// In digital silence the level follower and the high-pass state of the
// maximum-gain reduction decay towards zero; without the processor's
// flush-to-zero mode they would end in the slow subnormal range and stay
// there. With tau_level 0.05 s the level falls from full scale to the
// smallest normal float (-758 dBFS) in about 4.4 s; the high-pass state
// (corner 100 rad/s) within a second. After 8 s both must be exactly zero,
// at one sample per block and at blocks longer than the check interval;
// the gain law, which floors the level at -96 dB, is not affected.
TEST(ZIZO_agc, SilenceAfterSpeechLeavesNoSubnormalState) {
    for (unsigned int Nblock : {1u, 1000u}) {
        SCOPED_TRACE("Nblock " + std::to_string(Nblock));
        ZIZO_Config config = agcConfig();
        config.set<float>("tau_level", 0.05f);
        config.set<bool>("decrease_max_gain", true);
        ZIZO_agc agc("zero", Nblock, 16000, config);
        const Eigen::ArrayXf speech = speechLike(16000, 16000, 0.9f);
        runSamples(agc, speech, Nblock, true);
        runSamples(agc, Eigen::ArrayXf::Zero(8 * 16000), Nblock, true);
        EXPECT_EQ(agc.getLevel(), 0.0f);
        EXPECT_EQ(agc.getHpState(), 0.0f);
        // The speech lowered the maximum; silence with the speech flag drives
        // the gain up to it.
        EXPECT_EQ(agc.getGainDb(), agc.getMaxGainDb());
    }
}
