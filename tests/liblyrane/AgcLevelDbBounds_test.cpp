// The bounds of the cheap logarithm against single precision's own
// 20 log10f, over every level the AGC's level follower takes.
#include "AgcLevelDbBounds.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>

#include "lyrane_detail/FloatBits.h"

namespace {

// Checks low <= 20 log10f(level) <= high; returns false on the first miss.
bool boundsHold(uint32_t bits) {
    const float level = lyrane::floatOfBits(bits);
    float low = 0.0f;
    float high = 0.0f;
    if (!lyrane::levelDbBounds(level, low, high)) {
        ADD_FAILURE() << "no bounds for " << level;
        return false;
    }
    const float db = 20.0f * std::log10(level);
    if (!(low <= db && db <= high)) {
        ADD_FAILURE() << "level " << level << " (bits " << bits << "): " << db << " outside ["
                      << low << ", " << high << "]";
        return false;
    }
    return true;
}

}  // namespace

// Every float from 2^-20 (-120 dBFS, far below the -96 dB floor) to 2^6
// (+36 dBFS), where the level follower lives, and every 61st float of the
// whole positive normal range.
TEST(AgcLevelDbBounds, LevelDbBoundsHoldForEveryLevel) {
    const uint32_t from = lyrane::floatBits(std::ldexp(1.0f, -20));
    const uint32_t to = lyrane::floatBits(std::ldexp(1.0f, 6));
    for (uint32_t bits = from; bits <= to; ++bits) {
        ASSERT_TRUE(boundsHold(bits));
    }
    for (uint32_t bits = lyrane::kSmallestNormalBits; bits < lyrane::kInfinityBits; bits += 61) {
        ASSERT_TRUE(boundsHold(bits));
    }
    ASSERT_TRUE(boundsHold(lyrane::kInfinityBits - 1));  // the largest float

    // No bounds where the logarithm is not a finite number of a normal
    // level: those levels take the logarithm itself.
    float low = 1.0f;
    float high = 2.0f;
    for (float level :
         {0.0f, -0.0f, lyrane::floatOfBits(1), lyrane::floatOfBits(lyrane::kSmallestNormalBits - 1),
          -0.5f, std::numeric_limits<float>::infinity(), std::numeric_limits<float>::quiet_NaN()}) {
        EXPECT_FALSE(lyrane::levelDbBounds(level, low, high)) << level;
    }
    EXPECT_EQ(low, 1.0f);
    EXPECT_EQ(high, 2.0f);
}
