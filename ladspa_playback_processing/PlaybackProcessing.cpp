#include "PlaybackProcessing.h"

#include <cmath>
#include <limits>
#include <stdexcept>
#include <utility>

#include "DenormalFlushGuard.h"
#include "ZIZO_agc.h"
#include "ZIZO_equalizer.h"
#include "ZIZO_sad.h"

log4cxx::LoggerPtr PlaybackProcessing::AC_PlaybackProcessing_logger =
    log4cxx::Logger::getLogger("ZIZO.PlaybackProcessing");

namespace {

// The consumer is served only while more than a third of the fill limit is
// buffered, so it starts (and resumes after running dry) with a cushion of at
// least 683 samples against jitter between producer and consumer.
constexpr unsigned int kFifoServeDivisor = 3;

ZIZO_Config detectorConfig() {
    ZIZO_Config config;
    config.set<bool>("enabled", true);
    return config;
}

std::size_t fifoStorageSize(unsigned int fillLimit, unsigned int Nblock) {
    // A block is appended while fewer than fillLimit samples are buffered.
    const std::size_t largest = fillLimit - 1;
    if (Nblock > std::numeric_limits<std::size_t>::max() - largest) {
        throw std::length_error("PlaybackProcessing: Nblock too large for the input FIFO");
    }
    return largest + Nblock;
}

}  // namespace

PlaybackProcessing::PlaybackProcessing(const std::string& name, unsigned int Nblock,
                                       unsigned int fs, const ZIZO_Config& config)
    : name(name), Nblock(Nblock), fs(fs) {
    LOG4CXX_INFO(AC_PlaybackProcessing_logger,
                 "Creating instance of PlaybackProcessing (" << name << ").");
    if (Nblock == 0 || fs == 0) {
        // Every time constant and rate of the blocks divides by fs, and a
        // chain of empty blocks would never buffer input.
        throw std::invalid_argument("PlaybackProcessing needs Nblock > 0 and fs > 0");
    }
    ZIZO_Config ownConfig;
    ownConfig.setGroup(config);
    agc.reset(new ZIZO_agc(name + "_AGC", Nblock, fs, ownConfig.getGroup("AGC.")));
    equalizer.reset(new ZIZO_equalizer<float>(name + "_EQUALIZER", Nblock, fs,
                                              ownConfig.getGroup("EQUALIZER.")));
    sad.reset(new ZIZO_sad(name + "_SAD", Nblock, fs, detectorConfig()));
    inputFifo.assign(fifoStorageSize(inputFifoCapacity, Nblock), 0.0f);
    publishBlockState();
}

PlaybackProcessing::~PlaybackProcessing() {
    LOG4CXX_TRACE(AC_PlaybackProcessing_logger,
                  "Deleting instance of PlaybackProcessing (" << name << ").");
    agc.reset();
    equalizer.reset();
    sad.reset();
}

bool PlaybackProcessing::run(const Eigen::ArrayXf& in, Eigen::ArrayXf& out) {
    if (in.size() != Eigen::Index(Nblock) || out.size() != Eigen::Index(Nblock)) {
        // Once per chain: a caller that gets the size wrong does so on every
        // block, and this is the audio thread.
        if (!badBlockReported.exchange(true)) {
            LYRANE_DEFERRED_ERROR(logQueue, AC_PlaybackProcessing_logger,
                                  "({}): block of {} in, {} out samples refused; expected {}.",
                                  name, in.size(), out.size(), Nblock);
        }
        return false;
    }
    // Only the consumer takes samples out, so a FIFO seen full here is at
    // least as full as the check under the mutex would find it a moment
    // later: the whole block is dropped either way. Without a consumer (a
    // host that only plays the processed stream) the FIFO stays full, and
    // this saves a lock and unlock per block. Every append and pop still
    // happens under fifoMutex.
    if (fifoCount.load(std::memory_order_relaxed) < inputFifoCapacity) {
        std::lock_guard<std::mutex> lock(fifoMutex);
        if (fifoCount.load(std::memory_order_relaxed) < inputFifoCapacity)
            appendToFifo(in.data());
    }
    {
        DenormalFlushGuard flushSubnormals;
        std::lock_guard<std::mutex> lock(processingMutex);
        sad->run(in);
        equalizer->run(in.data(), out.data());
        agc->run(out, out, sad->isSpeech());
        out *= outputGainLinear.load(std::memory_order_relaxed);
        // The AGC may have lowered its maximum gain; nothing else a getter
        // reports changes while a block runs.
        agcMaxGainDb.store(agc->getMaxGainDb(), std::memory_order_relaxed);
    }
    return true;
}

void PlaybackProcessing::appendToFifo(const float* samples) {
    const std::size_t slots = inputFifo.size();
    const std::size_t count = fifoCount.load(std::memory_order_relaxed);
    std::size_t tail = fifoHead + count;
    if (tail >= slots)
        tail -= slots;
    // A plain loop rather than std::copy: at one sample per block a library
    // copy call costs more than the store.
    for (unsigned int i = 0; i < Nblock; ++i) {
        inputFifo[tail] = samples[i];
        if (++tail == slots)
            tail = 0;
    }
    fifoCount.store(count + Nblock, std::memory_order_relaxed);
}

float PlaybackProcessing::getNextInputSample() {
    std::lock_guard<std::mutex> lock(fifoMutex);
    const std::size_t count = fifoCount.load(std::memory_order_relaxed);
    if (count <= inputFifoCapacity / kFifoServeDivisor)
        return 0.0f;
    const float sample = inputFifo[fifoHead];
    if (++fifoHead == inputFifo.size())
        fifoHead = 0;
    fifoCount.store(count - 1, std::memory_order_relaxed);
    return sample;
}

void PlaybackProcessing::setOutputGainDb(float gainDb) {
    // 10^(dB/20) in double precision, rounded once to float.
    const float factor = static_cast<float>(std::pow(10.0, static_cast<double>(gainDb) * 0.05));
    if (!acceptSetting("setOutputGainDb", gainDb, factor))
        return;
    outputGainLinear.store(factor, std::memory_order_relaxed);
    LOG4CXX_INFO(AC_PlaybackProcessing_logger,
                 "(" << name << "): output gain set to " << gainDb << "dB (" << factor << ")");
}

bool PlaybackProcessing::acceptSetting(const char* setter, float value, float derivedFactor) const {
    if (std::isfinite(value) && std::isfinite(derivedFactor))
        return true;
    LOG4CXX_ERROR(AC_PlaybackProcessing_logger,
                  "(" << name << "): " << setter << "(" << value
                      << ") refused: the value or the factor it gives is not finite; the "
                         "previous value stays.");
    return false;
}

void PlaybackProcessing::publishBlockState() {
    agcEnabled.store(agc->isEnabled(), std::memory_order_relaxed);
    agcMaxGainDb.store(agc->getMaxGainDb(), std::memory_order_relaxed);
}

void PlaybackProcessing::setAgcEnabled(bool enabled) {
    std::lock_guard<std::mutex> lock(processingMutex);
    agc->setEnabled(enabled);
    publishBlockState();
}

bool PlaybackProcessing::isAgcEnabled() const {
    return agcEnabled.load(std::memory_order_relaxed);
}

void PlaybackProcessing::setAgcTargetLevelDb(float levelDb) {
    if (!acceptSetting("setAgcTargetLevelDb", levelDb))
        return;
    std::lock_guard<std::mutex> lock(processingMutex);
    agc->setTargetLevelDb(levelDb);
}

void PlaybackProcessing::setAgcMaxGainDb(float gainDb) {
    // The AGC's gain may climb to this maximum; its factor must exist there.
    if (!acceptSetting("setAgcMaxGainDb", gainDb, ZIZO_agc::gainFactor(std::fabs(gainDb))))
        return;
    std::lock_guard<std::mutex> lock(processingMutex);
    agc->setMaxGainDb(gainDb);
    publishBlockState();
}

float PlaybackProcessing::getAgcMaxGainDb() const {
    return agcMaxGainDb.load(std::memory_order_relaxed);
}

void PlaybackProcessing::setAgcDecreaseMaxGain(bool enabled) {
    std::lock_guard<std::mutex> lock(processingMutex);
    agc->setDecreaseMaxGain(enabled);
}

void PlaybackProcessing::setAgcMaxAmp(float amp) {
    if (!acceptSetting("setAgcMaxAmp", amp))
        return;
    std::lock_guard<std::mutex> lock(processingMutex);
    agc->setMaxAmp(amp);
}

void PlaybackProcessing::setAgcNonspeechHoldGainTime(float time_s) {
    if (!acceptSetting("setAgcNonspeechHoldGainTime", time_s))
        return;
    std::lock_guard<std::mutex> lock(processingMutex);
    agc->setNonspeechHoldGainTime(time_s);
}

void PlaybackProcessing::setAgcNonspeechReleaseSpeed(float speed_db_per_s) {
    // Released, the gain swings around 0 dB by one step of speed / fs, with
    // no limit applied: the factor must exist at a full step.
    const float stepDb = speed_db_per_s / static_cast<float>(fs);
    if (!acceptSetting("setAgcNonspeechReleaseSpeed", speed_db_per_s,
                       ZIZO_agc::gainFactor(std::fabs(stepDb))))
        return;
    std::lock_guard<std::mutex> lock(processingMutex);
    agc->setNonspeechReleaseSpeed(speed_db_per_s);
}

void PlaybackProcessing::resetAgcGain() {
    std::lock_guard<std::mutex> lock(processingMutex);
    agc->resetGain();
}

void PlaybackProcessing::resetAgcMaxGain() {
    std::lock_guard<std::mutex> lock(processingMutex);
    agc->resetMaxGain();
    publishBlockState();
}

void PlaybackProcessing::setEqualizerEnabled(bool enabled) {
    std::lock_guard<std::mutex> lock(equalizerSettingsMutex);
    equalizer->setEnabled(enabled);
}

bool PlaybackProcessing::isEqualizerEnabled() const {
    // The equalizer keeps its flag atomic itself.
    return equalizer->isEnabled();
}

void PlaybackProcessing::setEqualizerFilename(std::string filename) {
    std::lock_guard<std::mutex> lock(equalizerSettingsMutex);
    equalizer->setFilename(std::move(filename));
    equalizer->requestReload();
}

void PlaybackProcessing::reloadEqualizer() {
    std::lock_guard<std::mutex> lock(equalizerSettingsMutex);
    equalizer->requestReload();
}
