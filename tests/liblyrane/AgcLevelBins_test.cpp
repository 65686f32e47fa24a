#include "AgcLevelBins.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "lyrane_detail/FloatBits.h"

// The table lookup must give the logarithm's bin for every float. The sweeps
// below also show that the logarithm's bin never rises with the magnitude,
// which the table's edges rely on.
namespace {

// The formula's bin edges, found independently of the table: every bit
// pattern at which the formula's bin changes from its predecessor's.
std::vector<uint32_t> formulaEdges() {
    std::vector<uint32_t> edges;
    const uint32_t step = 1u << 16;
    unsigned int previous = lyrane::levelBinByLogarithm(0.0f);
    for (uint32_t coarse = step; coarse <= lyrane::kInfinityBits; coarse += step) {
        const unsigned int bin = lyrane::levelBinByLogarithm(lyrane::floatOfBits(coarse));
        if (bin != previous) {
            // Bisection inside (coarse - step, coarse] for each change.
            for (unsigned int target = previous; target > bin; --target) {
                uint32_t low = coarse - step, high = coarse;
                while (high - low > 1) {
                    const uint32_t middle = low + (high - low) / 2;
                    if (lyrane::levelBinByLogarithm(lyrane::floatOfBits(middle)) < target) {
                        high = middle;
                    } else {
                        low = middle;
                    }
                }
                edges.push_back(high);
            }
            previous = bin;
        }
    }
    return edges;
}

}  // namespace

TEST(AgcLevelBins, TableMatchesTheLogarithmOverAllMagnitudes) {
    unsigned int previous = lyrane::kAgcLevelBins - 1;
    for (uint64_t bits = 0; bits <= lyrane::kInfinityBits; bits += 1024) {
        const float x = lyrane::floatOfBits(static_cast<uint32_t>(bits));
        const unsigned int expected = lyrane::levelBinByLogarithm(x);
        ASSERT_EQ(lyrane::levelBinTable().bin(x), expected) << "magnitude " << x;
        ASSERT_EQ(lyrane::levelBinTable().bin(-x), expected) << "magnitude " << x;
        ASSERT_LE(expected, previous) << "the bin rose at " << x;
        previous = expected;
    }
}

// Each edge sits at the level -3k dB of its bin: 10^(-3k/20) in double
// precision, give or take the single-precision logarithm's rounding.
TEST(AgcLevelBins, TableMatchesTheLogarithmAroundEveryEdge) {
    const std::vector<uint32_t> edges = formulaEdges();
    ASSERT_EQ(edges.size(), lyrane::kAgcLevelBins - 1);
    for (size_t k = 1; k <= edges.size(); ++k) {
        const uint32_t edge = edges[edges.size() - k];
        EXPECT_NEAR(lyrane::floatOfBits(edge), std::pow(10.0, -3.0 * k / 20.0),
                    4e-6 * std::pow(10.0, -0.15 * k))
            << "edge of bin " << k;
        EXPECT_EQ(lyrane::levelBinByLogarithm(lyrane::floatOfBits(edge)), k - 1);
        EXPECT_EQ(lyrane::levelBinByLogarithm(lyrane::floatOfBits(edge - 1)), k);
        for (uint32_t bits = edge - 4; bits <= edge + 4; ++bits) {
            const float x = lyrane::floatOfBits(bits);
            EXPECT_EQ(lyrane::levelBinTable().bin(x), lyrane::levelBinByLogarithm(x))
                << "magnitude " << x;
        }
    }
}

// Zero and subnormals are silent, levels above 0 dB and infinities loud, and
// NaN of any sign or payload silent.
TEST(AgcLevelBins, SpecialValuesLandInTheFormulasBins) {
    const float inf = std::numeric_limits<float>::infinity();
    const float values[] = {0.0f,
                            -0.0f,
                            std::numeric_limits<float>::denorm_min(),
                            lyrane::floatOfBits(0x007fffffu),  // largest subnormal
                            std::numeric_limits<float>::min(),
                            1.0f,
                            std::nextafter(1.0f, 0.0f),
                            std::numeric_limits<float>::max(),
                            inf,
                            -inf};
    const unsigned int bins[] = {31, 31, 31, 31, 31, 0, 0, 0, 0, 0};
    for (size_t i = 0; i < sizeof values / sizeof values[0]; ++i) {
        EXPECT_EQ(lyrane::levelBinTable().bin(values[i]), bins[i]) << values[i];
        EXPECT_EQ(lyrane::levelBinByLogarithm(values[i]), bins[i]) << values[i];
    }
    for (uint32_t nan : {0x7fc00000u, 0x7f800001u, 0x7fffffffu, 0xffc00000u, 0xff800001u}) {
        EXPECT_EQ(lyrane::levelBinTable().bin(lyrane::floatOfBits(nan)), 31u) << std::hex << nan;
        EXPECT_EQ(lyrane::levelBinByLogarithm(lyrane::floatOfBits(nan)), 31u) << std::hex << nan;
    }
}

// Expected bins: 20 log10 |h| by hand, 3 dB per bin, bin 0 from 0 dB up.
TEST(AgcLevelBins, BinsWorkedOutByHand) {
    EXPECT_EQ(lyrane::levelBinTable().bin(1.0f), 0u);
    EXPECT_EQ(lyrane::levelBinTable().bin(2.0f), 0u);
    EXPECT_EQ(lyrane::levelBinTable().bin(0.9f), 0u);      // -0.9 dB
    EXPECT_EQ(lyrane::levelBinTable().bin(0.7f), 1u);      // -3.1 dB
    EXPECT_EQ(lyrane::levelBinTable().bin(-0.5f), 2u);     // -6.0 dB
    EXPECT_EQ(lyrane::levelBinTable().bin(0.3f), 3u);      // -10.5 dB
    EXPECT_EQ(lyrane::levelBinTable().bin(2.5e-5f), 30u);  // -92.0 dB
    EXPECT_EQ(lyrane::levelBinTable().bin(2e-5f), 31u);    // -94.0 dB
    EXPECT_EQ(lyrane::levelBinTable().bin(0.0f), 31u);
    EXPECT_EQ(lyrane::levelBinTable().bin(std::numeric_limits<float>::infinity()), 0u);
    EXPECT_EQ(lyrane::levelBinTable().bin(-std::numeric_limits<float>::infinity()), 0u);
    EXPECT_EQ(lyrane::levelBinTable().bin(std::numeric_limits<float>::quiet_NaN()), 31u);
}

// The table gives what the formula gives: worked-out bins, a sweep of every
// magnitude, and the patterns around each edge at -3k dB.
TEST(AgcLevelBins, TableAgreesWithTheFormulaNearPowersOfTen) {
    const lyrane::LevelBinTable& edges = lyrane::levelBinTable();
    EXPECT_EQ(edges.bin(1.0f), 0u);
    EXPECT_EQ(edges.bin(2.0f), 0u);
    EXPECT_EQ(edges.bin(0.7f), 1u);   // -3.1 dB
    EXPECT_EQ(edges.bin(-0.5f), 2u);  // -6.02 dB
    EXPECT_EQ(edges.bin(0.0f), 31u);
    EXPECT_EQ(edges.bin(std::nanf("")), 31u);
    EXPECT_EQ(edges.bin(-INFINITY), 0u);
    for (uint32_t bits = 0; bits < lyrane::kInfinityBits; bits += 4099) {
        const float h = lyrane::floatOfBits(bits);
        ASSERT_EQ(edges.bin(h), lyrane::levelBinByLogarithm(h)) << h;
    }
    // Around each edge (-3k dB), where a table off by one pattern would show.
    for (int k = 1; k < 32; ++k) {
        const uint32_t edge = lyrane::floatBits(std::pow(10.0f, -3.0f * k / 20.0f));
        for (uint32_t bits = edge - 256; bits <= edge + 256; ++bits) {
            ASSERT_EQ(edges.bin(lyrane::floatOfBits(bits)),
                      lyrane::levelBinByLogarithm(lyrane::floatOfBits(bits)))
                << k;
        }
    }
}
