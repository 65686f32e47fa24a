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
// - run(in, out, speech) processes the first Nblock samples of in and leaves
//   out holding Nblock samples; in and out may be the same array. An input
//   holding fewer than Nblock samples is refused: out becomes a copy of in,
//   nothing else changes, and the refusal is logged at ERROR.
// - Disabled, run() makes out an exact copy of in (any length) and changes
//   no state.
// - Non-finite samples come out at the clip level (NaN as +max_amp). An
//   infinite sample also drives the duck gain to 0, from which it recovers
//   with tau_duck. A sample whose gained value is not finite (NaN, infinite,
//   or overflowing) leaves the level follower as it was, and a non-finite
//   high-pass result leaves the filter state as it was, so the loop and the
//   reduction go on normally with the next finite sample. Otherwise the
//   formulas apply unchanged.
// - The non-speech counter saturates instead of wrapping, so a silence of
//   more than 2^32 samples does not restart the hold.
// - Real time: run() allocates nothing when out already holds Nblock samples.
//   It logs only the duck TRACE record (once per block at most), the INFO
//   record of a maximum-gain reduction and the ERROR record of a refused
//   block; each record is posted only when its level is enabled. These three
//   are deferred (DeferredLogQueue.h): run() posts them to the block's own
//   queue without allocating or locking, and they are emitted, in order and
//   with the same logger, level, text and location, on the library's
//   thread, or at the latest when the block is destroyed. Every other record
//   is logged directly on the calling thread.
// - Results are bit for bit those of the plain formulas above.
// - A setter's new value acts from the next sample run() processes.
// - Threads: no lock of its own; the owner serialises every call.
#ifndef ZIZO_AGC_H
#define ZIZO_AGC_H

#include <log4cxx/logger.h>

#include <Eigen/Core>
#include <DeferredLogQueue.h>
#include <ZIZO_Config>
#include <array>
#include <cstdint>
#include <string>

class ZIZO_agc {
  public:
    static constexpr unsigned int kLevelBins = 32;

    // Throws std::bad_alloc if the per-sample arrays cannot be allocated,
    // std::system_error if the library's log thread cannot be started.
    ZIZO_agc(const std::string& name, unsigned int Nblock, unsigned int fs,
             const ZIZO_Config& config);
    ~ZIZO_agc() = default;
    ZIZO_agc(const ZIZO_agc&) = delete;
    ZIZO_agc& operator=(const ZIZO_agc&) = delete;

    // Processes one block (see the contract above). out is resized (which
    // allocates) only when it does not hold Nblock samples.
    void run(const Eigen::ArrayXf& in, Eigen::ArrayXf& out, bool speech);

    // Logs at INFO only when the value changes.
    void setEnabled(bool enabled);
    bool isEnabled() const { return enabled; }

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
    float getTargetLevelDb() const { return target_level_db; }
    void setTargetLevelDb(float level_db);
    // Stores |amp|.
    float getMaxAmp() const { return max_amp; }
    void setMaxAmp(float amp);

    // Gain back to 0 dB, duck gain to 1, level follower to 0.1; the
    // non-speech counter, the maximum gain and its statistics stay. Logs at
    // DEBUG.
    void resetGain();

    // Maximum-gain control. setDecreaseMaxGain logs at INFO only on a change;
    // switching it leaves the statistics and the high-pass state as they are.
    void setDecreaseMaxGain(bool enabled);
    bool isDecreaseMaxGain() const { return decrease_max_gain; }
    // Current and configured maximum both become |gain_db|; no log, the
    // statistics stay.
    void setMaxGainDb(float gain_db);
    // The current maximum gain, possibly lowered by the reduction.
    float getMaxGainDb() const { return maxGainDb; }
    // Current maximum back to the configured one, statistics cleared (the
    // high-pass state stays). Logs at DEBUG.
    void resetMaxGain();

    // State after the last sample processed.
    float getGainDb() const { return lastOf(gainDb, 0.0f); }
    float getDuckGain() const { return lastOf(duckGain, 1.0f); }
    float getLevel() const { return lastOf(level, 0.1f); }
    uint32_t getHistogramSamples() const { return histogramSamples; }
    // Count of level bin k (0 .. 31); 0 for any other k.
    uint32_t getHistogramCount(unsigned int k) const {
        return k < kLevelBins ? levelHistogram[k] : 0u;
    }

    // Values derived from the parameters.
    float getLevelCoef() const { return levelCoef; }
    float getDuckCoef() const { return duckCoef; }
    uint32_t getHoldSamples() const { return holdSamples; }
    float getReleaseStepDb() const { return releaseStepDb; }
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

    static log4cxx::LoggerPtr AC_AGC_logger;

    // Level bins by bit pattern, built once per process (defined with
    // levelBin; held by reference so that run() skips the first-use check).
    class LevelBinTable;

  private:
    // The sample loop, with the maximum-gain reduction compiled in or out;
    // the output goes to outBlock and to out (which may be x or outBlock).
    template <bool kReduce>
    bool runSamples(const float* x, float* out, bool speech);
    // One step of the level follower, of the gain law and of the high-pass.
    // Declared inline and defined in the source only: an ordinary member of
    // a shared library may be interposed, so the compiler would not inline
    // it into the per-sample loop.
    inline float nextLevel(float prevLevel, float magnitude) const;
    inline float nextGainDb(float prevGainDb, float level, bool speech);
    inline float highPass(float x);
    // Block-end step of the maximum-gain reduction.
    inline void updateMaxGain();
    void clearHistogram();
    // maxGainDb = gain_db, and the scan range and its count that follow.
    void setCurrentMaxGain(float gain_db);
    static float lastOf(const Eigen::ArrayXf& a, float empty) {
        return a.size() > 0 ? a[a.size() - 1] : empty;
    }

    std::string name;
    // After name: its records point to it until they are emitted.
    DeferredLogQueue logQueue;
    bool enabled = false;
    float target_level_db = 0.0f;  // dBFS
    float maxGainDb = 0.0f;        // current maximum, dB
    float max_gain_db = 0.0f;      // configured maximum, dB
    bool decrease_max_gain = false;
    float tau_level = 0.0f;  // s
    float p_gain = 0.0f;     // dB/s per dB
    float max_amp = 0.0f;
    float tau_duck = 0.0f;  // s
    uint32_t Nblock;
    uint32_t fs;
    const LevelBinTable& binTable;
    float levelCoef = 0.0f;
    float duckCoef = 0.0f;
    // Per-sample history of the last block; the last element carries over.
    Eigen::ArrayXf gainDb;
    Eigen::ArrayXf duckGain;
    Eigen::ArrayXf appliedGain;
    Eigen::ArrayXf outBlock;
    Eigen::ArrayXf level;
    uint32_t nonspeechCounter = 0;
    float nonspeech_hold_gain_time = 0.0f;  // s
    uint32_t holdSamples = 0;
    float releaseStepDb = 0.0f;            // dB per sample
    float nonspeech_release_speed = 0.0f;  // dB/s
    Eigen::ArrayXf hpInput;
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
    // p_gain / fs: dB of gain change per sample and dB of level error.
    float gainStepPerDb = 0.0f;
    // The largest level whose level in dB is below target_level_db, NaN if
    // there is none or if gainStepPerDb is not positive; at or below it a
    // speech sample leaves a gain at maxGainDb there.
    float levelBelowTargetMax = 0.0f;
};

#endif  // ZIZO_AGC_H
