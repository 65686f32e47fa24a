// Bounds on a level in dB from a cheap logarithm, for the AGC's gain law:
// low_db <= 20 log10f(level) <= high_db, as single precision computes the
// logarithm and the product, for every positive normal finite level.
//
// level = 2^e x m with m in [1, 2), cut into 256 slices by the mantissa's top
// bits. Within a slice 20 log10(m) lies on or above its chord, by at most
// h^2 / 8 x 20 / ln(10) = 1.66e-5 dB (h = 1/256, the curvature largest at
// m = 1). The octave's dB plus the slice's start, the chord's slope times the
// position in the slice and their sum in single precision add a few units in
// the last place of the largest term (the octave's dB can exceed the result
// by one octave, 6.02 dB), and log10f and the product by 20 a few of the
// result. The margin, 3.5e-5 dB and 2^-20 (eight units) of the
// largest magnitude in dB the octave holds, covers all of these; it only
// needs to be small against the gain's units in the last place divided by
// the loop step, so that the bounds rarely straddle a rounding boundary of
// the gain. Single precision, a few table loads, a margin looked up rather
// than computed and no division keep the serial chain of the gain loop
// short.
//
// Internal to the library and its tests; not installed.
#ifndef LYRANE_AGCLEVELDBBOUNDS_H
#define LYRANE_AGCLEVELDBBOUNDS_H

#include <array>
#include <cmath>
#include <cstdint>

#include "lyrane_detail/FloatBits.h"

namespace lyrane {

struct LevelDbSlices {
    static constexpr unsigned int kSliceBits = 8;
    static constexpr unsigned int kSlices = 1u << kSliceBits;
    static constexpr unsigned int kInSliceBits = kMantissaBits - kSliceBits;

    LevelDbSlices();

    std::array<float, kBinaryExponents> octaveDb;  // by biased exponent
    // The margin of the bounds in the octave, by biased exponent.
    std::array<float, kBinaryExponents> marginDb;
    std::array<float, kSlices> sliceStartDb;
    // Chord slope per unit of the mantissa bits below the slice's.
    std::array<float, kSlices> slopePerStep;
};

// Built with the library, before any block can run.
extern const LevelDbSlices kLevelDbSlices;

// True with both bounds set for a positive normal finite level; false, both
// untouched, for any other level (those take the logarithm itself).
inline bool levelDbBounds(float level, float& lowDb, float& highDb) {
    constexpr unsigned int kSlices = LevelDbSlices::kSlices;
    constexpr unsigned int kInSliceBits = LevelDbSlices::kInSliceBits;
    const uint32_t bits = floatBits(level);
    if (bits - kSmallestNormalBits >= kInfinityBits - kSmallestNormalBits) {
        return false;
    }
    const unsigned int slice = (bits >> kInSliceBits) & (kSlices - 1);
    // Exact: fewer than 24 bits.
    const float inSlice = static_cast<float>(bits & ((1u << kInSliceBits) - 1));
    // The two table values are added while the product is formed.
    const float startDb =
        kLevelDbSlices.octaveDb[bits >> kMantissaBits] + kLevelDbSlices.sliceStartDb[slice];
    const float db = startDb + kLevelDbSlices.slopePerStep[slice] * inSlice;
    const float margin = kLevelDbSlices.marginDb[bits >> kMantissaBits];
    lowDb = db - margin;
    highDb = db + margin;
    return true;
}

}  // namespace lyrane

#endif  // LYRANE_AGCLEVELDBBOUNDS_H
