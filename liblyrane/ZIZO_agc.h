// Automatic gain control: a feedback loop that levels a mono float stream
// towards a target level while the speech flag is set.
//
// Per sample: the gain in dB (turned into a factor by gainFactor) and a fast
// duck gain multiply the input; a peak follower measures the level of that
// product; with speech the gain moves by p_gain / fs x (target - level) dB
// within [-max_gain_db, maxGainDb]; without speech it is held for
// nonspeech_hold_gain_time and then drifts to 0 dB at nonspeech_release_speed.
// A sample that would exceed max_amp pulls the duck gain down (recovering
// with tau_duck), and every output sample is clipped to +-max_amp.
//
// Maximum-gain reduction ("decrease_max_gain"): a 15.9 Hz DC-blocking
// high-pass of the input feeds a histogram of 32 level bins of 3 dB (bin 0
// the loudest). Once more than one second of samples is counted, at the end
// of every block, the first bin j at which bins 0..j together hold more than
// 0.1 % of the counted samples lowers maxGainDb to 3 x j dB (only bins below
// the current maximum are scanned, and never more than the 32). The
// statistics restart after more than three seconds.
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
// Contract:
// - run(in, out, speech) processes Nblock samples from in to out; in may
//   equal out. The ArrayXf overload processes the first Nblock samples of in
//   and leaves out holding Nblock samples (in and out may be the same
//   array). It refuses an input holding fewer than Nblock samples: out
//   becomes a copy of in, nothing else changes, and the refusal is logged
//   at ERROR.
// - Disabled, run() copies in to out (the ArrayXf overload: an exact copy of
//   any length) and changes no state.
// - Non-finite samples come out at the clip level (NaN as +max_amp). An
//   infinite sample also drives the duck gain to 0, from which it recovers
//   with tau_duck. A sample whose gained value is not finite (NaN, infinite,
//   or overflowing) leaves the level follower as it was, and a non-finite
//   high-pass result leaves the filter state as it was, so the loop and the
//   reduction go on normally with the next finite sample. Otherwise the
//   formulas apply unchanged.
// - The non-speech counter saturates instead of wrapping, so a silence of
//   more than 2^32 samples does not restart the hold.
// - Real time: run() never waits, allocates nothing and frees nothing (the
//   ArrayXf overload allocates only when out does not hold Nblock samples).
//   It logs only the duck TRACE record (once per block at most), the INFO
//   record of a maximum-gain reduction and the ERROR record of a refused
//   block; each record is posted only when its level is enabled. These three
//   are deferred (DeferredLogQueue.h): run() posts them to the block's own
//   queue without allocating or locking, and they are emitted, in order and
//   with the same logger, level, text and location, on the library's
//   thread, or at the latest when the block is destroyed. Every other record
//   is logged directly on the calling thread.
// - Results are bit for bit those of the plain formulas above, in the
//   processor's flush-to-zero mode and, without it, as long as no state
//   has been flushed (next point).
// - Without the flush-to-zero mode (gradual underflow) the states that decay
//   in silence, the level follower and the high-pass state, would sink into
//   the slow subnormal range and stay there. run() sets such a state to
//   zero, sign kept, once it is below FLT_MIN in magnitude; it checks at the
//   end of a block once at least 256 samples have passed since the last
//   check. Digital silence after speech then costs what speech costs. The
//   flush moves a state by less than FLT_MIN: the level is far below the
//   -96 dB floor of the gain law by then and the next louder sample sets it
//   exactly; the high-pass state of that size fills only the silent bin. In
//   flush-to-zero mode no state is ever subnormal and nothing is flushed.
//
// Threads:
// - run() and the state getters (getGainDb, getDuckGain, getLevel,
//   getHpState, getHistogram*) belong to one audio thread.
// - setEnabled, setTargetLevelDb, setMaxGainDb, setDecreaseMaxGain,
//   setMaxAmp, setNonspeechHoldGainTime, setNonspeechReleaseSpeed,
//   setTauLevel, setTauDuck, resetGain and resetMaxGain, and the parameter
//   getters, belong to one control thread (or to several that the owner
//   serialises among themselves), which may be another one than run()'s.
//   run() never waits for them: their effect reaches run() at the start of
//   its next call, all of it and in call order. Each logs its record on the
//   calling thread.
// - isEnabled() and getMaxGainDb() may be read from any thread at any time.
//   getMaxGainDb() is the current maximum: the latest one run() set (a
//   reduction) or the control side requested (setMaxGainDb, resetMaxGain),
//   whichever came last.
// - On one thread everything acts as if each call took effect at once.
#ifndef ZIZO_AGC_H
#define ZIZO_AGC_H

#include <DeferredLogQueue.h>
#include <log4cxx/logger.h>

#include <Eigen/Core>
#include <ZIZO_Config>
#include <array>
#include <atomic>
#include <cstdint>
#include <string>

#include "SubnormalStates.h"

class ZIZO_agc {
  public:
    static constexpr unsigned int kLevelBins = 32;

    // Throws std::system_error if the library's log thread cannot be started.
    ZIZO_agc(const std::string& name, unsigned int Nblock, unsigned int fs,
             const ZIZO_Config& config);
    ~ZIZO_agc() = default;
    ZIZO_agc(const ZIZO_agc&) = delete;
    ZIZO_agc& operator=(const ZIZO_agc&) = delete;

    // Processes one block of Nblock samples (see the contract above).
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
    // The current maximum gain, possibly lowered by the reduction.
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

    // Linear factor of a gain in dB: a power-of-two approximation of
    // 10^(gain_db / 20) built from the float's bit pattern (within -0.35 dB
    // and +0.17 dB of it; 0 dB gives 0.97134781). Bit-exact by design: the
    // AGC's targets and limits are tuned against the gains it produces.
    static float gainFactor(float gain_db);
    // Level bin of one high-passed sample: k for levels in (-3k-3, -3k]
    // dBFS; 0 for levels above 0 dB and for infinities, 31 for levels at or
    // below -93 dB, silence and NaN. levelBinByLogarithm is the defining
    // formula, -ceil(clamp(20 log10 |sample|) x 0.33333334); levelBin gives
    // the same bin for every float from a table of the formula's bin edges,
    // built once per process on first use.
    static unsigned int levelBin(float sample);
    static unsigned int levelBinByLogarithm(float sample);

    // The gain law of one sample with the speech flag set, for a level
    // follower at level: g = prevGainDb + gainStepPerDb x (targetLevelDb -
    // levelDb), then at most maxGainDb, then at least -configuredMaxGainDb,
    // with levelDb = 20 log10(level) floored at -96 dB.
    // speechGainDbByLogarithm is that formula; speechGainDb gives the same
    // float bit for bit and mostly without the logarithm: it computes the
    // law at both bounds of levelDbBounds and takes the logarithm only when
    // they give different gains.
    struct GainLaw {
        float targetLevelDb;
        float gainStepPerDb;
        float maxGainDb;
        float configuredMaxGainDb;
    };
    static float speechGainDb(const GainLaw& law, float prevGainDb, float level);
    static float speechGainDbByLogarithm(const GainLaw& law, float prevGainDb, float level);
    // Bounds low_db <= 20 log10f(level) <= high_db (as single precision
    // computes it, before the floor) from a cheap logarithm, for every
    // positive normal finite level: returns true. For any other level
    // returns false and leaves both untouched.
    static bool levelDbBounds(float level, float& low_db, float& high_db);

    static log4cxx::LoggerPtr AC_AGC_logger;

    // Level bins by bit pattern, built once per process (defined with
    // levelBin; held by reference so that run() skips the first-use check).
    class LevelBinTable;

  private:
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

    // Hands whole Settings from one writer to one reader without either
    // waiting: three slots, one each owned by writer and reader and one in
    // the middle, swapped atomically.
    class SettingsExchange {
      public:
        void reset(const Settings& settings);
        // Writer side.
        void publish(const Settings& settings);
        // Reader side: takes settings published since the last call, if
        // any (true then), and the settings taken last.
        inline bool takeNewer();
        const Settings& current() const { return slots[readerSlot]; }

      private:
        static constexpr uint8_t kFresh = 4;  // middle slot newer than the reader's
        std::array<Settings, 3> slots;
        std::atomic<uint8_t> middle{1};
        uint8_t writerSlot = 2;
        uint8_t readerSlot = 0;
    };

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
    // Subnormal states to zero, every kFlushInterval samples or so.
    [[gnu::always_inline]] inline void flushSubnormalStates();
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
    const LevelBinTable& binTable;

    // Control side: the parameters as set, and the settings run() will get.
    float tau_level = 0.0f;                 // s
    float p_gain = 0.0f;                    // dB/s per dB
    float tau_duck = 0.0f;                  // s
    float nonspeech_hold_gain_time = 0.0f;  // s
    float nonspeech_release_speed = 0.0f;   // dB/s
    Settings control;
    SettingsExchange exchange;
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
