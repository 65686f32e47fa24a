// The chain's three kinds of caller at once: a processing thread in run, a
// consumer pulling the buffered input, and control threads changing
// settings and reloading the equalizer, while every level is logged and the
// audio path's records go out on the library's log thread. Also built with
// ThreadSanitizer by the test script.
#include <gtest/gtest.h>

#include <Eigen/Core>
#include <ZIZO_Config>
#include <atomic>
#include <chrono>
#include <cmath>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "LogCapture.h"
#include "PlaybackProcessing.h"

namespace {

const std::string kCoefficientFile =
    std::string(LYRANE_TEST_CONFIG_DIR) + "/equalizer_coefficients.cfg";
// The FIFO takes a block only below this fill, and serves only above a third
// of it (682), so the last 682 samples of a finite stream stay buffered.
constexpr std::size_t kFillLimit = 2048;
constexpr std::size_t kHeldBack = 682;

// Sample k of the stream: (k + 1) / 2^18, distinct, exact in float and inside
// full scale for k < 2^18; never 0.0, which a consumer receives as silence.
float streamValue(std::size_t k) {
    return std::ldexp(float(k + 1), -18);
}

struct Outcome {
    std::vector<float> pulled;  // every non-silent sample, in pull order
    std::size_t nonFiniteOutputs = 0;
};

// With buffer > 0 (and Nblock 1), the producer hands the chain buffers of
// that many one-sample blocks at a time, as the plug-in does.
Outcome runThreeThreads(unsigned int Nblock, std::size_t total, std::size_t buffer = 0) {
    // Every level on: the setters' records go out on their threads, and the
    // AGC's duck and reduction records (whenever the settings of the moment
    // make the ramp duck or lower the maximum) on the library's log thread.
    LogCapture log;
    ZIZO_Config config;
    config.set<bool>("AGC.enabled", true);
    config.set<bool>("EQUALIZER.enabled", true);
    config.set<std::string>("EQUALIZER.coeff_file", kCoefficientFile);
    auto chain = std::make_shared<PlaybackProcessing>("T", Nblock, 16000, config);
    chain->setOutputGainDb(0.0f);

    Outcome outcome;
    outcome.pulled.reserve(total);
    std::atomic<std::size_t> received{0};
    std::atomic<bool> producing{true};
    std::atomic<std::size_t> setterRounds{0};

    std::thread producer([&] {
        const std::size_t step = buffer > 0 ? buffer : Nblock;
        Eigen::ArrayXf in(step), out(step);
        // Start with settings already changing.
        while (setterRounds.load() == 0)
            std::this_thread::yield();
        for (std::size_t produced = 0; produced < total; produced += step) {
            // Keep the fill below the limit, so that no block is dropped and
            // the pulled stream must be the whole input.
            while (produced + step - received.load() > kFillLimit)
                std::this_thread::yield();
            for (std::size_t i = 0; i < step; ++i)
                in[i] = streamValue(produced + i);
            if (buffer > 0)
                chain->runOneSampleBlocks(in.data(), out.data(), buffer);
            else
                chain->run(in, out);
            outcome.nonFiniteOutputs += (!out.isFinite()).count();
        }
        producing.store(false);
    });

    std::thread consumer([&] {
        while (outcome.pulled.size() < total - kHeldBack) {
            const float sample = chain->getNextInputSample();
            if (sample == 0.0f) {
                std::this_thread::yield();
                continue;
            }
            outcome.pulled.push_back(sample);
            received.store(outcome.pulled.size());
        }
    });

    std::thread control([&] {
        for (std::size_t round = 0; producing.load(); ++round) {
            const bool odd = round % 2 == 1;
            chain->setOutputGainDb(odd ? -6.0f : 0.0f);
            chain->setAgcEnabled(round % 3 != 0);
            chain->setAgcTargetLevelDb(odd ? -20.0f : -6.0f);
            chain->setAgcMaxGainDb(odd ? 12.0f : 35.0f);
            chain->setAgcDecreaseMaxGain(odd);
            chain->setAgcMaxAmp(odd ? 0.5f : 0.95f);
            chain->setAgcNonspeechHoldGainTime(odd ? 0.5f : 1.0f);
            chain->setAgcNonspeechReleaseSpeed(odd ? 6.0f : 3.0f);
            chain->setEqualizerEnabled(round % 4 != 1);
            if (round % 16 == 5)
                chain->setEqualizerFilename(kCoefficientFile);
            if (round % 16 == 13)
                chain->reloadEqualizer();
            if (round % 8 == 3)
                chain->resetAgcGain();
            if (round % 8 == 7)
                chain->resetAgcMaxGain();
            volatile bool seen = chain->isAgcEnabled() && chain->isEqualizerEnabled();
            volatile float maxGain = chain->getAgcMaxGainDb();
            (void)seen;
            (void)maxGain;
            setterRounds.store(round + 1);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });

    // Reloads back to back on a thread of their own, now and then from a
    // file that does not exist (which leaves the equalizer off until the
    // control thread switches it on again, with no section).
    std::thread reloader([&] {
        for (std::size_t round = 0; producing.load(); ++round) {
            if (round % 5 == 4)
                chain->setEqualizerFilename(kCoefficientFile + ".missing");
            else if (round % 2 == 0)
                chain->setEqualizerFilename(kCoefficientFile);
            else
                chain->reloadEqualizer();
            volatile bool seen = chain->isEqualizerEnabled();
            (void)seen;
        }
    });

    producer.join();
    control.join();
    reloader.join();
    consumer.join();
    return outcome;
}

}  // namespace

TEST(PlaybackProcessingConcurrency, PulledStreamIsTheInputDelayedWhileSettersRun) {
    struct Case {
        unsigned int Nblock;
        std::size_t total;
        std::size_t buffer;
    };
    for (const Case& c : {Case{1, 100000, 0}, Case{64, 250000, 0}, Case{1, 250000, 64}}) {
        SCOPED_TRACE("Nblock " + std::to_string(c.Nblock) + ", buffer " + std::to_string(c.buffer));
        const Outcome outcome = runThreeThreads(c.Nblock, c.total, c.buffer);
        ASSERT_EQ(outcome.pulled.size(), c.total - kHeldBack);
        for (std::size_t k = 0; k < outcome.pulled.size(); ++k) {
            ASSERT_EQ(outcome.pulled[k], streamValue(k))
                << "pull " << k << ": a sample lost, duplicated or reordered";
        }
        EXPECT_EQ(outcome.nonFiniteOutputs, 0u);
    }
}

TEST(PlaybackProcessingConcurrency, FullFifoDropsWholeBlocksWhileTheConsumerPulls) {
    // The producer runs flat out, so the FIFO keeps reaching its fill limit
    // and run decides "full" both without and under the FIFO mutex while the
    // consumer takes samples out. Whatever the interleaving, the pulled stream must
    // be whole blocks of the input in order, with only the last one cut by
    // the samples held back.
    const unsigned int Nblock = 16;
    const std::size_t blocks = 20000;
    auto chain = std::make_shared<PlaybackProcessing>("F", Nblock, 16000, ZIZO_Config());
    // 200 blocks overfill the FIFO before the consumer starts, and the
    // producer goes on only once the consumer has made room: so blocks are
    // certainly dropped, and certainly taken again, however the threads are
    // scheduled.
    const std::size_t overfill = 200;
    std::atomic<bool> producing{true}, overfilled{false};
    std::atomic<std::size_t> pulledCount{0};
    std::vector<float> pulled;
    pulled.reserve(blocks * Nblock);

    std::thread producer([&] {
        Eigen::ArrayXf in(Nblock), out(Nblock);
        for (std::size_t block = 0; block < blocks; ++block) {
            if (block == overfill) {
                overfilled.store(true);
                while (pulledCount.load() == 0)
                    std::this_thread::yield();
            }
            for (unsigned int i = 0; i < Nblock; ++i)
                in[i] = streamValue(block * Nblock + i);
            chain->run(in, out);
        }
        producing.store(false);
    });
    std::thread consumer([&] {
        while (!overfilled.load())
            std::this_thread::yield();
        for (;;) {
            const bool last = !producing.load();
            const float sample = chain->getNextInputSample();
            if (sample != 0.0f) {
                pulled.push_back(sample);
                pulledCount.store(pulled.size());
            } else if (last) {
                break;
            }
        }
    });
    producer.join();
    consumer.join();

    // Sample k was streamValue(k), an exact multiple of 2^-18.
    std::vector<std::size_t> perBlock(blocks, 0);
    std::size_t previous = 0;
    for (std::size_t n = 0; n < pulled.size(); ++n) {
        const std::size_t k = std::size_t(std::ldexp(pulled[n], 18)) - 1;
        ASSERT_LT(k, blocks * Nblock);
        if (n > 0) {
            ASSERT_GT(k, previous) << "pull " << n << ": out of order or duplicated";
        }
        if (k % Nblock != 0 && n > 0) {
            ASSERT_EQ(k, previous + 1) << "pull " << n << ": a block was cut";
        }
        ++perBlock[k / Nblock];
        previous = k;
    }
    ASSERT_FALSE(pulled.empty());
    EXPECT_EQ(pulled[0], streamValue(0));
    std::size_t dropped = 0, takenAfterADrop = 0;
    const std::size_t lastBlock = previous / Nblock;
    for (std::size_t block = 0; block < lastBlock; ++block) {
        ASSERT_TRUE(perBlock[block] == 0 || perBlock[block] == Nblock) << "block " << block;
        dropped += perBlock[block] == 0;
        takenAfterADrop += dropped > 0 && perBlock[block] == Nblock;
    }
    EXPECT_GT(dropped, 0u) << "the FIFO never filled: the test proves nothing";
    EXPECT_GT(takenAfterADrop, 0u) << "nothing got in after the FIFO first filled";
}
