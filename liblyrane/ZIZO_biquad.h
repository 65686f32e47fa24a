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

#include "lyrane_detail/BiquadKernel.h"
#include "lyrane_detail/SubnormalStates.h"

class PlaybackProcessing;

template <typename T>
class ZIZO_biquad {
  public:
    ZIZO_biquad(const std::string& name, const std::vector<T>& coefficients);

    // Filters one sample (lyrane_detail/BiquadKernel.h). Defined here so the
    // equalizer's cascade loop can inline it.
    T processSample(T x) { return lyrane::biquadSample(c, state, x); }

    // Sets a state below the smallest normal value to zero (see
    // SubnormalStates.h).
    void flushSubnormalState() {
        lyrane::flushSubnormal(state.w1);
        lyrane::flushSubnormal(state.w2);
    }

    // Zero state: the next output is b0 * x.
    void reset() { state = {T(0), T(0)}; }

    // True when both poles (roots of z^2 + a1 z + a2) lie strictly inside
    // the unit circle. A non-number coefficient is not stable.
    bool isStable() const;

    // The coefficients in use, b0, b1, b2, a1, a2: those given, or unity's
    // after a refusal.
    std::array<T, 5> getCoefficients() const { return {c.b0, c.b1, c.b2, c.a1, c.a2}; }

    static log4cxx::LoggerPtr AC_Biquad_logger;

  private:
    // The chain's run of one-sample blocks keeps this block's state in
    // locals for a whole host buffer.
    friend class PlaybackProcessing;

    void setUnity();

    lyrane::BiquadCoefficients<T> c;
    lyrane::BiquadState<T> state;
    std::string name;
};

extern template class ZIZO_biquad<float>;

#endif  // ZIZO_BIQUAD_H
