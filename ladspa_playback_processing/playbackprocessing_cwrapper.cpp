#include "playbackprocessing_cwrapper.h"

#include <log4cxx/logger.h>

#include <Eigen/Core>
#include <ZIZO_Config>
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <stdexcept>
#include <string>

#include "ExternalModuleRegistry.h"
#include "PlaybackProcessing.h"

struct PlaybackProcessingData {
    std::shared_ptr<PlaybackProcessing> chain;
    // The chain reads each input sample before it writes that sample's
    // output, so in and out may be the same buffer; buffers that overlap
    // otherwise go through this copy of the input, sized once at Init.
    Eigen::ArrayXf input;
};

namespace {

log4cxx::LoggerPtr AC_PlaybackProcessingCWrapper_logger =
    log4cxx::Logger::getLogger("ZIZO.PlaybackProcessingCWrapper");

// The DEBUG record a setter leaves before its call: the text, then the value
// in default stream formatting. The location is the setter's own, taken
// where the setter names it, so the record reads as written in the setter.
template <typename Value>
struct LoggedCall {
    LoggedCall(const log4cxx::spi::LocationInfo& where, const char* text, Value value)
        : where(where), text(text), value(value) {}
    void log() const {
        if (AC_PlaybackProcessingCWrapper_logger->isDebugEnabled()) {
            log4cxx::helpers::MessageBuffer buffer;
            AC_PlaybackProcessingCWrapper_logger->forcedLog(
                log4cxx::Level::getDebug(), buffer.str(buffer << text << value), where);
        }
    }
    log4cxx::spi::LocationInfo where;
    const char* text;
    Value value;
};

// The one path of every setter and getter: a null handle or one without a
// chain gives 1 with no effect and no record; otherwise the record (if any)
// is logged and call runs on a reference of the call's own, so a chain
// dropped meanwhile by the registry stays alive until the call returns.
template <typename Call>
int onChain(PlaybackProcessingData* data, Call call) {
    const std::shared_ptr<PlaybackProcessing> chain = data ? data->chain : nullptr;
    if (!chain)
        return 1;
    call(*chain);
    return 0;
}

template <typename Value, typename Call>
int onChain(PlaybackProcessingData* data, const LoggedCall<Value>& record, Call call) {
    return onChain(data, [&](PlaybackProcessing& chain) {
        record.log();
        call(chain);
    });
}

// Whether n samples at a and at b share memory without being the same.
bool overlapsPartly(const float* a, const float* b, std::size_t n) {
    const std::uintptr_t x = reinterpret_cast<std::uintptr_t>(a);
    const std::uintptr_t y = reinterpret_cast<std::uintptr_t>(b);
    const std::uintptr_t bytes = n * sizeof(float);
    return x != y && x < y + bytes && y < x + bytes;
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
        // The handle's sample block is sized first, so that a failure to
        // allocate them is caught here too and leaves nothing behind.
        data->input = Eigen::ArrayXf::Zero(Nblock);
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

// Flattened: at the plug-in's one-sample blocks the calls down to each
// block's sample loop would cost as much as part of the arithmetic, and
// link-time optimisation alone does not inline bodies this large.
__attribute__((flatten)) int PlaybackProcessing_Process(PlaybackProcessingData* data,
                                                        const float* in, float* out) {
    // The handle holds its reference until Uninit, which must not overlap
    // this call, so the audio path takes no reference of its own.
    if (data == nullptr || !data->chain || in == nullptr || out == nullptr)
        return 1;
    PlaybackProcessing& chain = *data->chain;
    const std::size_t n = chain.getNblock();
    if (overlapsPartly(in, out, n)) {
        std::copy(in, in + n, data->input.data());
        in = data->input.data();
    }
    chain.run(in, out);
    return 0;
}

// Flattened for the same reason as PlaybackProcessing_Process, for the
// buffers that go block by block.
__attribute__((flatten)) int PlaybackProcessing_ProcessBuffer(PlaybackProcessingData* data,
                                                              const float* in, float* out,
                                                              unsigned long n) {
    if (data == nullptr || !data->chain || in == nullptr || out == nullptr)
        return 1;
    PlaybackProcessing& chain = *data->chain;
    const std::size_t block = chain.getNblock();
    if (n % block != 0)
        return 1;
    // Buffers that overlap without being the same go block by block, so
    // that each block reads what the blocks before it left there, as single
    // calls would.
    if (!overlapsPartly(in, out, n) && chain.runOneSampleBlocks(in, out, n))
        return 0;
    for (std::size_t start = 0; start < n; start += block)
        PlaybackProcessing_Process(data, in + start, out + start);
    return 0;
}

int PlaybackProcessing_setAGCEnabled(PlaybackProcessingData* data, int enabled) {
    return onChain(data, [=](PlaybackProcessing& chain) { chain.setAgcEnabled(enabled != 0); });
}

int PlaybackProcessing_getAGCEnabled(PlaybackProcessingData* data, int* enabled) {
    if (enabled == nullptr)
        return 1;
    return onChain(data, [=](PlaybackProcessing& chain) { *enabled = chain.isAgcEnabled(); });
}

int PlaybackProcessing_setAGCTargetLevelDb(PlaybackProcessingData* data, float target_level) {
    return onChain(
        data,
        LoggedCall(LOG4CXX_LOCATION, "setAGCTargetLevelDb called with target_level ", target_level),
        [=](PlaybackProcessing& chain) { chain.setAgcTargetLevelDb(target_level); });
}

int PlaybackProcessing_setAGCMaxGainDb(PlaybackProcessingData* data, float max_gain) {
    return onChain(data,
                   LoggedCall(LOG4CXX_LOCATION, "setAGCMaxGainDb called with max_gain ", max_gain),
                   [=](PlaybackProcessing& chain) { chain.setAgcMaxGainDb(max_gain); });
}

int PlaybackProcessing_setAGCDecreaseMaxGain(PlaybackProcessingData* data, int enabled) {
    return onChain(
        data, LoggedCall(LOG4CXX_LOCATION, "setAGCDecreaseMaxGain called with enabled ", enabled),
        [=](PlaybackProcessing& chain) { chain.setAgcDecreaseMaxGain(enabled != 0); });
}

int PlaybackProcessing_setAGCMaxAmp(PlaybackProcessingData* data, float max_amp) {
    return onChain(data, LoggedCall(LOG4CXX_LOCATION, "setAGCMaxAmp called with max_amp ", max_amp),
                   [=](PlaybackProcessing& chain) { chain.setAgcMaxAmp(max_amp); });
}

int PlaybackProcessing_setAGCNonspeechHoldGainTime(PlaybackProcessingData* data, float time) {
    return onChain(data,
                   [=](PlaybackProcessing& chain) { chain.setAgcNonspeechHoldGainTime(time); });
}

int PlaybackProcessing_setAGCNonspeechReleaseSpeed(PlaybackProcessingData* data, float speed) {
    return onChain(data,
                   [=](PlaybackProcessing& chain) { chain.setAgcNonspeechReleaseSpeed(speed); });
}

int PlaybackProcessing_setEqualizerEnabled(PlaybackProcessingData* data, int enabled) {
    return onChain(
        data, LoggedCall(LOG4CXX_LOCATION, "setEqualizerEnabled called with enabled ", enabled),
        [=](PlaybackProcessing& chain) { chain.setEqualizerEnabled(enabled != 0); });
}

int PlaybackProcessing_getEqualizerEnabled(PlaybackProcessingData* data, int* enabled) {
    if (enabled == nullptr)
        return 1;
    return onChain(data, [=](PlaybackProcessing& chain) { *enabled = chain.isEqualizerEnabled(); });
}

int PlaybackProcessing_setEqualizerFilename(PlaybackProcessingData* data, const char* filename) {
    if (filename == nullptr)
        return 1;
    return onChain(
        data, LoggedCall(LOG4CXX_LOCATION, "setEqualizerFilename called with filename ", filename),
        [=](PlaybackProcessing& chain) { chain.setEqualizerFilename(filename); });
}

int PlaybackProcessing_setOutputGainDb(PlaybackProcessingData* data, float gain) {
    return onChain(data, LoggedCall(LOG4CXX_LOCATION, "setOutputGainDb called with gain ", gain),
                   [=](PlaybackProcessing& chain) { chain.setOutputGainDb(gain); });
}

}  // extern "C"
