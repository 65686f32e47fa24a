#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "LogCapture.h"
#include "ZIZO_agc.h"

namespace {

const unsigned int kFs = 16000;
const unsigned int kNblock = 160;

ZIZO_Config reducingConfig() {
    ZIZO_Config config;
    config.set<bool>("enabled", true);
    config.set<bool>("decrease_max_gain", true);
    return config;
}

// One block of silence that starts with a single sample. Through the
// DC-blocking high-pass an impulse of amplitude A gives one sample of about
// 0.997 A, followed by a tail below -44 dB relative to A: each impulse adds
// exactly one count to the bin of A, and nothing to the loud bins.
Eigen::ArrayXf impulse(float amplitude) {
    Eigen::ArrayXf x = Eigen::ArrayXf::Zero(kNblock);
    x[0] = amplitude;
    return x;
}

void runBlocks(ZIZO_agc& agc, const Eigen::ArrayXf& block, unsigned int count,
               bool speech = false) {
    Eigen::ArrayXf out(block.size());
    for (unsigned int b = 0; b < count; ++b) {
        agc.run(block, out, speech);
    }
}

}  // namespace

// exp(-100 / 16000) and 0.5 + 0.5 x that, worked out in double precision.
TEST(ZIZO_agc_maxgain, HighPassCoefficients) {
    ZIZO_agc agc("hp", kNblock, kFs, reducingConfig());
    EXPECT_EQ(agc.getHpCoefA(), 0.99376947f);
    EXPECT_FLOAT_EQ(agc.getHpCoefB(), 0.9968847f);
}

// The statistics are first evaluated once more than one second is counted
// (block 101 at 160 samples per block). Then bins 0 .. 11 (below 35 dB / 3)
// are scanned against 0.1 % of 16160 samples = 16.16: bins 0 .. 2 hold 10
// impulses, bin 3 seven more, so bin 3 is the first to pass and the maximum
// becomes 3 x 3 = 9 dB. The window clears after the block that passes 3 s.
TEST(ZIZO_agc_maxgain, LoudInputLowersTheMaximumToAMultipleOfThreeDb) {
    LogCapture log;
    ZIZO_agc agc("mg", kNblock, kFs, reducingConfig());
    const Eigen::ArrayXf silence = Eigen::ArrayXf::Zero(kNblock);
    for (unsigned int b = 0; b < 100; ++b) {
        const bool loud = b % 5 == 0 && b / 5 < 17;
        runBlocks(agc, loud ? impulse(b / 5 < 10 ? 0.9f : 0.3f) : silence, 1);
    }
    EXPECT_EQ(agc.getHistogramSamples(), 16000u);
    EXPECT_EQ(agc.getHistogramCount(0), 10u);
    EXPECT_EQ(agc.getHistogramCount(3), 7u);
    EXPECT_EQ(agc.getMaxGainDb(), 35.0f);
    EXPECT_EQ(log.records("ZIZO.Agc", "INFO").size(), 2u);  // enabled, decrease-max-gain

    runBlocks(agc, silence, 1);
    EXPECT_EQ(agc.getMaxGainDb(), 9.0f);
    const auto info = log.records("ZIZO.Agc", "INFO");
    ASSERT_EQ(info.size(), 3u);
    EXPECT_EQ(info[2].message, "AGC mg: max_gain_db was reduced to 9");

    runBlocks(agc, silence, 199);
    EXPECT_EQ(agc.getHistogramSamples(), 48000u);
    runBlocks(agc, silence, 1);
    EXPECT_EQ(agc.getHistogramSamples(), 0u);
    EXPECT_EQ(agc.getHistogramCount(0), 0u);
    EXPECT_EQ(agc.getMaxGainDb(), 9.0f);
    EXPECT_EQ(log.records("ZIZO.Agc", "INFO").size(), 3u);

    // The lowered maximum caps the gain during speech; the floor stays at
    // the configured -35 dB (with the reduction off, so that the loud part
    // leaves the maximum at 9 dB).
    runBlocks(agc, silence, 200, true);
    EXPECT_EQ(agc.getGainDb(), 9.0f);
    agc.setDecreaseMaxGain(false);
    agc.setTargetLevelDb(-70.0f);
    runBlocks(agc, Eigen::ArrayXf::Constant(kNblock, 0.5f), 400, true);
    EXPECT_EQ(agc.getGainDb(), -35.0f);

    agc.resetMaxGain();
    EXPECT_EQ(agc.getMaxGainDb(), 35.0f);
    EXPECT_EQ(agc.getHistogramSamples(), 0u);
    EXPECT_EQ(log.count("AGC mg: resetMaxGain called. Resetting from 9 to 35"), 1u);

    // setMaxGainDb changes the value that resetMaxGain restores.
    agc.setMaxGainDb(-12.0f);
    EXPECT_EQ(agc.getMaxGainDb(), 12.0f);
    agc.resetMaxGain();
    EXPECT_EQ(agc.getMaxGainDb(), 12.0f);
    EXPECT_EQ(log.count("AGC mg: resetMaxGain called. Resetting from 12 to 12"), 1u);
}

// Only bins below the current maximum are scanned, so the maximum only falls.
TEST(ZIZO_agc_maxgain, ScanCoversOnlyBinsBelowTheMaximum) {
    LogCapture log;
    const Eigen::ArrayXf silence = Eigen::ArrayXf::Zero(kNblock);

    // 100 samples in bin 3 (-10.5 dB): at a maximum of 6 dB only bins 0 and
    // 1 count, so nothing happens; at 12 dB bin 3 is reached and sets 9 dB.
    ZIZO_agc six("six", kNblock, kFs, reducingConfig());
    six.setMaxGainDb(6.0f);
    runBlocks(six, impulse(0.3f), 100);
    runBlocks(six, silence, 100);
    EXPECT_EQ(six.getMaxGainDb(), 6.0f);
    six.setMaxGainDb(12.0f);
    runBlocks(six, silence, 1);
    EXPECT_EQ(six.getMaxGainDb(), 9.0f);

    // A maximum of 0 dB is never scanned.
    ZIZO_agc zero("zero", kNblock, kFs, reducingConfig());
    zero.setMaxGainDb(0.0f);
    runBlocks(zero, Eigen::ArrayXf::Constant(kNblock, 0.9f), 400);
    EXPECT_EQ(zero.getMaxGainDb(), 0.0f);
    EXPECT_EQ(log.records("ZIZO.Agc", "INFO").size(), 5u);

    // A maximum above 96 dB reaches past the last bin: the scan stops there,
    // where all of the silent samples are counted.
    ZIZO_agc high("high", kNblock, kFs, reducingConfig());
    high.setMaxGainDb(200.0f);
    runBlocks(high, silence, 101);
    EXPECT_EQ(high.getMaxGainDb(), 93.0f);
    EXPECT_EQ(log.count("AGC high: max_gain_db was reduced to 93"), 1u);
}

// Counts made while the maximum was higher still weigh in after it falls,
// over the narrower range of bins. 20 impulses in bin 5 (0.15, -16.5 dB)
// pass 0.1 % of 16160 samples at block 101: 35 dB falls to 15 dB, after which
// only bins 0 .. 4 are scanned. Impulses of 0.5 (-6.0 dB, bin 2), one per
// block from block 102 on, pass 0.1 % of the window with the 20th at block
// 121 (20 > 19.36; the 19th, 19 > 19.2, does not): 15 dB falls to 6 dB.
TEST(ZIZO_agc_maxgain, ALoweredMaximumIsLoweredAgainWithinOneWindow) {
    LogCapture log;
    ZIZO_agc agc("twice", kNblock, kFs, reducingConfig());
    const Eigen::ArrayXf silence = Eigen::ArrayXf::Zero(kNblock);
    for (unsigned int b = 0; b < 100; ++b) {
        runBlocks(agc, b % 5 == 0 ? impulse(0.15f) : silence, 1);
    }
    EXPECT_EQ(agc.getHistogramCount(5), 20u);
    runBlocks(agc, silence, 1);
    EXPECT_EQ(agc.getMaxGainDb(), 15.0f);

    runBlocks(agc, impulse(0.5f), 19);
    EXPECT_EQ(agc.getHistogramCount(2), 19u);
    EXPECT_EQ(agc.getMaxGainDb(), 15.0f);
    runBlocks(agc, impulse(0.5f), 1);
    EXPECT_EQ(agc.getMaxGainDb(), 6.0f);
    EXPECT_EQ(log.count("AGC twice: max_gain_db was reduced to 15"), 1u);
    EXPECT_EQ(log.count("AGC twice: max_gain_db was reduced to 6"), 1u);

    // Raised again, the maximum is checked over the wider range at once,
    // with everything counted so far: bin 2 passes again.
    agc.setMaxGainDb(30.0f);
    runBlocks(agc, silence, 1);
    EXPECT_EQ(agc.getMaxGainDb(), 6.0f);
}

TEST(ZIZO_agc_maxgain, SwitchLogsChangesAndKeepsTheStatistics) {
    LogCapture log;
    ZIZO_Config config;
    config.set<bool>("decrease_max_gain", false);
    ZIZO_agc off("off", kNblock, kFs, config);
    ZIZO_agc agc("sw", kNblock, kFs, reducingConfig());
    EXPECT_EQ(log.count("AGC off decrease-max-gain disabled"), 0u);
    EXPECT_EQ(log.count("AGC sw decrease-max-gain enabled"), 1u);

    runBlocks(agc, impulse(0.9f), 10);
    EXPECT_EQ(agc.getHistogramSamples(), 1600u);

    agc.setDecreaseMaxGain(true);
    agc.setDecreaseMaxGain(false);
    EXPECT_FALSE(agc.isDecreaseMaxGain());
    const auto info = log.records("ZIZO.Agc", "INFO");
    ASSERT_EQ(info.size(), 4u);
    EXPECT_EQ(info[3].message, "AGC sw decrease-max-gain disabled");
    EXPECT_EQ(info[3].function, "setDecreaseMaxGain");

    // Switched off, loud input is not counted and lowers nothing.
    runBlocks(agc, Eigen::ArrayXf::Constant(kNblock, 0.9f), 300);
    EXPECT_EQ(agc.getHistogramSamples(), 1600u);
    EXPECT_EQ(agc.getMaxGainDb(), 35.0f);

    // Switched on again, counting goes on from where it stopped: the ten
    // impulses counted before still weigh in.
    agc.setDecreaseMaxGain(true);
    EXPECT_EQ(agc.getHistogramCount(0), 10u);
    runBlocks(agc, impulse(0.9f), 7);
    runBlocks(agc, Eigen::ArrayXf::Zero(kNblock), 84);
    EXPECT_EQ(agc.getMaxGainDb(), 0.0f);
}

// One NaN or infinite input sample must not stay in the high-pass state:
// every later sample would then land in the silent bin and the maximum could
// never be lowered again.
TEST(ZIZO_agc_maxgain, NonFiniteSamplesDoNotStopTheReduction) {
    ZIZO_agc agc("nan", kNblock, kFs, reducingConfig());
    Eigen::ArrayXf bad = Eigen::ArrayXf::Zero(kNblock);
    bad[10] = -std::numeric_limits<float>::infinity();
    bad[20] = std::numeric_limits<float>::quiet_NaN();
    bad[30] = std::numeric_limits<float>::infinity();
    runBlocks(agc, bad, 1);
    // Infinities count as loud, NaN as silent.
    EXPECT_EQ(agc.getHistogramCount(0), 2u);
    EXPECT_EQ(agc.getHistogramCount(31), kNblock - 2);

    // 20 impulses at -0.9 dB: more than 0.1 % of a second in bin 0.
    runBlocks(agc, impulse(0.9f), 20);
    runBlocks(agc, Eigen::ArrayXf::Zero(kNblock), 80);
    EXPECT_EQ(agc.getMaxGainDb(), 0.0f);
}
