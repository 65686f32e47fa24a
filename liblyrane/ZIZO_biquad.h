#ifndef ZIZO_BIQUAD_H
#define ZIZO_BIQUAD_H

// One second-order recursive filter section, the building block of the
// equalizer cascade.
//
// Transfer function H(z) = (b0 + b1 z^-1 + b2 z^-2) / (1 + a1 z^-1 + a2 z^-2),
// computed in direct form II (one shared delay line, not transposed).
//
// Contract:
// - The constructor takes a name (used in log lines) and exactly five
//   coefficients in the order b0, b1, b2, a1, a2. Any other count gives an
//   ERROR record and a unity section; coefficients whose poles are not
//   strictly inside the unit circle give a WARN record and a unity section.
//   Neither is reported to the caller otherwise. Only allocation throws.
// - Coefficients never change after construction; only the state does.
// - processSample() filters one sample and advances the state. It allocates
//   nothing, logs nothing and may be called on the audio thread. If the
//   internal signal becomes non-finite (a NaN or infinite input, or an
//   overflow), that sample's output is passed on as computed and the section
//   starts again from zero state, so one bad sample cannot silence or blow up
//   the rest of the stream. With finite signals it is the plain recursion.
// - No lock: one thread at a time per section.
//
// Instantiated for float only (ZIZO_biquad.cpp).

#include <log4cxx/logger.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "lyrane_detail/SubnormalStates.h"

template <typename T>
class ZIZO_biquad {
  public:
    ZIZO_biquad(const std::string& name, const std::vector<T>& coefficients);

    // Defined here so the equalizer's cascade loop can inline it. Each
    // product is rounded to T before it is added (built with
    // -ffp-contract=off); the order of the additions is part of the result.
    T processSample(T x) {
        const T w = (x - a1 * w1) - a2 * w2;
        const T y = ((b2 * w2) + b1 * w1) + b0 * w;
        if (std::isfinite(w)) {
            w2 = w1;
            w1 = w;
        } else {
            w1 = T(0);
            w2 = T(0);
        }
        return y;
    }

    // Sets a state below the smallest normal value to zero (see
    // SubnormalStates.h).
    void flushSubnormalState() {
        lyrane::flushSubnormal(w1);
        lyrane::flushSubnormal(w2);
    }

    // Zero state: the next output is b0 * x.
    void reset() {
        w1 = T(0);
        w2 = T(0);
    }

    // True when both poles (roots of z^2 + a1 z + a2) lie strictly inside
    // the unit circle. A non-number coefficient is not stable.
    bool isStable() const;

    // The coefficients in use, b0, b1, b2, a1, a2: those given, or unity's
    // after a refusal.
    std::array<T, 5> getCoefficients() const { return {b0, b1, b2, a1, a2}; }

    static log4cxx::LoggerPtr AC_Biquad_logger;

  private:
    void setUnity();

    T b0, b1, b2;
    T a1, a2;
    T w1, w2;  // w1 is the most recent value of the internal signal
    std::string name;
};

extern template class ZIZO_biquad<float>;

#endif  // ZIZO_BIQUAD_H
