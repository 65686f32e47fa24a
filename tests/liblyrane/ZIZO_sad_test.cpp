#include "ZIZO_sad.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "LogCapture.h"

namespace {

// A signal of constant magnitude with alternating sign: every tracker of the
// detector settles on exactly that magnitude, so the envelope-to-floor ratio
// of a settled background is 1 (closing test met, opening test not), and a
// step to a louder magnitude drives the ratio far above the opening
// threshold within a few samples.
Eigen::ArrayXf steady(unsigned int n, float magnitude) {
    Eigen::ArrayXf x(n);
    for (unsigned int i = 0; i < n; ++i) {
        x[i] = (i % 2 == 0) ? magnitude : -magnitude;
    }
    return x;
}

ZIZO_Config enabledConfig() {
    ZIZO_Config config;
    config.set<bool>("enabled", true);
    return config;
}

void runBlocks(ZIZO_sad& sad, const Eigen::ArrayXf& block, unsigned int count) {
    for (unsigned int b = 0; b < count; ++b) {
        sad.run(block);
    }
}

// Three seconds of background: long enough for the trackers to forget their
// start values and for the gate to settle CLOSED.
void settle(ZIZO_sad& sad, const Eigen::ArrayXf& background, unsigned int fs) {
    runBlocks(sad, background, 3 * fs / static_cast<unsigned int>(background.size()));
}

const float kBackground = 0.001f;  // -60 dBFS
const float kSpeech = 0.1f;        // -20 dBFS

}  // namespace

// Expected values: the per-sample coefficients exp(-1 / (16000 x tau)) and the
// dB factors 10^(dB / 20) of the defaults, worked out in double precision and
// rounded to float.
TEST(ZIZO_sad, DefaultsGiveTheDeviceCoefficientsAndThresholds) {
    ZIZO_sad sad("coef", 160, 16000, enabledConfig());
    EXPECT_EQ(sad.getCoef(1), 0.97938216f);
    EXPECT_EQ(sad.getCoef(2), 0.99843872f);
    EXPECT_EQ(sad.getCoef(3), 0.99968755f);
    EXPECT_EQ(sad.getCoef(4), 0.99993747f);
    EXPECT_EQ(sad.getCoef(5), 0.99996948f);
    EXPECT_EQ(sad.getCoef(0), 0.0f);
    EXPECT_EQ(sad.getCoef(6), 0.0f);
    EXPECT_FLOAT_EQ(sad.getThreshAbsolute(), 0.001f);
    EXPECT_FLOAT_EQ(sad.getThreshOpen(), 3.981072f);
    EXPECT_FLOAT_EQ(sad.getThreshClose(), 1.2589254f);
    EXPECT_TRUE(sad.isEnabled());
    EXPECT_FALSE(sad.isSpeech());
    EXPECT_EQ(sad.getState(), ZIZO_sad::CLOSED);
}

// Hold counts: ceil(time / Nblock x fs) in single precision, worked out
// step by step in float. 0.032 / 160 x 16000 comes out as 3.2000000477 and
// 0.032 / 256 x 48000 as 6.0000005, so both round up past the exact quotient
// (4 and 7 blocks); 0.2 / 160 x 16000 is exactly 20. At 48 kHz and 96
// samples the division first gives 100.000008 and 16.0000019 where the exact
// quotients are 100 and 16. The gate opens on the (holdClosed + 1)-th block
// that passes the opening test and closes on the (holdOpen + 1)-th block that
// passes the closing test.
TEST(ZIZO_sad, GateOpensAndClosesAfterTheHoldBlocksAtEachRate) {
    struct Rate {
        unsigned int fs, Nblock, holdOpen, holdClosed;
    };
    for (const Rate& r : {Rate{16000, 160, 20, 4}, Rate{16000, 256, 13, 2}, Rate{48000, 256, 38, 7},
                          Rate{48000, 96, 101, 17}, Rate{8000, 1, 1600, 256}}) {
        SCOPED_TRACE("fs " + std::to_string(r.fs) + ", Nblock " + std::to_string(r.Nblock));
        ZIZO_sad sad("gate", r.Nblock, r.fs, enabledConfig());
        EXPECT_EQ(sad.getHoldOpenBlocks(), r.holdOpen);
        EXPECT_EQ(sad.getHoldClosedBlocks(), r.holdClosed);

        const Eigen::ArrayXf background = steady(r.Nblock, kBackground);
        const Eigen::ArrayXf speech = steady(r.Nblock, kSpeech);
        settle(sad, background, r.fs);
        ASSERT_EQ(sad.getState(), ZIZO_sad::CLOSED);

        for (unsigned int b = 0; b < r.holdClosed; ++b) {
            sad.run(speech);
            ASSERT_FALSE(sad.isSpeech()) << "speech block " << b;
        }
        sad.run(speech);
        EXPECT_TRUE(sad.isSpeech());
        EXPECT_EQ(sad.getState(), ZIZO_sad::OPEN);

        // 0.3 s of steady speech keeps the gate open: the floors rise only
        // with time constants of seconds.
        for (unsigned int b = 0; b < 3 * r.fs / 10 / r.Nblock; ++b) {
            sad.run(speech);
            ASSERT_EQ(sad.getState(), ZIZO_sad::OPEN) << "speech block " << b;
        }

        // Back to background: the envelope decays with tau2 until the ratio
        // falls below the closing threshold, from which block on the closing
        // test holds every block.
        unsigned int decay = 0;
        while (sad.getState() == ZIZO_sad::OPEN && decay < r.fs / r.Nblock) {
            sad.run(background);
            ++decay;
        }
        ASSERT_EQ(sad.getState(), ZIZO_sad::CLOSING);
        for (unsigned int b = 1; b < r.holdOpen; ++b) {
            sad.run(background);
            ASSERT_TRUE(sad.isSpeech()) << "closing block " << b;
        }
        sad.run(background);
        EXPECT_FALSE(sad.isSpeech());
        EXPECT_EQ(sad.getState(), ZIZO_sad::CLOSED);
    }
}

// With a fast envelope release (tau2 = 0.5 ms) the opening test stops holding
// one block after a burst ends, so the length of a burst in blocks controls
// how long the test holds: a 3-block burst passes it for 4 blocks, one short
// of the 5 that open the gate at a hold of 4.
TEST(ZIZO_sad, OneFailingBlockRestartsTheHold) {
    ZIZO_Config config = enabledConfig();
    config.set<float>("tau2", 0.0005f);
    ZIZO_sad sad("restart", 160, 16000, config);
    ASSERT_EQ(sad.getHoldClosedBlocks(), 4u);
    const Eigen::ArrayXf background = steady(160, kBackground);
    const Eigen::ArrayXf speech = steady(160, kSpeech);
    settle(sad, background, 16000);
    ASSERT_EQ(sad.getState(), ZIZO_sad::CLOSED);

    runBlocks(sad, speech, 3);
    sad.run(background);
    EXPECT_EQ(sad.getState(), ZIZO_sad::OPENING);
    sad.run(background);
    EXPECT_EQ(sad.getState(), ZIZO_sad::CLOSED);
    EXPECT_FALSE(sad.isSpeech());

    // A counter left over from the broken run would open the gate early.
    runBlocks(sad, speech, 4);
    EXPECT_FALSE(sad.isSpeech());
    sad.run(speech);
    EXPECT_TRUE(sad.isSpeech());

    // Closing side: the background passes the closing test from its first
    // block on (the envelope falls within a few samples); one speech block in
    // the hold sends the gate back to OPEN, and the full hold starts again.
    runBlocks(sad, background, 10);
    EXPECT_EQ(sad.getState(), ZIZO_sad::CLOSING);
    sad.run(speech);
    EXPECT_EQ(sad.getState(), ZIZO_sad::OPEN);
    sad.run(background);
    ASSERT_EQ(sad.getState(), ZIZO_sad::CLOSING);
    runBlocks(sad, background, sad.getHoldOpenBlocks() - 1);
    EXPECT_TRUE(sad.isSpeech());
    sad.run(background);
    EXPECT_FALSE(sad.isSpeech());
}

// A quiet background at -100 dBFS with a -66 dBFS tone: the ratio is far
// above the opening threshold but the envelope never passes -60 dBFS, so the
// gate stays closed; the same tone at -40 dBFS opens it.
TEST(ZIZO_sad, QuietSoundsBelowTheAbsoluteThresholdDoNotOpen) {
    ZIZO_sad sad("quiet", 160, 16000, enabledConfig());
    settle(sad, steady(160, 1e-5f), 16000);
    ASSERT_EQ(sad.getState(), ZIZO_sad::CLOSED);
    runBlocks(sad, steady(160, 0.0005f), 100);
    EXPECT_EQ(sad.getState(), ZIZO_sad::CLOSED);
    runBlocks(sad, steady(160, 0.01f), 5);
    EXPECT_TRUE(sad.isSpeech());
}

TEST(ZIZO_sad, EnableSwitchFreezesTheDetectorAndLogsEveryCall) {
    LogCapture log;
    {
        ZIZO_sad never("never", 160, 16000, ZIZO_Config());
        runBlocks(never, steady(160, 0.5f), 50);
        EXPECT_FALSE(never.isSpeech());
        EXPECT_EQ(never.getState(), ZIZO_sad::CLOSED);
    }
    const auto created = log.records("ZIZO.Sad", "DEBUG");
    ASSERT_EQ(created.size(), 1u);
    EXPECT_EQ(created[0].message, "Creating instance of ZIZO_sad (never).");
    EXPECT_EQ(log.count("SAD never disabled."), 1u);

    log.clear();
    ZIZO_sad sad("frozen", 160, 16000, enabledConfig());
    EXPECT_EQ(log.count("SAD frozen enabled."), 1u);
    const Eigen::ArrayXf background = steady(160, kBackground);
    settle(sad, background, 16000);
    runBlocks(sad, steady(160, kSpeech), 5);
    ASSERT_EQ(sad.getState(), ZIZO_sad::OPEN);

    sad.setEnabled(false);
    runBlocks(sad, background, 100);
    EXPECT_TRUE(sad.isSpeech());
    EXPECT_EQ(sad.getState(), ZIZO_sad::OPEN);

    // Enabling again continues from the frozen trackers: the envelope still
    // stands at the speech level, so the gate needs the usual decay first.
    sad.setEnabled(true);
    sad.setEnabled(true);
    sad.run(background);
    EXPECT_EQ(sad.getState(), ZIZO_sad::OPEN);

    const auto info = log.records("ZIZO.Sad", "INFO");
    ASSERT_EQ(info.size(), 4u);
    EXPECT_EQ(info[1].message, "SAD frozen disabled.");
    EXPECT_EQ(info[2].message, "SAD frozen enabled.");
    EXPECT_EQ(info[3].message, "SAD frozen enabled.");
    EXPECT_EQ(info[3].function, "setEnabled");
}

TEST(ZIZO_sad, StatesOutsideTheGateAreReportedAndLeftAlone) {
    LogCapture log;
    ZIZO_sad sad("state", 160, 16000, enabledConfig());
    const Eigen::ArrayXf speech = steady(160, kSpeech);

    sad.switchState(ZIZO_sad::CLOSING);
    EXPECT_TRUE(sad.isSpeech());
    sad.switchState(ZIZO_sad::OPENING);
    EXPECT_FALSE(sad.isSpeech());

    sad.switchState(7);
    EXPECT_FALSE(sad.isSpeech());
    sad.run(speech);
    sad.run(speech);
    EXPECT_EQ(sad.getState(), 7);
    EXPECT_EQ(log.count("Unknown state 7"), 2u);

    // Negative states compare as unsigned: no speech, logged as 2^32 - 1.
    sad.switchState(-1);
    EXPECT_FALSE(sad.isSpeech());
    sad.run(speech);
    const auto errors = log.records("ZIZO.Sad", "ERROR");
    ASSERT_EQ(errors.size(), 3u);
    EXPECT_EQ(errors[2].message, "Unknown state 4294967295");
    EXPECT_EQ(errors[2].function, "run");

    // A valid state brings the gate back.
    sad.switchState(ZIZO_sad::OPEN);
    sad.run(speech);
    EXPECT_EQ(sad.getState(), ZIZO_sad::OPEN);
}

// One NaN or infinite sample must not leave the trackers non-finite, which
// would stop every later comparison and freeze the gate.
TEST(ZIZO_sad, GateKeepsWorkingAfterNonFiniteSamples) {
    ZIZO_sad sad("nan", 160, 16000, enabledConfig());
    const Eigen::ArrayXf background = steady(160, kBackground);
    const Eigen::ArrayXf speech = steady(160, kSpeech);
    settle(sad, background, 16000);

    Eigen::ArrayXf bad = background;
    bad[10] = std::numeric_limits<float>::quiet_NaN();
    bad[20] = std::numeric_limits<float>::infinity();
    bad[30] = -std::numeric_limits<float>::infinity();
    sad.run(bad);
    EXPECT_EQ(sad.getState(), ZIZO_sad::CLOSED);

    runBlocks(sad, speech, 4);
    EXPECT_FALSE(sad.isSpeech());
    sad.run(speech);
    EXPECT_TRUE(sad.isSpeech());

    // The same while open: the gate still closes once the speech ends.
    sad.run(bad);
    runBlocks(sad, background, 100);
    EXPECT_FALSE(sad.isSpeech());
}

// A block shorter than Nblock would be read past its end; it is refused and
// changes nothing, so a detector that sees such blocks decides exactly like
// one that never did.
TEST(ZIZO_sad, ShortBlocksAreRefusedWithoutEffect) {
    LogCapture log;
    ZIZO_sad plain("plain", 160, 16000, enabledConfig());
    ZIZO_sad refusing("short", 160, 16000, enabledConfig());
    const Eigen::ArrayXf background = steady(160, kBackground);
    const Eigen::ArrayXf speech = steady(160, kSpeech);
    const Eigen::ArrayXf shortLoud = steady(100, 0.9f);
    const Eigen::ArrayXf empty;

    for (unsigned int b = 0; b < 600; ++b) {
        const Eigen::ArrayXf& block = (b % 150 < 60) ? speech : background;
        plain.run(block);
        refusing.run(block);
        refusing.run(b % 2 ? shortLoud : empty);
        ASSERT_EQ(refusing.getState(), plain.getState()) << "block " << b;
    }
    EXPECT_EQ(log.count("SAD short: block of 100 samples refused, 160 expected."), 300u);
    EXPECT_EQ(log.count("SAD short: block of 0 samples refused, 160 expected."), 300u);

    // A longer input is fine: only its first Nblock samples are read.
    Eigen::ArrayXf longer = Eigen::ArrayXf::Constant(400, kBackground);
    refusing.run(longer);
    EXPECT_EQ(log.records("ZIZO.Sad", "ERROR").size(), 600u);

    // A detector of empty blocks runs without touching any sample.
    ZIZO_sad none("none", 0, 16000, enabledConfig());
    none.run(empty);
    EXPECT_FALSE(none.isSpeech());
}

// A configuration value of the wrong type falls back to 0 with the store's
// warning; a hold time of 0 s gives 0 hold blocks, which holds for one block
// like a count of 1.
TEST(ZIZO_sad, MistypedValuesFallBackToZero) {
    LogCapture log;
    ZIZO_Config config = enabledConfig();
    config.set<int>("hold_closed_time", 1);
    config.set<double>("thresh_open_db", 12.0);
    ZIZO_sad sad("typed", 160, 16000, config);
    EXPECT_EQ(log.count("get failed for parameter hold_closed_time"), 1u);
    EXPECT_EQ(log.count("get failed for parameter thresh_open_db"), 1u);
    EXPECT_EQ(sad.getHoldClosedBlocks(), 0u);
    EXPECT_EQ(sad.getThreshOpen(), 1.0f);

    const Eigen::ArrayXf background = steady(160, kBackground);
    settle(sad, background, 16000);
    ASSERT_EQ(sad.getState(), ZIZO_sad::CLOSED);
    sad.run(steady(160, kSpeech));
    EXPECT_FALSE(sad.isSpeech());
    sad.run(steady(160, kSpeech));
    EXPECT_TRUE(sad.isSpeech());

    ZIZO_Config wrongSwitch;
    wrongSwitch.set<int>("enabled", 1);
    ZIZO_sad off("off", 160, 16000, wrongSwitch);
    EXPECT_FALSE(off.isEnabled());
    EXPECT_EQ(log.count("get failed for parameter enabled"), 1u);
}

// In digital silence the trackers decay towards zero; without the processor's
// flush-to-zero mode they would end in the slow subnormal range and stay
// there (a subnormal times a coefficient near 1 rounds back to itself). The
// smoothed floor falls slowest, with tau3 = 0.2 s: from -20 dBFS to the
// smallest normal float (-758 dBFS) takes 85 time constants, 17 s. After 25
// s every tracker must be exactly zero, at one sample per block and at
// blocks longer than the check interval, and the gate still opens on speech.
TEST(ZIZO_sad, SilenceAfterSpeechLeavesNoSubnormalTracker) {
    for (unsigned int Nblock : {1u, 1000u}) {
        SCOPED_TRACE("Nblock " + std::to_string(Nblock));
        ZIZO_sad sad("zero", Nblock, 16000, enabledConfig());
        const Eigen::ArrayXf speech = steady(Nblock, kSpeech);
        const Eigen::ArrayXf silence = Eigen::ArrayXf::Zero(Nblock);
        runBlocks(sad, speech, 16000 / Nblock);
        runBlocks(sad, silence, 25 * 16000 / Nblock);
        EXPECT_EQ(sad.getEnvelope(), 0.0f);
        EXPECT_EQ(sad.getFloorTrack(), 0.0f);
        EXPECT_EQ(sad.getFloorSmooth(), 0.0f);
        EXPECT_FALSE(sad.isSpeech());
        runBlocks(sad, speech, 16000 / Nblock);
        EXPECT_TRUE(sad.isSpeech());
    }
}
