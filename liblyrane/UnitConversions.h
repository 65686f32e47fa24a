// Unit conversions shared by the processing blocks, in single precision and
// in a fixed order of operations: the order decides the rounding, and the
// blocks' configurations are tuned against their outputs bit for bit.
// Internal to the library; not installed.
#ifndef LYRANE_UNITCONVERSIONS_H
#define LYRANE_UNITCONVERSIONS_H

#include <cmath>
#include <cstdint>
#include <limits>

namespace lyrane {

// Per-sample coefficient of a one-pole smoother with time constant tau_s
// seconds at fs Hz: exp(-1 / (fs * tau)).
inline float smoothingCoef(unsigned int fs, float tau_s) {
    return std::exp(-1.0f / (static_cast<float>(fs) * tau_s));
}

// Linear factor of a level in dB: 10 ^ (dB * 0.05).
inline float dbToFactor(float db) {
    return std::pow(10.0f, db * 0.05f);
}

// Truncation to an unsigned 32-bit count. Negative and NaN give 0, values
// past the range saturate, so no conversion is undefined.
inline std::uint32_t toCount(float value) {
    if (!(value > 0.0f)) {
        return 0;
    }
    if (value >= 4294967296.0f) {
        return std::numeric_limits<std::uint32_t>::max();
    }
    return static_cast<std::uint32_t>(value);
}

}  // namespace lyrane

#endif
