#include "Lyrane.h"

#include <ExternalModuleRegistry.h>
#include <PlaybackChainNames.h>
#include <PlaybackProcessing.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

namespace {

// A frame is 16 ms: fs * 16 / 1000 samples, truncated.
constexpr std::uint64_t kFrameMs = 16;
// The chain the device's sound server plays the far-end signal through.
const char* const kPlaybackChainName = LYRANE_ACOUSTIC_CHAIN_NAME;

unsigned int positiveInt(const ZIZO_Config& config, const std::string& key) {
    if (!config.exist<int>(key)) {
        throw std::invalid_argument("Lyrane: parameter " + key +
                                    " (int) is missing from the configuration");
    }
    const int value = config.get<int>(key);
    if (value < 1) {
        throw std::invalid_argument("Lyrane: parameter " + key + " must be at least 1, got " +
                                    std::to_string(value));
    }
    return static_cast<unsigned int>(value);
}

}  // namespace

Lyrane::Lyrane(const ZIZO_Config& config, unsigned int, unsigned int, unsigned int)
    : fs(positiveInt(config, "fs")), Nmics(positiveInt(config, "Nmics")) {
    frameLength = static_cast<unsigned int>(fs * kFrameMs / 1000);
    if (frameLength == 0) {
        throw std::invalid_argument("Lyrane: fs " + std::to_string(fs) +
                                    " Hz is too low for a 16 ms frame");
    }
}

void Lyrane::notifyMasterVolumeLevel(unsigned int level, unsigned int) {
    masterVolumeLevel = level;
}

void Lyrane::Batch(Eigen::ArrayXXf& mics, Eigen::ArrayXf& farend, Eigen::ArrayXf& out,
                   Eigen::ArrayXf& out2, const EventMap&) {
    const Eigen::Index samples = mics.cols();
    if (mics.rows() != static_cast<Eigen::Index>(Nmics) || farend.size() != samples ||
        out.size() != samples || out2.size() != samples) {
        throw std::invalid_argument("Lyrane: Batch needs " + std::to_string(Nmics) +
                                    " microphone rows and four signals of equal length");
    }
    // Looked up once per call: the registry only changes at set-up.
    const std::shared_ptr<PlaybackProcessing> chain =
        ExternalModuleRegistry::getInstance()->getPlaybackProcessing(kPlaybackChainName);
    const Eigen::Index frames = samples / frameLength;
    for (Eigen::Index frame = 0; frame < frames; ++frame) {
        const Eigen::Index first = frame * frameLength;
        mixFrame(mics, first, out);
        pullReference(chain.get(), farend, first, out2);
        ++framesExecuted;
    }
}

void Lyrane::mixFrame(const Eigen::ArrayXXf& mics, Eigen::Index first, Eigen::ArrayXf& out) const {
    for (Eigen::Index n = first; n < first + static_cast<Eigen::Index>(frameLength); ++n) {
        float sum = 0.0f;
        for (Eigen::Index m = 0; m < mics.rows(); ++m) {
            sum += mics(m, n);
        }
        out[n] = sum / static_cast<float>(Nmics);
    }
}

void Lyrane::pullReference(PlaybackProcessing* chain, const Eigen::ArrayXf& farend,
                           Eigen::Index first, Eigen::ArrayXf& out2) const {
    Eigen::ArrayXf played(1);
    Eigen::ArrayXf discarded(1);
    for (Eigen::Index n = first; n < first + static_cast<Eigen::Index>(frameLength); ++n) {
        if (chain == nullptr) {
            out2[n] = 0.0f;
            continue;
        }
        // Play one sample, then pull one: the order a sound server running
        // ahead of the core would give.
        played[0] = farend[n];
        chain->run(played, discarded);
        out2[n] = chain->getNextInputSample();
    }
}
