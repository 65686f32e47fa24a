// Playback speech chain: speech activity detector, equalizer, AGC and output
// gain over one mono float stream in blocks of Nblock samples, plus a FIFO of
// the unprocessed input that a consumer elsewhere in the process pulls one
// sample at a time (it finds the chain by name in ExternalModuleRegistry).
//
// Threads:
// - One processing thread calls run. Control setters and resets may come from
//   any other thread; processingMutex serialises the AGC's with run, so such
//   a setter waits for at most one block. The equalizer's setters take
//   equalizerSettingsMutex, which run never takes: a coefficient file is
//   read and built into sections on the setter's thread, and run takes the
//   result over wait-free at its next block. A changed setting acts from the
//   next block.
// - One consumer thread calls getNextInputSample; fifoMutex guards the FIFO
//   against run. run never holds both mutexes at once, and the consumer never
//   waits for a block to be processed.
// - setOutputGainDb and the three getters take no lock: they publish or read
//   atomic values. A block in progress may use the old or the new gain.
// - Construction and destruction belong to one thread with no other user.
//
// Real time: after construction, run and getNextInputSample allocate nothing,
// free nothing, call log4cxx only to check a level, and wait only on
// processingMutex (for the AGC's setters and resets) and fifoMutex. The
// records that arise in run (the chain's refused block; the detector's and
// the AGC's, see their headers) are deferred (DeferredLogQueue.h): posted to
// the block's own queue, emitted on the library's thread in order with their
// logger, level, text and location, and at the latest when the chain is
// destroyed. The FIFO lives in storage
// sized at construction: it never holds more than 2047 + Nblock samples.
#ifndef PLAYBACKPROCESSING_H
#define PLAYBACKPROCESSING_H

#include <DeferredLogQueue.h>

#include <Eigen/Core>
#include <ZIZO_Config>
#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

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
    // block's speech decision, and the output gain on every sample. in and out
    // may be the same array. Returns false, and changes nothing, when in or
    // out does not hold exactly Nblock samples (logged at ERROR once per
    // chain). Floating-point state: subnormal results are flushed to zero for
    // the duration of the call only (see DenormalFlushGuard.h); the caller's
    // control state is restored on return.
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
    // Called with processingMutex held after anything that may change what
    // isAgcEnabled and getAgcMaxGainDb report (the AGC's own fields are not
    // atomic; the equalizer's enabled flag is, and is read directly).
    void publishBlockState();
    // True when value and derivedFactor are finite; otherwise logs the
    // refusal of setter(value) at ERROR.
    bool acceptSetting(const char* setter, float value, float derivedFactor = 1.0f) const;
    void appendToFifo(const float* samples);

    const std::string name;
    // After name: its records point to it until they are emitted.
    DeferredLogQueue logQueue;
    const unsigned int Nblock;
    const unsigned int fs;
    const unsigned int inputFifoCapacity = 2048;
    // Ring buffer of 2047 + Nblock slots; fifoHead is the oldest sample.
    // Slots and fifoHead change only under fifoMutex. fifoCount too, but it is
    // atomic so that run can see a full FIFO without taking the mutex.
    std::vector<float> inputFifo;
    std::size_t fifoHead = 0;
    std::atomic<std::size_t> fifoCount{0};
    std::unique_ptr<ZIZO_sad> sad;
    std::unique_ptr<ZIZO_agc> agc;
    std::unique_ptr<ZIZO_equalizer<float>> equalizer;
    std::atomic<float> outputGainLinear{0.0f};
    std::atomic<bool> agcEnabled{false};
    std::atomic<float> agcMaxGainDb{0.0f};
    std::atomic<bool> badBlockReported{false};
    std::mutex processingMutex;
    std::mutex fifoMutex;
    // Serialises the equalizer's setters with each other only.
    std::mutex equalizerSettingsMutex;

    static log4cxx::LoggerPtr AC_PlaybackProcessing_logger;
};

#endif  // PLAYBACKPROCESSING_H
