// Keeps decaying block states out of the subnormal range when the caller
// runs with gradual underflow.
//
// After speech, digital silence lets filter and tracker states decay
// geometrically into the subnormal range, where many of them stick (x * c
// rounds back to x for the smallest subnormals) and every sample then costs
// many times the normal arithmetic. A state below the smallest normal float
// is set to zero, as flush-to-zero mode would have stored it, so under that
// mode this never changes anything. The check runs once per
// kSubnormalCheckInterval samples: a state that turns subnormal costs at most
// that many slow samples, and a one-sample block pays a counter, not a
// comparison per state.
#ifndef LYRANE_DETAIL_SUBNORMALSTATES_H
#define LYRANE_DETAIL_SUBNORMALSTATES_H

#include <cfloat>
#include <cmath>
#include <cstdint>

namespace lyrane {

// 5.3 ms at 48 kHz.
constexpr uint32_t kSubnormalCheckInterval = 256;

// A zero of the state's sign, as flush-to-zero mode stores it.
inline void flushSubnormal(float& state) {
    if (std::fabs(state) < FLT_MIN) {
        state = std::copysign(0.0f, state);
    }
}

// Counts processed samples; due() says when the states should be checked.
class SubnormalCheckCountdown {
  public:
    bool due(uint32_t samples) {
        if (samples < remaining) {
            remaining -= samples;
            return false;
        }
        remaining = kSubnormalCheckInterval;
        return true;
    }

  private:
    uint32_t remaining = kSubnormalCheckInterval;
};

}  // namespace lyrane

#endif  // LYRANE_DETAIL_SUBNORMALSTATES_H
