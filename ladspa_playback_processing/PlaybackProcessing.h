#ifndef PLAYBACKPROCESSING_H
#define PLAYBACKPROCESSING_H

// Playback speech chain: speech activity detector, equalizer, AGC and output
// gain over one mono float stream in blocks of Nblock samples, plus a FIFO of
// the unprocessed input that a consumer elsewhere in the process pulls one
// sample at a time (it finds the chain by name in ExternalModuleRegistry).
//
// Threads:
// - One processing thread calls run at a time. It never waits for another
//   thread: it takes no lock, allocates nothing, frees nothing and does no
//   file I/O. Its log records (a refused block, and the blocks' own: see
//   ZIZO_agc.h and ZIZO_sad.h) are deferred (DeferredLogQueue.h): posted
//   to the block's own queue and emitted in order, with their logger, level,
//   text and location, on a thread of the library's own, at the latest when
//   the chain is destroyed.
// - Control setters and resets may come from any other thread. They are
//   serialised among themselves by settingsMutex, which run never takes; each
//   prepares its change on its own thread (a coefficient file is read and
//   built into sections there) and hands it over wait-free. A changed setting
//   acts from the next block. Setter records are logged on the setter's
//   thread, as the call happens.
// - One consumer thread calls getNextInputSample. The FIFO is a
//   single-producer single-consumer ring (InputFifo.h): neither run nor the
//   consumer ever waits for the other.
// - setOutputGainDb and the three getters take no lock: they publish or read
//   atomic values. A block in progress may use the old or the new gain.
// - Construction and destruction belong to one thread with no other user.
//
// Floating point: run computes in the caller's floating-point mode. The
// LADSPA plug-in runs each host buffer in flush-to-zero mode
// (FlushToZeroMode.h), and the results the tests fix bit for bit are those.
// Under gradual underflow the results are the same as long as no value falls
// below the smallest normal float (about 1.2e-38); the blocks flush their
// states that do to zero now and then, so digital silence stays as cheap as
// speech in either mode.

#include <Eigen/Core>
#include <ZIZO_Config>
#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>

#include "lyrane_detail/DeferredLogQueue.h"
#include "lyrane_detail/InputFifo.h"

class ZIZO_sad;
class ZIZO_agc;
template <typename T>
class ZIZO_equalizer;

class PlaybackProcessing {
  public:
    // Builds, in this order, the AGC from the "AGC." group of config, the
    // equalizer from its "EQUALIZER." group and the detector from nothing but
    // {"enabled" = true}; the blocks are named name + "_AGC", "_EQUALIZER" and
    // "_SAD". The chain starts muted (output factor 0.0 until
    // setOutputGainDb). Throws std::invalid_argument when Nblock or fs is 0,
    // and passes on whatever a block constructor throws (std::bad_alloc,
    // std::system_error if the library's log thread cannot be started).
    PlaybackProcessing(const std::string& name, unsigned int Nblock, unsigned int fs,
                       const ZIZO_Config& config);
    ~PlaybackProcessing();
    PlaybackProcessing(const PlaybackProcessing&) = delete;
    PlaybackProcessing& operator=(const PlaybackProcessing&) = delete;

    // Processes one block of Nblock samples from in to out: appends in to the
    // FIFO if it holds fewer than 2048 samples (whole block or nothing), then
    // detector on in, equalizer from in to out, AGC in place on out with this
    // block's speech decision, and the output gain on every sample. in and
    // out each hold Nblock samples; they may be the same buffer, but must not
    // overlap otherwise.
    void run(const float* in, float* out);

    // For a chain of Nblock 1: processes n samples from in to out with the
    // same output and FIFO contents as n calls of run(in + i, out + i), with
    // two differences no caller can tell: settings changed while the call
    // runs act from the next call (at buffer boundaries), and the consumer
    // may see the input up to n samples later (the n samples are appended
    // to the FIFO at once). Returns false, changing nothing, when Nblock is
    // not 1. in and out may be the same buffer, but must not overlap
    // otherwise. Same threads and floating-point mode as run; the states
    // that decay into the subnormal range are checked once per call, so
    // under gradual underflow (never in flush-to-zero mode) an output that
    // depends on a subnormal state may differ from run's.
    bool runOneSampleBlocks(const float* in, float* out, std::size_t n);

    // run on arrays. Returns false, and changes nothing, when in or out does
    // not hold exactly Nblock samples (logged at ERROR once per chain).
    bool run(const Eigen::ArrayXf& in, Eigen::ArrayXf& out);

    // The oldest buffered input sample, removed from the FIFO, once more than
    // 682 samples are buffered; 0.0 (FIFO unchanged) until then. So the pulled
    // stream lags the input by at least 683 samples.
    float getNextInputSample();

    // Settings that would make the output NaN, infinite or full-scale DC are
    // refused with one ERROR record naming the value, and the previous value
    // stays: a non-finite value for any float setter below, an output gain
    // whose factor overflows (beyond about 770 dB), a maximum gain whose AGC
    // factor does not exist (beyond about 770 dB either sign), and a release
    // speed whose step per sample is that large.

    // Output gain in dB; the factor is 10^(gainDb/20), -200 dB gives 1e-10.
    // Logged at INFO. Takes no lock.
    void setOutputGainDb(float gainDb);

    void setAgcEnabled(bool enabled);
    bool isAgcEnabled() const;
    void setAgcTargetLevelDb(float levelDb);
    // Current and configured maximum gain both become |gainDb|.
    void setAgcMaxGainDb(float gainDb);
    // The current maximum gain, possibly lowered by the AGC since.
    float getAgcMaxGainDb() const;
    void setAgcDecreaseMaxGain(bool enabled);
    // The AGC's maximum amplitude becomes |amp|.
    void setAgcMaxAmp(float amp);
    void setAgcNonspeechHoldGainTime(float time_s);
    void setAgcNonspeechReleaseSpeed(float speed_db_per_s);
    void resetAgcGain();
    void resetAgcMaxGain();

    void setEqualizerEnabled(bool enabled);
    bool isEqualizerEnabled() const;
    // Stores the coefficient file name and reloads the equalizer from it; a
    // file that fails to load leaves the equalizer disabled (logged by it).
    // The file is read on the caller's thread; run keeps processing with the
    // previous sections meanwhile and takes the new ones from its next block.
    // isEqualizerEnabled reports the outcome on return.
    void setEqualizerFilename(std::string filename);
    void reloadEqualizer();

    const std::string& getName() const { return name; }
    unsigned int getNblock() const { return Nblock; }
    unsigned int getFs() const { return fs; }

  private:
    // Each block's state in locals for the loop of runOneSampleBlocks.
    struct SadLocals;
    struct EqualizerLocals;
    struct AgcLocals;
    // That loop, with or without the AGC's histogram, for one way of running
    // the equalizer's sections.
    template <bool kReduce>
    void runOneSampleLoopFor(EqualizerLocals& equalizing, const float* in, float* out,
                             std::size_t n);
    template <bool kReduce, class Equalizing>
    void runOneSampleLoop(Equalizing& equalizing, const float* in, float* out, std::size_t n);
    // Block by block, for set-ups the loop's locals do not cover.
    void runSampleBySample(const float* in, float* out, std::size_t n);

    // True when value and derivedFactor are finite; otherwise logs the
    // refusal of setter(value) at ERROR.
    bool acceptSetting(const char* setter, float value, float derivedFactor = 1.0f) const;

    const std::string name;
    // After name: its records point to it until they are emitted.
    DeferredLogQueue logQueue;
    const unsigned int Nblock;
    const unsigned int fs;
    const unsigned int inputFifoCapacity = 2048;
    InputFifo inputFifo;
    std::unique_ptr<ZIZO_sad> sad;
    std::unique_ptr<ZIZO_agc> agc;
    std::unique_ptr<ZIZO_equalizer<float>> equalizer;
    std::atomic<float> outputGainLinear{0.0f};
    std::atomic<bool> badBlockReported{false};
    // Serialises the setters and resets with each other; run never takes it.
    std::mutex settingsMutex;

    static log4cxx::LoggerPtr AC_PlaybackProcessing_logger;
};

#endif  // PLAYBACKPROCESSING_H
