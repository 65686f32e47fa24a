// The gain law computed from the bounds of the cheap logarithm against the
// formula with the logarithm itself, bit for bit.
#include "AgcGainLaw.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>

#include "lyrane_detail/FloatBits.h"

// Millions of random states of the gain law: levels over the whole range
// the follower takes, gains near 0 dB (where the gain's last place is finest
// and the bounds disagree most) and far from it, at the loop steps of 8 to
// 48 kHz and at steps of a whole dB per dB, with and without the upper
// clamp in reach.
TEST(AgcGainLaw, SpeechGainLawIsTheFormulaBitForBit) {
    std::mt19937 random(20261207u);
    std::uniform_int_distribution<uint32_t> levelBits(lyrane::floatBits(1e-7f),
                                                      lyrane::floatBits(4.0f));
    std::uniform_real_distribution<float> wideGain(-40.0f, 40.0f);
    std::uniform_real_distribution<float> nearZero(-1e-3f, 1e-3f);
    std::uniform_real_distribution<float> target(-50.0f, 0.0f);
    const std::array<float, 5> steps = {1.0f / 8000, 1.0f / 16000, 1.0f / 48000, 0.25f, 1.0f};
    const std::array<float, 3> maxima = {35.0f, 9.0f, 0.001f};
    const int kStates = 3000000;
    int atLimit = 0;
    for (int i = 0; i < kStates; ++i) {
        const lyrane::GainLaw law{target(random), steps[i % steps.size()],
                                  maxima[(i / 5) % maxima.size()], 35.0f};
        const float prevGain = (i % 3 == 0) ? nearZero(random) : wideGain(random);
        const float level = lyrane::floatOfBits(levelBits(random));
        const float expected = lyrane::speechGainDbByLogarithm(law, prevGain, level);
        const float got = lyrane::speechGainDb(law, prevGain, level);
        ASSERT_EQ(lyrane::floatBits(got), lyrane::floatBits(expected))
            << "prev " << prevGain << " level " << level << " target " << law.targetLevelDb
            << " step " << law.gainStepPerDb << " max " << law.maxGainDb;
        atLimit += expected == law.maxGainDb || expected == -law.configuredMaxGainDb;
    }
    // Most states move the gain freely: the law itself is exercised.
    EXPECT_LT(atLimit, kStates / 2);

    // Levels that the bounds do not cover, and the -96 dB floor.
    const lyrane::GainLaw law{-6.0f, 1.0f / 16000, 35.0f, 35.0f};
    for (float level :
         {0.0f, lyrane::floatOfBits(1), 1e-5f, 1.5848e-5f, 1.5849e-5f,
          std::numeric_limits<float>::infinity(), std::numeric_limits<float>::quiet_NaN()}) {
        EXPECT_EQ(lyrane::floatBits(lyrane::speechGainDb(law, 3.0f, level)),
                  lyrane::floatBits(lyrane::speechGainDbByLogarithm(law, 3.0f, level)))
            << level;
    }
}

// The factor with its scaling by 2^23 folded in against the formula as
// written, bit for bit: every 97th bit pattern of all floats, NaN and the
// infinities, and every float around 0 dB and around both clamps' edges.
TEST(AgcGainLaw, ScaledGainFactorIsTheFormulaBitForBit) {
    // Reports the first difference only.
    const auto same = [](float gainDb) {
        const uint32_t scaled = lyrane::floatBits(lyrane::gainFactorScaled(gainDb));
        const uint32_t written = lyrane::floatBits(lyrane::gainFactor(gainDb));
        EXPECT_EQ(scaled, written) << gainDb << " dB (bits " << lyrane::floatBits(gainDb) << ")";
        return scaled == written;
    };
    for (uint64_t bits = 0; bits <= 0xffffffffu; bits += 97) {
        ASSERT_TRUE(same(lyrane::floatOfBits(static_cast<uint32_t>(bits))));
    }
    for (const float edge : {0.0f, lyrane::kGainLog2Min / lyrane::kGainDbToLog2,
                             lyrane::kGainLog2Max / lyrane::kGainDbToLog2}) {
        for (const float from : {edge, -edge}) {
            float gainDb = from;
            for (int k = 0; k < 100000; ++k) {
                ASSERT_TRUE(same(gainDb));
                gainDb = std::nextafter(gainDb, std::numeric_limits<float>::infinity());
            }
            gainDb = from;
            for (int k = 0; k < 100000; ++k) {
                ASSERT_TRUE(same(gainDb));
                gainDb = std::nextafter(gainDb, -std::numeric_limits<float>::infinity());
            }
        }
    }
}

// The level below which a speech sample leaves a gain at the maximum: the
// largest level whose floored level in dB is below the target.
TEST(AgcGainLaw, LargestLevelBelowTheTarget) {
    const float below = lyrane::largestLevelBelow(-6.0f);
    EXPECT_LT(lyrane::levelDbOf(below), -6.0f);
    EXPECT_GE(lyrane::levelDbOf(std::nextafter(below, 1.0f)), -6.0f);
    EXPECT_NEAR(below, 0.5011872f, 1e-6f);                       // 10^(-6/20)
    EXPECT_TRUE(std::isnan(lyrane::largestLevelBelow(-96.0f)));  // the floor is never below -96
}
