// Whole runs of the AGC against a per-sample model of its kernels, bit for
// bit: the block's shortcuts, its settings hand-over and its requests between
// blocks change nothing.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "AgcKernel.h"
#include "AgcLevelBins.h"
#include "ZIZO_agc.h"
#include "lyrane_detail/FloatBits.h"

// ---------------------------------------------------------------------------
// Whole runs against the model, one sample at a time, with every setting and
// reset changing between blocks.

namespace {

// The AGC's kernels with every formula evaluated as written (a logarithm per
// level and per bin, the scan on every block), and the settings applied
// directly; the block takes its shortcuts and hands its settings over.
struct Model {
    unsigned int fs;
    bool reduce = false;
    lyrane::AgcSampleSettings p;
    lyrane::AgcLoopState s{0.0f, 1.0f, 0.1f, 0, 0.0f, 0};
    lyrane::HighPassCoefficients hp;
    lyrane::HighPassState hpState{0.0f, 0.0f};
    std::array<uint32_t, 32> bins{};
    uint32_t counted = 0;
    int reductions = 0;
    long samplesAtMaximum = 0;

    explicit Model(unsigned int rate) : fs(rate) {
        p.maxAmp = 0.95f;
        p.levelCoef = std::exp(-1.0f / (float(rate) * 1.5f));
        p.duckCoef = std::exp(-1.0f / (float(rate) * 0.1f));
        p.levelBelowTargetMax = std::numeric_limits<float>::quiet_NaN();
        p.law = {-6.0f, 1.0f / float(rate), 35.0f, 35.0f};
        p.holdSamples = uint32_t(float(rate) * 1.0f);
        p.releaseStepDb = 3.0f / float(rate);
        hp.a = std::exp(-100.0f / float(rate));
        hp.b = 0.5f + 0.5f * hp.a;
    }

    float sample(float x, bool speech) {
        using lyrane::Arithmetic;
        if (reduce) {
            uint32_t inScan = 0;
            lyrane::countLevel<Arithmetic::Written>(hp, hpState, lyrane::levelBinTable(),
                                                    bins.data(), 0, inScan, x);
        }
        bool ducked = false;
        const float r = lyrane::agcSample<Arithmetic::Written>(p, s, x, speech, ducked);
        samplesAtMaximum += speech && s.gainDb == p.law.maxGainDb;
        return r;
    }

    void blockEnd(unsigned int Nblock) {
        if (!reduce) {
            return;
        }
        counted += Nblock;
        if (counted > fs) {
            uint32_t total = 0;
            const uint32_t scanned = lyrane::scanBinsBelow(p.law.maxGainDb, bins.data(), total);
            const int j = lyrane::overdrivenBin(bins.data(), scanned, counted);
            if (j >= 0) {
                p.law.maxGainDb = float(3 * j);
                ++reductions;
            }
        }
        if (counted > 3 * fs) {
            bins.fill(0);
            counted = 0;
        }
    }
};

// Three-second segments of tones and noise at levels from -80 to +6 dBFS,
// with a few non-finite samples.
float nextSample(std::mt19937& random, uint64_t n, float& amplitude, float& frequency) {
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    if (n % 48000 == 0) {
        amplitude = std::pow(10.0f, (unit(random) * 86.0f - 80.0f) / 20.0f);
        frequency = 50.0f + 3000.0f * unit(random);
    }
    if (unit(random) < 1e-5f) {
        return std::numeric_limits<float>::quiet_NaN();
    }
    const float tone = std::sin(float(n) * frequency * 3.9269908e-4f);  // 2 pi / 16000
    return amplitude * (n % 7200 < 4800 ? tone : unit(random) * 2.0f - 1.0f);
}

// One random change of settings, applied to both.
void changeSomething(std::mt19937& random, ZIZO_agc& agc, Model& model) {
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    switch (random() % 11) {
        case 0: {
            const float t = -40.0f + 40.0f * unit(random);
            agc.setTargetLevelDb(t);
            model.p.law.targetLevelDb = t;
            break;
        }
        case 1: {
            const float g = 3.0f + 40.0f * unit(random);
            agc.setMaxGainDb(-g);
            model.p.law.maxGainDb = model.p.law.configuredMaxGainDb = g;
            break;
        }
        case 2:
            agc.resetMaxGain();
            model.p.law.maxGainDb = model.p.law.configuredMaxGainDb;
            model.bins.fill(0);
            model.counted = 0;
            break;
        case 3:
            agc.resetGain();
            model.s.gainDb = 0.0f;
            model.s.duckGain = 1.0f;
            model.s.level = 0.1f;
            break;
        case 4: {
            const float amp = 0.3f + unit(random);
            agc.setMaxAmp(amp);
            model.p.maxAmp = amp;
            break;
        }
        case 5: {
            const float tau = 0.01f + 2.0f * unit(random);
            agc.setTauLevel(tau);
            model.p.levelCoef = std::exp(-1.0f / (float(model.fs) * tau));
            break;
        }
        case 6: {
            const float tau = 0.01f + 0.3f * unit(random);
            agc.setTauDuck(tau);
            model.p.duckCoef = std::exp(-1.0f / (float(model.fs) * tau));
            break;
        }
        case 7: {
            const float time = 0.5f * unit(random);
            agc.setNonspeechHoldGainTime(time);
            model.p.holdSamples = uint32_t(float(model.fs) * time);
            break;
        }
        case 8: {
            const float speed = 1.0f + 20.0f * unit(random);
            agc.setNonspeechReleaseSpeed(speed);
            model.p.releaseStepDb = speed / float(model.fs);
            break;
        }
        default:
            model.reduce = !model.reduce;
            agc.setDecreaseMaxGain(model.reduce);
            break;
    }
}

// Returns the model, to show which parts of the law the run went through.
Model compareRun(unsigned int Nblock, uint32_t seed) {
    SCOPED_TRACE("Nblock " + std::to_string(Nblock) + ", seed " + std::to_string(seed));
    const unsigned int fs = 16000;
    ZIZO_Config config;
    config.set<bool>("enabled", true);
    ZIZO_agc agc("exact", Nblock, fs, config);
    Model model(fs);
    std::mt19937 random(seed);
    std::vector<float> in(Nblock), out(Nblock);
    float amplitude = 0.1f, frequency = 440.0f;
    bool speech = true;
    uint64_t n = 0;
    const uint64_t kSamples = 40ull * fs;
    for (uint64_t block = 0; n + Nblock <= kSamples; ++block) {
        // About one change a second, and two seconds of speech or pause.
        if (random() % fs < Nblock) {
            changeSomething(random, agc, model);
        }
        if (random() % (2 * fs) < Nblock) {
            speech = !speech;
        }
        for (unsigned int i = 0; i < Nblock; ++i) {
            in[i] = nextSample(random, n + i, amplitude, frequency);
        }
        // In place for odd blocks, as the chain runs it.
        float* const target = block % 2 ? in.data() : out.data();
        std::vector<float> expected(Nblock);
        for (unsigned int i = 0; i < Nblock; ++i) {
            expected[i] = model.sample(in[i], speech);
        }
        model.blockEnd(Nblock);
        agc.run(in.data(), target, speech);
        for (unsigned int i = 0; i < Nblock; ++i) {
            EXPECT_EQ(lyrane::floatBits(target[i]), lyrane::floatBits(expected[i]))
                << "sample " << n + i;
        }
        EXPECT_EQ(lyrane::floatBits(agc.getGainDb()), lyrane::floatBits(model.s.gainDb))
            << "after sample " << n;
        EXPECT_EQ(lyrane::floatBits(agc.getDuckGain()), lyrane::floatBits(model.s.duckGain))
            << "after sample " << n;
        EXPECT_EQ(lyrane::floatBits(agc.getLevel()), lyrane::floatBits(model.s.level))
            << "after sample " << n;
        EXPECT_EQ(agc.getMaxGainDb(), model.p.law.maxGainDb) << "after sample " << n;
        if (::testing::Test::HasFailure()) {
            return model;
        }
        n += Nblock;
    }
    return model;
}

}  // namespace

TEST(ZIZO_agc_exact, RunsMatchTheFormulasSampleForSample) {
    for (unsigned int Nblock : {160u, 1u, 37u}) {
        const Model model = compareRun(Nblock, Nblock);
        ASSERT_FALSE(::testing::Test::HasFailure());
        // The runs lowered the maximum and reached it.
        EXPECT_GT(model.reductions, 0);
        EXPECT_GT(model.samplesAtMaximum, 1000);
    }
}
