// One sample through one second-order section, direct form II (one shared
// delay line, not transposed), as an inline kernel over plain values: the
// section class, the equalizer's cascade and the playback floor all run it.
//
// Each product is rounded to T before it is added (built with
// -ffp-contract=off); the order of the additions is part of the result. If
// the internal signal turns non-finite (a NaN or infinite input, or an
// overflow), that sample's output is passed on as computed and the state
// starts again from zero, so one bad sample cannot silence or blow up the
// rest of the stream.
#ifndef LYRANE_DETAIL_BIQUADKERNEL_H
#define LYRANE_DETAIL_BIQUADKERNEL_H

#include <cmath>

namespace lyrane {

// H(z) = (b0 + b1 z^-1 + b2 z^-2) / (1 + a1 z^-1 + a2 z^-2).
template <typename T>
struct BiquadCoefficients {
    T b0, b1, b2;
    T a1, a2;
};

// The two previous values of the internal signal w, w1 the most recent.
template <typename T>
struct BiquadState {
    T w1, w2;
};

template <typename T>
inline T biquadSample(const BiquadCoefficients<T>& c, BiquadState<T>& s, T x) {
    const T w = (x - c.a1 * s.w1) - c.a2 * s.w2;
    const T y = ((c.b2 * s.w2) + c.b1 * s.w1) + c.b0 * w;
    if (std::isfinite(w)) {
        s.w2 = s.w1;
        s.w1 = w;
    } else {
        s.w1 = T(0);
        s.w2 = T(0);
    }
    return y;
}

}  // namespace lyrane

#endif  // LYRANE_DETAIL_BIQUADKERNEL_H
