// The AGC's settings from a control thread while another thread runs blocks:
// no lock between them, so the ThreadSanitizer build is what shows that they
// share nothing unsynchronised; the checks show that every request arrives.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "LogCapture.h"
#include "SpeechLikeSignal.h"
#include "ZIZO_agc.h"

namespace {

const unsigned int kFs = 16000;

ZIZO_Config reducingConfig() {
    ZIZO_Config config;
    config.set<bool>("enabled", true);
    config.set<bool>("decrease_max_gain", true);
    return config;
}

// Every control call, with values that change from round to round.
void controlRound(ZIZO_agc& agc, int round) {
    const float wobble = static_cast<float>(round % 7);
    agc.setEnabled(round % 5 != 4);
    agc.setTargetLevelDb(-10.0f - wobble);
    agc.setMaxGainDb(30.0f + wobble);
    agc.setDecreaseMaxGain(round % 3 != 0);
    agc.setMaxAmp(0.5f + 0.05f * wobble);
    agc.setNonspeechHoldGainTime(0.1f * wobble);
    agc.setNonspeechReleaseSpeed(1.0f + wobble);
    agc.setTauLevel(0.5f + 0.1f * wobble);
    agc.setTauDuck(0.05f + 0.01f * wobble);
    if (round % 4 == 0) {
        agc.resetGain();
    }
    if (round % 6 == 0) {
        agc.resetMaxGain();
    }
}

}  // namespace

// Loud speech (which keeps lowering the maximum) runs block after block
// while the control thread sets everything over and over and a third thread
// reads the two values that may be read from anywhere.
TEST(ZIZO_agc_concurrency, ControlCallsMeetRunningBlocksWithoutALock) {
    for (unsigned int Nblock : {1u, 160u}) {
        SCOPED_TRACE("Nblock " + std::to_string(Nblock));
        LogCapture log;
        ZIZO_agc agc("conc", Nblock, kFs, reducingConfig());
        const Eigen::ArrayXf speech = speechLike(2 * kFs, kFs, 1.5f);
        std::atomic<bool> controlDone{false};
        std::atomic<long> blocks{0};
        const int kRounds = 2000;

        std::thread audio([&] {
            std::vector<float> out(Nblock);
            Eigen::Index at = 0;
            // At least a few blocks after the control thread is done, so that
            // its last requests have been taken.
            int after = 0;
            while (after < 3) {
                if (at + Eigen::Index(Nblock) > speech.size()) {
                    at = 0;
                }
                agc.run(speech.data() + at, out.data(), (at / kFs) % 2 == 0);
                at += Nblock;
                blocks.fetch_add(1, std::memory_order_relaxed);
                after += controlDone.load(std::memory_order_acquire) ? 1 : 0;
            }
        });
        std::thread reader([&] {
            while (!controlDone.load(std::memory_order_acquire)) {
                const float maxGain = agc.getMaxGainDb();
                // Requested maxima are 30 .. 36 dB, reductions multiples of 3
                // below them.
                ASSERT_GE(maxGain, 0.0f);
                ASSERT_LE(maxGain, 36.0f);
                ASSERT_TRUE(maxGain >= 30.0f || std::fmod(maxGain, 3.0f) == 0.0f) << maxGain;
                (void)agc.isEnabled();
            }
        });
        for (int round = 0; round < kRounds; ++round) {
            controlRound(agc, round);
        }
        // A last round with known values.
        agc.setEnabled(true);
        agc.setDecreaseMaxGain(false);
        agc.setMaxGainDb(35.0f);
        agc.setMaxAmp(0.75f);
        controlDone.store(true, std::memory_order_release);
        reader.join();
        audio.join();
        EXPECT_GT(blocks.load(), 3);

        // Every control call logged its record (on the control thread).
        EXPECT_EQ(log.count("AGC conc: resetGain called."), static_cast<size_t>(kRounds / 4));
        EXPECT_EQ(log.count("AGC conc: nonspeech_hold_gain_time set to 0.3"),
                  static_cast<size_t>((kRounds + 6) / 7));

        // The last round acts, and no reduction came after it.
        EXPECT_TRUE(agc.isEnabled());
        EXPECT_EQ(agc.getMaxGainDb(), 35.0f);
        agc.resetGain();
        std::vector<float> loud(Nblock, 2.0f), out(Nblock);
        agc.run(loud.data(), out.data(), false);
        EXPECT_EQ(out[0], 0.75f);
        EXPECT_EQ(agc.getMaxGainDb(), 35.0f);
    }
}

// On one thread every call acts at once, in call order: the maximum a
// reduction lowered is replaced by a later request, a reset restores the
// value configured last, and run() takes them all with its next block.
TEST(ZIZO_agc_concurrency, RequestsActInCallOrder) {
    LogCapture log;
    ZIZO_agc agc("order", 160, kFs, reducingConfig());
    const std::vector<float> loud(160, 0.9f);
    std::vector<float> out(160);
    for (int b = 0; b < 101; ++b) {
        agc.run(loud.data(), out.data(), true);
    }
    // The step at the start, through the high-pass, fills the loudest bin
    // with more than 0.1 % of the first second: 0 dB.
    EXPECT_EQ(agc.getMaxGainDb(), 0.0f);

    agc.setMaxGainDb(12.0f);
    EXPECT_EQ(agc.getMaxGainDb(), 12.0f);
    agc.setMaxGainDb(20.0f);
    agc.resetMaxGain();
    EXPECT_EQ(log.count("AGC order: resetMaxGain called. Resetting from 20 to 20"), 1u);
    agc.setMaxGainDb(6.0f);
    agc.setDecreaseMaxGain(false);
    EXPECT_EQ(agc.getMaxGainDb(), 6.0f);
    // The reset cleared the statistics before the last maximum came.
    EXPECT_EQ(agc.getHistogramSamples(), 0u);

    // Quiet speech from a reset gain: the gain climbs to the last maximum
    // and stops there.
    agc.resetGain();
    const std::vector<float> quiet(160, 1e-4f);
    for (int b = 0; b < 200; ++b) {
        agc.run(quiet.data(), out.data(), true);
    }
    EXPECT_EQ(agc.getGainDb(), 6.0f);
    EXPECT_EQ(agc.getMaxGainDb(), 6.0f);
}
