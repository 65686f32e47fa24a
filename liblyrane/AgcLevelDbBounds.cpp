#include "AgcLevelDbBounds.h"

namespace lyrane {

namespace {
const double kDbPerOctave = 6.020599913279624;  // 20 log10(2)
const int kBiasedExponentOfOne = 127;
}  // namespace

LevelDbSlices::LevelDbSlices() {
    for (unsigned int e = 0; e < kBinaryExponents; ++e) {
        octaveDb[e] =
            static_cast<float>(kDbPerOctave * (static_cast<int>(e) - kBiasedExponentOfOne));
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
