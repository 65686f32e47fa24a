// A float's bit pattern and back, for arithmetic that works on the encoding
// (comparisons of magnitudes as integers, exponent fields, exact equality
// that tells -0 from +0 and compares NaNs).
#ifndef LYRANE_DETAIL_FLOATBITS_H
#define LYRANE_DETAIL_FLOATBITS_H

#include <cstdint>
#include <cstring>

namespace lyrane {

// For non-negative floats integer order is float order, with +infinity at
// kInfinityBits and the NaNs above it.
constexpr uint32_t kMagnitudeMask = 0x7fffffffu;
constexpr uint32_t kInfinityBits = 0x7f800000u;
constexpr uint32_t kSmallestNormalBits = 0x00800000u;
constexpr unsigned int kMantissaBits = 23;
constexpr unsigned int kBinaryExponents = 256;

inline uint32_t floatBits(float x) {
    uint32_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return bits;
}

inline float floatOfBits(uint32_t bits) {
    float x;
    std::memcpy(&x, &bits, sizeof x);
    return x;
}

inline uint32_t magnitudeBits(float x) {
    return floatBits(x) & kMagnitudeMask;
}

// Bisection over bit patterns: the first pattern in (low, high] at which
// holds(bits) is true, for a predicate false at low, true at high and
// changing once in between (monotone in the float's value, as patterns of
// one sign are ordered like their floats).
template <typename Predicate>
uint32_t firstBitsWhere(uint32_t low, uint32_t high, Predicate holds) {
    while (high - low > 1) {
        const uint32_t middle = low + (high - low) / 2;
        if (holds(middle)) {
            high = middle;
        } else {
            low = middle;
        }
    }
    return high;
}

}  // namespace lyrane

#endif  // LYRANE_DETAIL_FLOATBITS_H
