// The AGC's level bins: which of 32 bins of 3 dB a high-passed sample's level
// falls in, for the histogram that lowers the maximum gain.
//
// Bin k holds levels in (-3k-3, -3k] dBFS; bin 0 also every level above 0 dB
// and the infinities, bin 31 every level at or below -93 dB, silence and NaN.
// levelBinByLogarithm is the defining formula,
// -ceil(clamp(20 log10 |sample|, -95.9, 0) x 0.33333334); LevelBinTable gives
// the same bin for every float without a logarithm.
//
// Internal to the library and its tests; not installed.
#ifndef LYRANE_AGCLEVELBINS_H
#define LYRANE_AGCLEVELBINS_H

#include <array>
#include <cstdint>

#include "lyrane_detail/FloatBits.h"

namespace lyrane {

constexpr unsigned int kAgcLevelBins = 32;

unsigned int levelBinByLogarithm(float sample);

// The bins as a function of the magnitude's bit pattern. The formula's bin
// falls by one at each of 31 edges (the smallest magnitude whose bin is below
// k, for k = 1 .. 31), found by bisection over the bit patterns, which is
// exact because the formula is monotone in the magnitude. The edges are filed
// by binary exponent: within one octave (6.02 dB) lie at most three edges
// 3 dB apart, so a magnitude's bin is the bin at the bottom of its octave
// less the edges of that octave it has reached: one load and three integer
// comparisons instead of a logarithm and a ceiling.
class LevelBinTable {
  public:
    LevelBinTable();

    unsigned int bin(float sample) const {
        const uint32_t bits = magnitudeBits(sample);
        if (bits > kInfinityBits) {
            return kAgcLevelBins - 1;  // NaN: the formula's silent bin
        }
        const Octave& octave = octaves[bits >> kMantissaBits];
        return octave.bottomBin - (bits >= octave.edges[0]) - (bits >= octave.edges[1]) -
               (bits >= octave.edges[2]);
    }

  private:
    struct Octave {
        unsigned int bottomBin = 0;
        std::array<uint32_t, 3> edges{};
    };
    std::array<Octave, kBinaryExponents> octaves;
};

// Built once per process on first use; the same for every block and rate.
const LevelBinTable& levelBinTable();

}  // namespace lyrane

#endif  // LYRANE_AGCLEVELBINS_H
