// The speech activity detector's arithmetic as inline kernels over plain
// values: the three trackers and the block's tests per sample, and the gate
// per block. The detector (ZIZO_sad) keeps the state from block to block and
// posts its records around these; the playback floor runs the same kernels.
//
// Internal to the library, its measurements and its tests; not installed.
#ifndef LYRANE_SADKERNEL_H
#define LYRANE_SADKERNEL_H

#include <array>
#include <cmath>
#include <cstdint>

namespace lyrane {

struct SadCoefficients {
    std::array<float, 5> coef;  // smoothing coefficients of tau1 .. tau5
    float threshOpen;
    float threshClose;
    float threshAbsolute;
};

struct SadTrackers {
    float envelope;
    float floorTrack;
    float floorSmooth;
};

// What the samples of one block showed.
struct SadBlockTests {
    bool closing = false;     // some ratio below threshClose
    bool ratioOpens = false;  // some ratio above threshOpen
    bool loudEnough = false;  // some envelope above threshAbsolute
    // The opening test: both, though possibly at different samples.
    bool opening() const { return ratioOpens && loudEnough; }
};

// Gate states; speech in OPEN and CLOSING.
enum SadGateState : int { kSadOpen = 0, kSadClosing = 1, kSadClosed = 2, kSadOpening = 3 };

// Keeps the ratio finite over a floor of exact silence.
constexpr float kSadRatioFloorOffset = 1e-6f;

// One step of an asymmetric one-pole tracker: riseCoef while the input is
// above the previous value, fallCoef otherwise (also when equal).
inline float track(float prev, float magnitude, float riseCoef, float fallCoef) {
    const float w = prev < magnitude ? riseCoef : fallCoef;
    return prev * w + (1.0f - w) * magnitude;
}

// One input sample: the trackers in cascade, then the block's tests on the
// envelope-to-floor ratio. A NaN or infinite sample would stay in all three
// trackers for good and no comparison would ever hold again; it is skipped.
inline void sadSample(const SadCoefficients& c, SadTrackers& t, SadBlockTests& tests, float x) {
    if (std::isfinite(x)) {
        t.envelope = track(t.envelope, std::fabs(x), c.coef[0], c.coef[1]);
        t.floorTrack = track(t.floorTrack, std::fabs(t.envelope), c.coef[4], c.coef[0]);
        t.floorSmooth = track(t.floorSmooth, std::fabs(t.floorTrack), c.coef[3], c.coef[2]);
    }
    const float r = t.envelope / (t.floorSmooth + kSadRatioFloorOffset);
    tests.closing |= r < c.threshClose;
    tests.ratioOpens |= r > c.threshOpen;
    tests.loudEnough |= t.envelope > c.threshAbsolute;
}

// One block's step of the four-state gate with hold counts in blocks:
//   CLOSED  -> OPENING  first block that passes the opening test
//   OPENING -> OPEN     after holdClosedBlocks further blocks that pass it;
//                       any block that fails it sends the gate back to CLOSED
//   OPEN    -> CLOSING  first block with the closing test
//   CLOSING -> CLOSED   after holdOpenBlocks further blocks that pass that;
//                       any block that fails it sends the gate back to OPEN
// A switch clears the counter. Returns false, with nothing changed, for a
// state outside 0 .. 3.
inline bool sadGateStep(int& state, uint32_t& counter, uint32_t holdOpenBlocks,
                        uint32_t holdClosedBlocks, bool closing, bool opening) {
    int next = state;
    switch (state) {
        case kSadOpen:
            next = closing ? kSadClosing : kSadOpen;
            break;
        case kSadClosing:
            next = !closing ? kSadOpen : (counter + 1 >= holdOpenBlocks ? kSadClosed : kSadClosing);
            break;
        case kSadClosed:
            next = opening ? kSadOpening : kSadClosed;
            break;
        case kSadOpening:
            next =
                !opening ? kSadClosed : (counter + 1 >= holdClosedBlocks ? kSadOpen : kSadOpening);
            break;
        default:
            return false;
    }
    if (next != state) {
        state = next;
        counter = 0;
    } else {
        ++counter;
    }
    return true;
}

}  // namespace lyrane

#endif  // LYRANE_SADKERNEL_H
