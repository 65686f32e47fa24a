#include "playbackprocessing_cwrapper.h"

#include <log4cxx/logger.h>

#include <Eigen/Core>
#include <ZIZO_Config>
#include <algorithm>
#include <exception>
#include <memory>
#include <stdexcept>
#include <string>

#include "ExternalModuleRegistry.h"
#include "PlaybackProcessing.h"

struct PlaybackProcessingData {
    std::shared_ptr<PlaybackProcessing> chain;
    // Sized once at Init and reused by every Process call, so processing
    // allocates nothing; Process copies in first, so in and out may alias.
    Eigen::ArrayXf input;
    Eigen::ArrayXf output;
};

namespace {

log4cxx::LoggerPtr AC_PlaybackProcessingCWrapper_logger =
    log4cxx::Logger::getLogger("ZIZO.PlaybackProcessingCWrapper");

// A reference of the call's own, so a chain dropped meanwhile by the registry
// stays alive until the call returns. Empty for a null handle.
std::shared_ptr<PlaybackProcessing> chainOf(const PlaybackProcessingData* data) {
    return data ? data->chain : nullptr;
}

// The plug-in hands over one sample per call, for which a library copy call
// would cost more than the sample's store; longer blocks are copied whole.
void copySamples(const float* from, Eigen::ArrayXf& to) {
    if (to.size() == 1)
        to[0] = *from;
    else
        std::copy(from, from + to.size(), to.data());
}

void copyOut(const Eigen::ArrayXf& from, float* to) {
    if (from.size() == 1)
        *to = from[0];
    else
        std::copy(from.data(), from.data() + from.size(), to);
}

}  // namespace

extern "C" {

PlaybackProcessingData* PlaybackProcessing_Init(const char* name, unsigned int Nblock,
                                                unsigned int fs) {
    LOG4CXX_INFO(AC_PlaybackProcessingCWrapper_logger, "PlaybackProcessing_Init");
    LOG4CXX_DEBUG(AC_PlaybackProcessingCWrapper_logger, "Nblock " << Nblock << ", fs " << fs);
    PlaybackProcessingData* data = nullptr;
    try {
        data = new PlaybackProcessingData();
    } catch (const std::exception& e) {
        LOG4CXX_FATAL(AC_PlaybackProcessingCWrapper_logger,
                      "Could not create PlaybackProcessingData: " << e.what());
        return nullptr;
    } catch (...) {
        LOG4CXX_FATAL(AC_PlaybackProcessingCWrapper_logger,
                      "Could not create PlaybackProcessingData: Unknown exception.");
        return nullptr;
    }
    try {
        if (name == nullptr)
            throw std::invalid_argument("the chain name is null");
        // The handle's sample blocks are sized first, so that a failure to
        // allocate them is caught here too and leaves nothing behind.
        data->input = Eigen::ArrayXf::Zero(Nblock);
        data->output = Eigen::ArrayXf::Zero(Nblock);
        data->chain = std::make_shared<PlaybackProcessing>(name, Nblock, fs, ZIZO_Config());
    } catch (const std::exception& e) {
        LOG4CXX_FATAL(AC_PlaybackProcessingCWrapper_logger,
                      "Could not create instance of PlaybackProcessing: " << e.what());
        PlaybackProcessing_Uninit(data);
        return nullptr;
    } catch (...) {
        LOG4CXX_FATAL(AC_PlaybackProcessingCWrapper_logger,
                      "Could not create instance of PlaybackProcessing: Unknown exception");
        PlaybackProcessing_Uninit(data);
        return nullptr;
    }
    // A name already taken is refused and logged by the registry; this chain
    // then works unregistered.
    ExternalModuleRegistry::getInstance()->registerPlaybackProcessing(data->chain->getName(),
                                                                      data->chain);
    return data;
}

int PlaybackProcessing_Uninit(PlaybackProcessingData* data) {
    if (data == nullptr)
        return 0;
    if (data->chain) {
        // Only this handle's own registration is removed: a second handle
        // under a taken name must not unregister the chain that holds it.
        ExternalModuleRegistry* registry = ExternalModuleRegistry::getInstance();
        const std::string& name = data->chain->getName();
        if (registry->getPlaybackProcessing(name) == data->chain) {
            registry->unregisterPlaybackProcessing(name);
        }
        data->chain.reset();
    }
    delete data;
    return 0;
}

int PlaybackProcessing_Process(PlaybackProcessingData* data, const float* in, float* out) {
    // The handle holds its reference until Uninit, which must not overlap
    // this call, so the audio path takes no reference of its own.
    if (data == nullptr || !data->chain || in == nullptr || out == nullptr)
        return 1;
    copySamples(in, data->input);
    data->chain->run(data->input, data->output);
    copyOut(data->output, out);
    return 0;
}

int PlaybackProcessing_setAGCEnabled(PlaybackProcessingData* data, int enabled) {
    const auto chain = chainOf(data);
    if (!chain)
        return 1;
    chain->setAgcEnabled(enabled != 0);
    return 0;
}

int PlaybackProcessing_getAGCEnabled(PlaybackProcessingData* data, int* enabled) {
    const auto chain = chainOf(data);
    if (!chain || enabled == nullptr)
        return 1;
    *enabled = chain->isAgcEnabled() ? 1 : 0;
    return 0;
}

int PlaybackProcessing_setAGCTargetLevelDb(PlaybackProcessingData* data, float target_level) {
    const auto chain = chainOf(data);
    if (!chain)
        return 1;
    LOG4CXX_DEBUG(AC_PlaybackProcessingCWrapper_logger,
                  "setAGCTargetLevelDb called with target_level " << target_level);
    chain->setAgcTargetLevelDb(target_level);
    return 0;
}

int PlaybackProcessing_setAGCMaxGainDb(PlaybackProcessingData* data, float max_gain) {
    const auto chain = chainOf(data);
    if (!chain)
        return 1;
    LOG4CXX_DEBUG(AC_PlaybackProcessingCWrapper_logger,
                  "setAGCMaxGainDb called with max_gain " << max_gain);
    chain->setAgcMaxGainDb(max_gain);
    return 0;
}

int PlaybackProcessing_setAGCDecreaseMaxGain(PlaybackProcessingData* data, int enabled) {
    const auto chain = chainOf(data);
    if (!chain)
        return 1;
    LOG4CXX_DEBUG(AC_PlaybackProcessingCWrapper_logger,
                  "setAGCDecreaseMaxGain called with enabled " << enabled);
    chain->setAgcDecreaseMaxGain(enabled != 0);
    return 0;
}

int PlaybackProcessing_setAGCMaxAmp(PlaybackProcessingData* data, float max_amp) {
    const auto chain = chainOf(data);
    if (!chain)
        return 1;
    LOG4CXX_DEBUG(AC_PlaybackProcessingCWrapper_logger,
                  "setAGCMaxAmp called with max_amp " << max_amp);
    chain->setAgcMaxAmp(max_amp);
    return 0;
}

int PlaybackProcessing_setAGCNonspeechHoldGainTime(PlaybackProcessingData* data, float time) {
    const auto chain = chainOf(data);
    if (!chain)
        return 1;
    chain->setAgcNonspeechHoldGainTime(time);
    return 0;
}

int PlaybackProcessing_setAGCNonspeechReleaseSpeed(PlaybackProcessingData* data, float speed) {
    const auto chain = chainOf(data);
    if (!chain)
        return 1;
    chain->setAgcNonspeechReleaseSpeed(speed);
    return 0;
}

int PlaybackProcessing_setEqualizerEnabled(PlaybackProcessingData* data, int enabled) {
    const auto chain = chainOf(data);
    if (!chain)
        return 1;
    LOG4CXX_DEBUG(AC_PlaybackProcessingCWrapper_logger,
                  "setEqualizerEnabled called with enabled " << enabled);
    chain->setEqualizerEnabled(enabled != 0);
    return 0;
}

int PlaybackProcessing_getEqualizerEnabled(PlaybackProcessingData* data, int* enabled) {
    const auto chain = chainOf(data);
    if (!chain || enabled == nullptr)
        return 1;
    *enabled = chain->isEqualizerEnabled() ? 1 : 0;
    return 0;
}

int PlaybackProcessing_setEqualizerFilename(PlaybackProcessingData* data, const char* filename) {
    const auto chain = chainOf(data);
    if (!chain || filename == nullptr)
        return 1;
    LOG4CXX_DEBUG(AC_PlaybackProcessingCWrapper_logger,
                  "setEqualizerFilename called with filename " << filename);
    chain->setEqualizerFilename(filename);
    return 0;
}

int PlaybackProcessing_setOutputGainDb(PlaybackProcessingData* data, float gain) {
    const auto chain = chainOf(data);
    if (!chain)
        return 1;
    LOG4CXX_DEBUG(AC_PlaybackProcessingCWrapper_logger,
                  "setOutputGainDb called with gain " << gain);
    chain->setOutputGainDb(gain);
    return 0;
}

}  // extern "C"
