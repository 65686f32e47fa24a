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
    uint32_t below = 0;
    uint32_t atOrAbove = kInfinityBits;  // levelDbOf(+inf) is +inf
    while (atOrAbove - below > 1) {
        const uint32_t middle = below + (atOrAbove - below) / 2;
        if (levelDbOf(floatOfBits(middle)) < targetDb) {
            below = middle;
        } else {
            atOrAbove = middle;
        }
    }
    return floatOfBits(below);
}

}  // namespace lyrane
