#include "AgcGainLaw.h"

#include <limits>

namespace lyrane {

// Bisection over the bit patterns of 0 .. +infinity is exact because
// levelDbOf is monotone in the level; a negative level (never produced) has
// the floor's value, the smallest one, and passes the comparison level <=
// result exactly when 0 does.
float largestLevelBelow(float targetDb) {
    if (!(levelDbOf(0.0f) < targetDb)) {
        return std::numeric_limits<float>::quiet_NaN();
    }
    // levelDbOf(+inf) is +inf.
    const uint32_t atOrAbove = firstBitsWhere(0, kInfinityBits, [targetDb](uint32_t bits) {
        return !(levelDbOf(floatOfBits(bits)) < targetDb);
    });
    return floatOfBits(atOrAbove - 1);
}

}  // namespace lyrane
