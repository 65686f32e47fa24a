#ifndef ZIZO_AGC_H
#define ZIZO_AGC_H

#include <log4cxx/logger.h>

#include <Eigen/Core>
#include <ZIZO_Config>
#include <array>
#include <atomic>
#include <cstdint>
#include <string>

#include "lyrane_detail/DeferredLogQueue.h"
#include "lyrane_detail/SettingsExchange.h"
#include "lyrane_detail/SubnormalStates.h"

namespace lyrane {
class LevelBinTable;
}

// Automatic gain control: levels a mono float stream towards a target level
// while the caller's speech flag is set, ducks and clips samples that would
// pass a maximum amplitude, and may lower its own maximum gain when the
// input is so loud that the full gain would overdrive it.
//
// Configuration keys (without prefix; a key of another type than listed reads
// as 0 / false with the store's WARN record):
//   enabled (bool, false), target_level_db (float dBFS, -6),
//   max_gain_db (float dB, 35; absolute value used), decrease_max_gain (bool,
//   false), tau_level (float s, 1.5), p_gain (float dB/s per dB, 1),
//   max_amp (float, 0.95; absolute value used), tau_duck (float s, 0.1),
//   nonspeech_hold_gain_time (float s, 1), nonspeech_release_speed (float
//   dB/s, 3).
//
// Results:
// - run() processes Nblock samples from in to out; in may equal out. The
//   ArrayXf overload processes the first Nblock samples of in and leaves out
//   holding Nblock samples; it refuses an input of fewer than Nblock
//   samples: out becomes a copy of in, nothing else changes, and the refusal
//   is logged at ERROR.
// - Disabled, run() copies in to out (the ArrayXf overload: an exact copy of
//   any length) and changes no state.
// - Every output sample lies within +-max_amp. Non-finite samples come out
//   at the clip level (NaN as +max_amp); they leave the level follower and
//   the reduction's filter as they were, so the next finite sample goes on
//   normally. An infinite sample drives the duck gain to 0, from which it
//   recovers with tau_duck.
// - Results are bit for bit those of the AGC's formulas, in the
//   processor's flush-to-zero mode and, without it, until a state that decays
//   in silence turns subnormal: run() then sets it to zero, sign kept (at
//   most once per 256 samples, at a block's end), far below any level the
//   gain law or the reduction tells apart.
// - The non-speech counter saturates instead of wrapping.
// - With decrease_max_gain on, a block's end may lower the current maximum
//   gain to a multiple of 3 dB below it (never below 0 dB), when more than
//   0.1 % of the input's samples over the last one to three seconds would be
//   driven past full scale by it; setMaxGainDb and resetMaxGain restore it.
//
// Real time: run() never waits, allocates nothing and frees nothing (the
// ArrayXf overload allocates only when out does not hold Nblock samples). It
// logs only the duck TRACE record (once per block at most), the INFO record
// of a maximum-gain reduction and the ERROR record of a refused block, each
// only when its level is enabled, deferred: posted without allocating or
// locking and emitted in order, with the same logger, level, text and
// location, on the library's log thread or at the latest when the block is
// destroyed. Every other record is logged directly on the calling thread.
//
// Threads:
// - run() and the state getters (getGainDb, getDuckGain, getLevel,
//   getHpState, getHistogram*) belong to one audio thread.
// - The setters, resetGain, resetMaxGain and the parameter getters belong to
//   one control thread (or to several that the owner serialises), which may
//   be another one than run()'s. run() never waits for them: their effect
//   reaches run() at the start of its next call, all of it and in call order.
//   Each logs its record on the calling thread.
// - isEnabled() and getMaxGainDb() may be read from any thread at any time.
// - On one thread everything acts as if each call took effect at once.

class PlaybackProcessing;

class ZIZO_agc {
  public:
    static constexpr unsigned int kLevelBins = 32;

    // Throws std::system_error if the library's log thread cannot be started.
    ZIZO_agc(const std::string& name, unsigned int Nblock, unsigned int fs,
             const ZIZO_Config& config);
    ~ZIZO_agc() = default;
    ZIZO_agc(const ZIZO_agc&) = delete;
    ZIZO_agc& operator=(const ZIZO_agc&) = delete;

    // Processes one block of Nblock samples (see Results above).
    void run(const float* in, float* out, bool speech);
    // The same on arrays. out is resized (which allocates) only when it does
    // not hold Nblock samples.
    void run(const Eigen::ArrayXf& in, Eigen::ArrayXf& out, bool speech);

    // Logs at INFO only when the value changes.
    void setEnabled(bool enabled);
    bool isEnabled() const { return enabledNow.load(std::memory_order_relaxed); }

    float getTauLevel() const { return tau_level; }
    void setTauLevel(float tau_s);
    float getTauDuck() const { return tau_duck; }
    void setTauDuck(float tau_s);
    // Logs at DEBUG.
    float getNonspeechHoldGainTime() const { return nonspeech_hold_gain_time; }
    void setNonspeechHoldGainTime(float time_s);
    // Logs at DEBUG.
    float getNonspeechReleaseSpeed() const { return nonspeech_release_speed; }
    void setNonspeechReleaseSpeed(float speed_db_per_s);
    float getTargetLevelDb() const { return control.targetLevelDb; }
    void setTargetLevelDb(float level_db);
    // Stores |amp|.
    float getMaxAmp() const { return control.maxAmp; }
    void setMaxAmp(float amp);

    // Gain back to 0 dB, duck gain to 1, level follower to 0.1; the
    // non-speech counter, the maximum gain and its statistics stay. Logs at
    // DEBUG.
    void resetGain();

    // Maximum-gain control. setDecreaseMaxGain logs at INFO only on a change;
    // switching it leaves the statistics and the high-pass state as they are.
    void setDecreaseMaxGain(bool enabled);
    bool isDecreaseMaxGain() const { return control.decreaseMaxGain; }
    // Current and configured maximum both become |gain_db|; no log, the
    // statistics stay.
    void setMaxGainDb(float gain_db);
    // The current maximum gain: the latest one run() set (a reduction) or the
    // control side requested (setMaxGainDb, resetMaxGain), whichever came
    // last.
    float getMaxGainDb() const;
    // Current maximum back to the configured one, statistics cleared (the
    // high-pass state stays). Logs at DEBUG, with getMaxGainDb() as the value
    // it resets from.
    void resetMaxGain();

    // The state run() would start its next block from: after the last
    // sample processed and every request made since (audio thread).
    float getGainDb();
    float getDuckGain();
    float getLevel();
    float getHpState();
    uint32_t getHistogramSamples();
    // Count of level bin k (0 .. 31); 0 for any other k.
    uint32_t getHistogramCount(unsigned int k);

    // Values derived from the parameters (control thread).
    float getLevelCoef() const { return control.levelCoef; }
    float getDuckCoef() const { return control.duckCoef; }
    uint32_t getHoldSamples() const { return control.holdSamples; }
    float getReleaseStepDb() const { return control.releaseStepDb; }
    float getHpCoefA() const { return hpCoefA; }
    float getHpCoefB() const { return hpCoefB; }

    // Linear factor of a gain in dB, as run() applies it: a power-of-two
    // approximation of 10^(gain_db / 20) (within -0.35 dB and +0.17 dB of it;
    // 0 dB gives 0.97134781). Any thread.
    static float gainFactor(float gain_db);
    static log4cxx::LoggerPtr AC_AGC_logger;

  private:
    // The chain's run of one-sample blocks keeps this block's state in
    // locals for a whole host buffer.
    friend class PlaybackProcessing;

    // Everything run() reads of the settings, with the values derived from
    // them, and counts of the requests that act on run()'s own state. The
    // control side writes a whole copy at a time; run() takes the latest at
    // the start of a block.
    struct Settings {
        bool enabled = false;
        bool decreaseMaxGain = false;
        float targetLevelDb = 0.0f;  // dBFS
        // The largest level whose level in dB is below targetLevelDb, NaN if
        // there is none or if gainStepPerDb is not positive; at or below it a
        // speech sample leaves a gain at the maximum there.
        float levelBelowTargetMax = 0.0f;
        float gainStepPerDb = 0.0f;  // p_gain / fs: dB per sample and dB of error
        float configuredMaxGainDb = 0.0f;
        float maxAmp = 0.0f;
        float levelCoef = 0.0f;
        float duckCoef = 0.0f;
        uint32_t holdSamples = 0;
        float releaseStepDb = 0.0f;  // dB per sample
        // Requests so far; run() acts on each count that moved.
        uint32_t gainResets = 0;       // resetGain
        uint32_t maxGainSets = 0;      // setMaxGainDb and resetMaxGain
        uint32_t histogramClears = 0;  // resetMaxGain
    };

    // Out-of-line entries for the chain's run of one-sample blocks: takeSettings; one block through
    // the inline run, for the rare samples that post a record; the subnormal check after samples
    // processed.
    const Settings& takeSettingsOutOfLine();
    void runOutOfLine(const Settings& settings, const float* in, float* out, bool speech);
    void flushSubnormalStatesAfter(uint32_t samples);

    // The functions below are declared inline (and the per-block ones always
    // inline) and defined in the source only: an ordinary member of a shared
    // library may be interposed, so the compiler would not inline it into
    // run(), and at one sample per call the calls cost as much as the work.

    // Takes the latest settings and carries out the requests they count.
    [[gnu::always_inline]] inline const Settings& takeSettings();
    void carryOutRequests(const Settings& settings);
    // One block with the settings taken.
    [[gnu::always_inline]] inline void run(const Settings& settings, const float* in, float* out,
                                           bool speech);
    // The sample loop, with the maximum-gain reduction compiled in or out.
    // Returns whether any sample was ducked.
    template <bool kReduce>
    [[gnu::always_inline]] inline bool runSamples(const Settings& settings, const float* x,
                                                  float* out, bool speech);
    // Block-end step of the maximum-gain reduction: the block counted, the
    // statistics checked (updateMaxGain, only when that can lower the
    // maximum) and restarted after three seconds.
    [[gnu::always_inline]] inline void countBlockForMaxGain();
    void updateMaxGain();
    // Subnormal states to zero, every kFlushInterval samples or so; samples
    // were processed since the last call.
    [[gnu::always_inline]] inline void flushSubnormalStates(uint32_t samples);
    void clearHistogram();
    // maxGainDb = gain_db, and the scan range and its count that follow.
    void setCurrentMaxGain(float gain_db);
    // Publishes a reduction unless the control side asked for a maximum of
    // its own since run() last took the settings.
    void publishReducedMaxGain();
    // Control side: the control copy to run().
    void publishSettings() { exchange.publish(control); }
    // Control side: asks run() to take the configured maximum as current.
    void requestMaxGain();

    std::string name;
    // After name: its records point to it until they are emitted.
    DeferredLogQueue logQueue;
    uint32_t Nblock;
    uint32_t fs;
    const lyrane::LevelBinTable& binTable;

    // Control side: the parameters as set, and the settings run() will get.
    float tau_level = 0.0f;                 // s
    float p_gain = 0.0f;                    // dB/s per dB
    float tau_duck = 0.0f;                  // s
    float nonspeech_hold_gain_time = 0.0f;  // s
    float nonspeech_release_speed = 0.0f;   // dB/s
    Settings control;
    lyrane::SettingsExchange<Settings> exchange;
    std::atomic<bool> enabledNow{false};
    // The current maximum gain's float bits in the low half and, in the high
    // half, the count of control requests it follows (Settings::maxGainSets):
    // a reduction run() made under an older count must not overwrite a
    // request that came after it.
    std::atomic<uint64_t> currentMaxGain{0};
    static_assert(std::atomic<uint64_t>::is_always_lock_free,
                  "the maximum gain is read and set without a lock");

    // Audio side: the loop state, carried from block to block.
    uint32_t appliedGainResets = 0;
    uint32_t appliedMaxGainSets = 0;
    uint32_t appliedHistogramClears = 0;
    float maxGainDb = 0.0f;  // current maximum, dB
    float gainDb = 0.0f;
    float duckGain = 1.0f;
    float level = 0.0f;
    // gainFactor(gainDb) as last computed, and the gain's bits it is for.
    uint32_t factorGainBits = 0;
    float factorOfGain = 0.0f;
    uint32_t nonspeechCounter = 0;
    float hpCoefA = 0.0f;
    float hpCoefB = 0.0f;
    float hpPrevInput = 0.0f;
    float hpPrevOutput = 0.0f;
    std::array<uint32_t, kLevelBins> levelHistogram{};
    uint32_t histogramSamples = 0;
    // The end-of-block scan looks at bins 0 .. scanBins - 1 (those below
    // maxGainDb / 3). Their running total tells at once whether any prefix
    // of them can pass the threshold: the prefix sums only grow with j.
    uint32_t scanBins = 0;
    uint32_t scanBinsCount = 0;
    // Samples until the next check for subnormal states.
    lyrane::SubnormalCheckCountdown subnormalCheck;
};

#endif  // ZIZO_AGC_H
