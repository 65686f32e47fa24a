#include "AgcLevelDbBounds.h"

#include <algorithm>
#include <cmath>

namespace lyrane {

namespace {
const double kDbPerOctave = 6.020599913279624;  // 20 log10(2)
const int kBiasedExponentOfOne = 127;
}  // namespace

LevelDbSlices::LevelDbSlices() {
    // The margin's relative part, 2^-20, and its absolute part in dB as the
    // float the bounds were first derived with.
    const double relativeMargin = std::ldexp(1.0, -20);
    const double absoluteMargin_db = static_cast<double>(3.5e-5f);
    // Beyond the octave's own range by far more than the chord's rounding.
    const double rangeCushion_db = 1e-3;
    for (unsigned int e = 0; e < kBinaryExponents; ++e) {
        const double bottom_db = kDbPerOctave * (static_cast<int>(e) - kBiasedExponentOfOne);
        octaveDb[e] = static_cast<float>(bottom_db);
        const double largest_db =
            std::max(std::fabs(bottom_db), std::fabs(bottom_db + kDbPerOctave)) + rangeCushion_db;
        // Rounded up: never below the margin of any value in the octave.
        marginDb[e] = std::nextafter(
            static_cast<float>(largest_db * relativeMargin + absoluteMargin_db), 1.0f);
    }
    const double step = std::ldexp(1.0, -static_cast<int>(kMantissaBits));
    for (unsigned int i = 0; i < kSlices; ++i) {
        const double start = 1.0 + static_cast<double>(i) / kSlices;
        const double end = 1.0 + static_cast<double>(i + 1) / kSlices;
        const double startDb = 20.0 * std::log10(start);
        sliceStartDb[i] = static_cast<float>(startDb);
        slopePerStep[i] =
            static_cast<float>((20.0 * std::log10(end) - startDb) / (end - start) * step);
    }
}

const LevelDbSlices kLevelDbSlices;

}  // namespace lyrane
