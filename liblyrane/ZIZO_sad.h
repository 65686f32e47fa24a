#ifndef ZIZO_SAD_H
#define ZIZO_SAD_H

// Speech activity detector: one speech decision per block of Nblock samples.
//
// Per sample, three one-pole trackers run in cascade on the input magnitude:
// a fast envelope (attack tau1, release tau2), a floor tracker of that
// envelope (falls with tau1, rises with tau5) and a smoothed floor (rises with
// tau4, falls with tau3). Per block, the envelope-to-floor ratio drives a
// four-state gate with hold counts in blocks:
//   CLOSED  -> OPENING  first block with some ratio > threshOpen and some
//                       envelope > threshAbsolute (the "opening test")
//   OPENING -> OPEN     after holdClosedBlocks further blocks that pass it;
//                       any block that fails it sends the gate back to CLOSED
//   OPEN    -> CLOSING  first block with some ratio < threshClose
//   CLOSING -> CLOSED   after holdOpenBlocks further blocks that pass that;
//                       any block that fails it sends the gate back to OPEN
// The decision (isSpeech) is true in OPEN and CLOSING. A hold count of 0
// behaves like 1.
//
// Configuration keys (without prefix; a key of another type than listed reads
// as 0 / false with the store's WARN record):
//   enabled (bool, false), tau1 .. tau5 (float s: 0.003, 0.04, 0.2, 1.0,
//   2.048), thresh_absolute_db (float dBFS, -60), thresh_open_db (float dB,
//   12), thresh_close_db (float dB, 2), hold_open_time (float s, 0.2),
//   hold_closed_time (float s, 0.032).
//
// Contract:
// - run() reads the first Nblock samples of its input. An input holding
//   fewer than Nblock samples is refused: it is logged at ERROR and nothing
//   is read or changed (state, trackers and decision stay as they were).
// - A non-finite input sample (NaN or infinite) is skipped: the trackers keep
//   their values for that sample, so one bad sample cannot freeze the gate.
//   Finite input follows the formulas exactly.
// - Disabled, run() does nothing: trackers, state and decision freeze.
// - setEnabled() logs at INFO on every call, also when nothing changes.
// - run(const float*) reads Nblock samples; the ArrayXf overload refuses a
//   short input as above.
// - run() allocates nothing and logs only the ERROR records above (and one
//   for a state outside 0..3, which only switchState can set), deferred:
//   posted without allocating or locking and emitted in order, with the same
//   logger, level, text and location, on the library's log thread or at the
//   latest when the detector is destroyed.
// - Results are those of the plain formulas bit for bit, in the processor's
//   flush-to-zero mode and, without it, until a tracker decays in silence
//   into the subnormal range: run() then sets it to zero (at most once per
//   256 samples, at a block's end), far below every threshold.
// - Threads: no lock of its own; the owner serialises every call.

#include <log4cxx/logger.h>

#include <Eigen/Core>
#include <ZIZO_Config>
#include <array>
#include <cstdint>
#include <string>

#include "lyrane_detail/DeferredLogQueue.h"
#include "lyrane_detail/SubnormalStates.h"

class PlaybackProcessing;

class ZIZO_sad {
  public:
    enum State : int { OPEN = 0, CLOSING = 1, CLOSED = 2, OPENING = 3 };

    // Throws std::system_error if the library's log thread cannot be started.
    ZIZO_sad(const std::string& name, unsigned int Nblock, unsigned int fs,
             const ZIZO_Config& config);
    ~ZIZO_sad() = default;
    ZIZO_sad(const ZIZO_sad&) = delete;
    ZIZO_sad& operator=(const ZIZO_sad&) = delete;

    // Analyses one block of Nblock samples; the decision for it is read with
    // isSpeech() after.
    void run(const float* in);
    void run(const Eigen::ArrayXf& in);

    // state = newState, counter cleared, decision = newState is OPEN or
    // CLOSING (compared as unsigned, so negative values mean no speech).
    void switchState(int newState);

    void setEnabled(bool enabled);
    bool isEnabled() const { return enabled; }
    bool isSpeech() const { return speech; }
    int getState() const { return state; }
    // The trackers after the last sample processed.
    float getEnvelope() const { return envelope; }
    float getFloorTrack() const { return floorTrack; }
    float getFloorSmooth() const { return floorSmooth; }

    // Values derived from the configuration at construction.
    // Smoothing coefficient of tau<k>, k = 1 .. 5; 0.0 for any other k.
    float getCoef(unsigned int k) const { return (k >= 1 && k <= 5) ? coef[k - 1] : 0.0f; }
    float getThreshAbsolute() const { return threshAbsolute; }
    float getThreshOpen() const { return threshOpen; }
    float getThreshClose() const { return threshClose; }
    uint32_t getHoldOpenBlocks() const { return holdOpenBlocks; }
    uint32_t getHoldClosedBlocks() const { return holdClosedBlocks; }

    static log4cxx::LoggerPtr AC_SAD_logger;

  private:
    // The chain's run of one-sample blocks keeps this block's state in
    // locals for a whole host buffer.
    friend class PlaybackProcessing;

    // Outcome of the closing and the opening test over one block.
    struct BlockTests {
        bool closing;
        bool opening;
    };
    // Runs the trackers over the first Nblock samples of in and takes both
    // tests.
    // Both declared inline and defined in the source only, so that run()
    // can inline them (an ordinary member of a shared library may be
    // interposed).
    inline BlockTests updateTrackers(const float* in);
    // False, with nothing changed, for a state outside 0 .. 3.
    inline bool stepGate(bool closing, bool opening);
    // Subnormal trackers to zero, every kFlushInterval samples or so; samples
    // were processed since the last call.
    inline void flushSubnormalTrackers(uint32_t samples);
    // The same out of line, for the chain's run of one-sample blocks.
    void flushSubnormalTrackersAfter(uint32_t samples);

    std::string name;
    // After name: its records point to it until they are emitted.
    DeferredLogQueue logQueue;
    bool enabled = false;
    std::array<float, 5> tau{};  // tau1 .. tau5, s
    float thresh_absolute_db = 0.0f;
    float thresh_open_db = 0.0f;
    float thresh_close_db = 0.0f;
    float threshAbsolute = 0.0f;
    float threshOpen = 0.0f;
    float threshClose = 0.0f;
    float hold_open_time = 0.0f;    // s
    float hold_closed_time = 0.0f;  // s
    uint32_t holdOpenBlocks = 0;
    uint32_t holdClosedBlocks = 0;
    std::array<float, 5> coef{};  // coef1 .. coef5
    uint32_t Nblock;
    float envelope = 0.0f;
    float floorTrack = 0.0f;
    float floorSmooth = 0.0f;
    int state = CLOSED;
    uint32_t blockCounter = 0;
    bool speech = false;
    // Samples until the next check for subnormal trackers.
    lyrane::SubnormalCheckCountdown subnormalCheck;
};

#endif  // ZIZO_SAD_H
