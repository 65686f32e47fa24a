// Whole runs of the AGC against a per-sample model written from the
// formulas, bit for bit.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "AgcLevelBins.h"
#include "ZIZO_agc.h"

namespace {

uint32_t bitsOf(float x) {
    uint32_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return bits;
}

}  // namespace

// ---------------------------------------------------------------------------
// Whole runs against a model of the block written from the formulas, one
// sample at a time, with every setting and reset changing between blocks.

namespace {

struct Model {
    unsigned int fs;
    float target = -6.0f;
    float maxGain = 35.0f;
    float configuredMax = 35.0f;
    bool reduce = false;
    float levelCoef;
    float pGain = 1.0f;
    float maxAmp = 0.95f;
    float duckCoef;
    uint32_t hold;
    float release;
    float hpA;
    float hpB;

    float gain = 0.0f;
    float duck = 1.0f;
    float level = 0.1f;
    uint32_t nonspeech = 0;
    float hpIn = 0.0f;
    float hpOut = 0.0f;
    std::array<uint32_t, 32> bins{};
    uint32_t counted = 0;
    int reductions = 0;
    long samplesAtMaximum = 0;

    explicit Model(unsigned int rate)
        : fs(rate),
          levelCoef(std::exp(-1.0f / (float(rate) * 1.5f))),
          duckCoef(std::exp(-1.0f / (float(rate) * 0.1f))),
          hold(uint32_t(float(rate) * 1.0f)),
          release(3.0f / float(rate)),
          hpA(std::exp(-100.0f / float(rate))),
          hpB(0.5f + 0.5f * hpA) {}

    float sample(float x, bool speech) {
        const float applied = duck * ZIZO_agc::gainFactor(gain);
        const float y = applied * x;
        const float a = std::fabs(y);
        if (a > maxAmp) {
            duck = duck * maxAmp / a;
        } else {
            duck = 1.0f + (duck - 1.0f) * duckCoef;
        }
        if (std::isfinite(a)) {
            const float s = level * levelCoef + (1.0f - levelCoef) * a;
            level = s >= a ? s : a;
        }
        float levelDb = 20.0f * std::log10(level);
        if (levelDb < -96.0f || std::isnan(levelDb)) {
            levelDb = -96.0f;
        }
        if (reduce) {
            const float h = hpA * hpOut + hpB * (x - hpIn);
            if (std::isfinite(h)) {
                hpIn = x;
                hpOut = h;
            }
            ++bins[lyrane::levelBinByLogarithm(h)];
        }
        const float error = target - levelDb;
        if (speech) {
            float g = gain + (pGain / float(fs)) * error;
            if (g > maxGain) {
                g = maxGain;
            }
            if (g < -configuredMax) {
                g = -configuredMax;
            }
            gain = g;
            nonspeech = 0;
            samplesAtMaximum += g == maxGain;
        } else {
            ++nonspeech;
            if (nonspeech > hold) {
                gain = gain > 0.0f ? gain - release : gain + release;
            }
        }
        float r = y <= maxAmp ? y : maxAmp;
        if (-maxAmp >= r) {
            r = -maxAmp;
        }
        return r;
    }

    void blockEnd(unsigned int Nblock) {
        if (!reduce) {
            return;
        }
        counted += Nblock;
        if (counted > fs) {
            const float limit = std::ceil(maxGain * 0.33333334f);
            uint32_t sum = 0;
            for (uint32_t j = 0; j < 32 && float(j) < limit; ++j) {
                sum += bins[j];
                if (float(counted) * 0.001f < float(sum)) {
                    maxGain = float(3 * j);
                    ++reductions;
                    break;
                }
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
            model.target = t;
            break;
        }
        case 1: {
            const float g = 3.0f + 40.0f * unit(random);
            agc.setMaxGainDb(-g);
            model.maxGain = model.configuredMax = g;
            break;
        }
        case 2:
            agc.resetMaxGain();
            model.maxGain = model.configuredMax;
            model.bins.fill(0);
            model.counted = 0;
            break;
        case 3:
            agc.resetGain();
            model.gain = 0.0f;
            model.duck = 1.0f;
            model.level = 0.1f;
            break;
        case 4: {
            const float amp = 0.3f + unit(random);
            agc.setMaxAmp(amp);
            model.maxAmp = amp;
            break;
        }
        case 5: {
            const float tau = 0.01f + 2.0f * unit(random);
            agc.setTauLevel(tau);
            model.levelCoef = std::exp(-1.0f / (float(model.fs) * tau));
            break;
        }
        case 6: {
            const float tau = 0.01f + 0.3f * unit(random);
            agc.setTauDuck(tau);
            model.duckCoef = std::exp(-1.0f / (float(model.fs) * tau));
            break;
        }
        case 7: {
            const float time = 0.5f * unit(random);
            agc.setNonspeechHoldGainTime(time);
            model.hold = uint32_t(float(model.fs) * time);
            break;
        }
        case 8: {
            const float speed = 1.0f + 20.0f * unit(random);
            agc.setNonspeechReleaseSpeed(speed);
            model.release = speed / float(model.fs);
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
            EXPECT_EQ(bitsOf(target[i]), bitsOf(expected[i])) << "sample " << n + i;
        }
        EXPECT_EQ(bitsOf(agc.getGainDb()), bitsOf(model.gain)) << "after sample " << n;
        EXPECT_EQ(bitsOf(agc.getDuckGain()), bitsOf(model.duck)) << "after sample " << n;
        EXPECT_EQ(bitsOf(agc.getLevel()), bitsOf(model.level)) << "after sample " << n;
        EXPECT_EQ(agc.getMaxGainDb(), model.maxGain) << "after sample " << n;
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
