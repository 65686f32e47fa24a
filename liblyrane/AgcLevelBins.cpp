#include "AgcLevelBins.h"

#include <algorithm>
#include <cmath>

namespace lyrane {

namespace {

// Levels are clamped to just above the 32nd bin's lower edge so that silence
// lands in bin 31.
const float kBinFloor_db = -95.9f;
const float kBinsPerDb = 0.33333334f;

// Bisection between 0 (bin 31) and +infinity (bin 0).
uint32_t firstBitsBelowBin(unsigned int k) {
    return firstBitsWhere(0, kInfinityBits, [k](uint32_t bits) {
        return levelBinByLogarithm(floatOfBits(bits)) < k;
    });
}

}  // namespace

unsigned int levelBinByLogarithm(float sample) {
    float d = 20.0f * std::log10(std::fabs(sample));
    if (d < kBinFloor_db || std::isnan(d)) {
        d = kBinFloor_db;
    }
    if (d > 0.0f) {
        d = 0.0f;
    }
    return static_cast<unsigned int>(-static_cast<int>(std::ceil(d * kBinsPerDb)));
}

LevelBinTable::LevelBinTable() {
    for (unsigned int e = 0; e < kBinaryExponents; ++e) {
        const uint32_t bottom = e << kMantissaBits;
        octaves[e].bottomBin = levelBinByLogarithm(floatOfBits(bottom));
        octaves[e].edges.fill(UINT32_MAX);  // never reached
    }
    for (unsigned int k = 1; k < kAgcLevelBins; ++k) {
        const uint32_t edge = firstBitsBelowBin(k);
        Octave& octave = octaves[edge >> kMantissaBits];
        // An edge at the bottom of its octave is counted in bottomBin.
        if ((edge & ((1u << kMantissaBits) - 1)) != 0) {
            auto free = std::find(octave.edges.begin(), octave.edges.end(), UINT32_MAX);
            *free = edge;
        }
    }
}

const LevelBinTable& levelBinTable() {
    static const LevelBinTable table;
    return table;
}

}  // namespace lyrane
