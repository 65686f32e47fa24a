#include "PlaybackProcessing.h"

#include <cmath>
#include <stdexcept>
#include <utility>

#include "ZIZO_agc.h"
#include "ZIZO_equalizer.h"
#include "ZIZO_sad.h"

log4cxx::LoggerPtr PlaybackProcessing::AC_PlaybackProcessing_logger =
    log4cxx::Logger::getLogger("ZIZO.PlaybackProcessing");

namespace {

ZIZO_Config detectorConfig() {
    ZIZO_Config config;
    config.set<bool>("enabled", true);
    return config;
}

}  // namespace

PlaybackProcessing::PlaybackProcessing(const std::string& name, unsigned int Nblock,
                                       unsigned int fs, const ZIZO_Config& config)
    : name(name), Nblock(Nblock), fs(fs), inputFifo(inputFifoCapacity, Nblock) {
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
    run(in.data(), out.data());
    return true;
}

// Flattened, as PlaybackProcessing_Process is: the blocks' sample loops
// inline here instead of being called once per block.
__attribute__((flatten)) void PlaybackProcessing::run(const float* in, float* out) {
    // Without a consumer (a host that only plays the processed stream) the
    // FIFO stays full and the block is simply left out.
    inputFifo.pushBlock(in);
    sad->run(in);
    equalizer->run(in, out);
    agc->run(out, out, sad->isSpeech());
    const float gain = outputGainLinear.load(std::memory_order_relaxed);
    for (unsigned int i = 0; i < Nblock; ++i)
        out[i] *= gain;
}

float PlaybackProcessing::getNextInputSample() {
    return inputFifo.pop();
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

void PlaybackProcessing::setAgcEnabled(bool enabled) {
    std::lock_guard<std::mutex> lock(settingsMutex);
    agc->setEnabled(enabled);
}

bool PlaybackProcessing::isAgcEnabled() const {
    return agc->isEnabled();
}

void PlaybackProcessing::setAgcTargetLevelDb(float levelDb) {
    if (!acceptSetting("setAgcTargetLevelDb", levelDb))
        return;
    std::lock_guard<std::mutex> lock(settingsMutex);
    agc->setTargetLevelDb(levelDb);
}

void PlaybackProcessing::setAgcMaxGainDb(float gainDb) {
    // The AGC's gain may climb to this maximum; its factor must exist there.
    if (!acceptSetting("setAgcMaxGainDb", gainDb, ZIZO_agc::gainFactor(std::fabs(gainDb))))
        return;
    std::lock_guard<std::mutex> lock(settingsMutex);
    agc->setMaxGainDb(gainDb);
}

float PlaybackProcessing::getAgcMaxGainDb() const {
    return agc->getMaxGainDb();
}

void PlaybackProcessing::setAgcDecreaseMaxGain(bool enabled) {
    std::lock_guard<std::mutex> lock(settingsMutex);
    agc->setDecreaseMaxGain(enabled);
}

void PlaybackProcessing::setAgcMaxAmp(float amp) {
    if (!acceptSetting("setAgcMaxAmp", amp))
        return;
    std::lock_guard<std::mutex> lock(settingsMutex);
    agc->setMaxAmp(amp);
}

void PlaybackProcessing::setAgcNonspeechHoldGainTime(float time_s) {
    if (!acceptSetting("setAgcNonspeechHoldGainTime", time_s))
        return;
    std::lock_guard<std::mutex> lock(settingsMutex);
    agc->setNonspeechHoldGainTime(time_s);
}

void PlaybackProcessing::setAgcNonspeechReleaseSpeed(float speed_db_per_s) {
    // Released, the gain swings around 0 dB by one step of speed / fs, with
    // no limit applied: the factor must exist at a full step.
    const float stepDb = speed_db_per_s / static_cast<float>(fs);
    if (!acceptSetting("setAgcNonspeechReleaseSpeed", speed_db_per_s,
                       ZIZO_agc::gainFactor(std::fabs(stepDb))))
        return;
    std::lock_guard<std::mutex> lock(settingsMutex);
    agc->setNonspeechReleaseSpeed(speed_db_per_s);
}

void PlaybackProcessing::resetAgcGain() {
    std::lock_guard<std::mutex> lock(settingsMutex);
    agc->resetGain();
}

void PlaybackProcessing::resetAgcMaxGain() {
    std::lock_guard<std::mutex> lock(settingsMutex);
    agc->resetMaxGain();
}

void PlaybackProcessing::setEqualizerEnabled(bool enabled) {
    std::lock_guard<std::mutex> lock(settingsMutex);
    equalizer->setEnabled(enabled);
}

bool PlaybackProcessing::isEqualizerEnabled() const {
    // The equalizer keeps its flag atomic itself.
    return equalizer->isEnabled();
}

void PlaybackProcessing::setEqualizerFilename(std::string filename) {
    std::lock_guard<std::mutex> lock(settingsMutex);
    equalizer->setFilename(std::move(filename));
    equalizer->requestReload();
}

void PlaybackProcessing::reloadEqualizer() {
    std::lock_guard<std::mutex> lock(settingsMutex);
    equalizer->requestReload();
}
