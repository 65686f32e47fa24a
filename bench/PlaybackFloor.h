// The cost floor of the playback chain: the blocks' kernels (SadKernel.h,
// lyrane_detail/BiquadKernel.h, AgcKernel.h) in one loop over a buffer, in
// the order the chain applies them, with every state value in a local and
// the output gain as a plain product. One-sample blocks run the equalizer's
// sections side by side in vector lanes (BiquadLanePipeline.h) where the
// chain's buffer path does; longer blocks run them in turn, as the
// equalizer block does. No bookkeeping: no locks, no FIFO, no
// settings hand-over, no log records, no subnormal countdowns, no Eigen.
// What a sample costs when nothing but its results is computed. The chain's
// measured paths are reported as ratios to it.
//
// Set-up as the device runs the chain: detector and AGC at their built-in
// parameters (AGC enabled with the maximum-gain reduction), equalizer enabled
// with the six sections of a coefficient file, output gain 0 dB. Every
// coefficient is derived here from the parameters, not read back from the
// blocks, so that a floor that matches the chain bit for bit also checks the
// chain's own derivations.
//
// Results: bit-identical to PlaybackProcessing::run, with the chain flushing
// subnormals to zero as this floor does (once per buffer), in either kind of
// arithmetic (AgcKernel.h): Arithmetic::Fast as the blocks run it,
// Arithmetic::Written with every formula evaluated as written, and the
// reduction's scan on every block once a second is counted.
//
// Not thread-safe: one thread per floor.
#ifndef LYRANE_BENCH_PLAYBACKFLOOR_H
#define LYRANE_BENCH_PLAYBACKFLOOR_H

#include <ZIZO_Config>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "AgcGainLaw.h"
#include "AgcKernel.h"
#include "AgcLevelBins.h"
#include "BiquadLanePipeline.h"
#include "FlushToZeroMode.h"
#include "SadKernel.h"
#include "ZIZO_ConfigImport.h"
#include "lyrane_detail/BiquadKernel.h"

namespace playback_floor {

using lyrane::Arithmetic;

constexpr std::size_t kSections = 6;

// Coefficients b0, b1, b2, a1, a2 of each section, then the cascade's gain.
struct EqualizerSet {
    std::array<std::array<float, 5>, kSections> sections;
    float gain;
};

// The filter set for fs from a version-2 coefficient file (one group
// "filter_fs_<fs>" per rate). Throws std::runtime_error if the file cannot
// be read or the group does not hold six well-formed sections.
inline EqualizerSet loadEqualizerSet(const std::string& path, unsigned int fs) {
    auto importer = ZIZO_ConfigImport::make_zizo_configimport(ZIZO_ConfigImport::LIBCONFIG);
    if (!importer || importer->import(path) != 0) {
        throw std::runtime_error("cannot read coefficient file " + path);
    }
    const ZIZO_Config group =
        importer->getConfig().getGroup("filter_fs_" + std::to_string(fs) + ".");
    EqualizerSet set{};
    set.gain = group.exist<float>("gain") ? group.get<float>("gain") : 1.0f;
    const char* const columns[5] = {"b0", "b1", "b2", "a1", "a2"};
    for (std::size_t c = 0; c < 5; ++c) {
        if (!group.exist<std::vector<float>>(columns[c])) {
            throw std::runtime_error(path + ": no float array " + columns[c] + " for " +
                                     std::to_string(fs) + " Hz");
        }
        const std::vector<float> column = group.get<std::vector<float>>(columns[c]);
        if (column.size() != kSections) {
            throw std::runtime_error(path + ": the floor needs exactly six sections");
        }
        for (std::size_t s = 0; s < kSections; ++s) {
            set.sections[s][c] = column[s];
        }
    }
    return set;
}

template <unsigned int Nblock>
class PlaybackFloor {
  public:
    static_assert(Nblock > 0, "a block holds at least one sample");

    // Throws std::invalid_argument for fs 0.
    PlaybackFloor(unsigned int fs, const EqualizerSet& equalizer)
        : fs(fs), eqGain(equalizer.gain), binTable(lyrane::levelBinTable()) {
        if (fs == 0) {
            throw std::invalid_argument("PlaybackFloor needs fs > 0");
        }
        for (std::size_t s = 0; s < kSections; ++s) {
            const std::array<float, 5>& c = equalizer.sections[s];
            eq[s] = {c[0], c[1], c[2], c[3], c[4]};
        }
        const float tau_s[5] = {0.003f, 0.04f, 0.2f, 1.0f, 2.048f};
        for (int k = 0; k < 5; ++k) {
            sad.coef[k] = smoothingCoef(fs, tau_s[k]);
        }
        sad.threshAbsolute = std::pow(10.0f, -60.0f * 0.05f);
        sad.threshOpen = std::pow(10.0f, 12.0f * 0.05f);
        sad.threshClose = std::pow(10.0f, 2.0f * 0.05f);
        // Divided by the block length first, then multiplied by the rate.
        holdOpenBlocks = static_cast<std::uint32_t>(
            std::ceil(0.2f / static_cast<float>(Nblock) * static_cast<float>(fs)));
        holdClosedBlocks = static_cast<std::uint32_t>(
            std::ceil(0.032f / static_cast<float>(Nblock) * static_cast<float>(fs)));

        agc.maxAmp = kMaxAmp;
        agc.levelCoef = smoothingCoef(fs, 1.5f);
        agc.duckCoef = smoothingCoef(fs, 0.1f);
        agc.levelBelowTargetMax = lyrane::largestLevelBelow(kTargetLevelDb);
        agc.law = {kTargetLevelDb, 1.0f / static_cast<float>(fs), kMaxGainDb, kMaxGainDb};
        agc.holdSamples = static_cast<std::uint32_t>(static_cast<float>(fs) * 1.0f);
        agc.releaseStepDb = 3.0f / static_cast<float>(fs);
        hp.a = std::exp(-100.0f / static_cast<float>(fs));
        hp.b = 0.5f + 0.5f * hp.a;
        outputGain = static_cast<float>(std::pow(10.0, 0.0 * 0.05));
        setMaxGain(kMaxGainDb);
    }

    // Processes the whole blocks of n samples from in to out (in may be out);
    // a partial block at the end is left alone. Subnormals are flushed to
    // zero for the duration of the call.
    template <Arithmetic kind = Arithmetic::Fast>
    void process(const float* in, float* out, std::size_t n);

    float maxGainDb() const { return agc.law.maxGainDb; }
    bool isSpeech() const { return gateState <= lyrane::kSadClosing; }

  private:
    static constexpr float kTargetLevelDb = -6.0f;
    static constexpr float kMaxGainDb = 35.0f;
    static constexpr float kMaxAmp = 0.95f;

    static float smoothingCoef(unsigned int fs, float tau_s) {
        return std::exp(-1.0f / (static_cast<float>(fs) * tau_s));
    }
    void setMaxGain(float gainDb) {
        agc.law.maxGainDb = gainDb;
        scanBins = lyrane::scanBinsBelow(gainDb, histogram.data(), scanBinsCount);
    }
    template <Arithmetic kind>
    void endOfBlock();

    const unsigned int fs;
    std::array<lyrane::BiquadCoefficients<float>, kSections> eq;
    const float eqGain;
    const lyrane::LevelBinTable& binTable;

    // Detector.
    lyrane::SadCoefficients sad{};
    std::uint32_t holdOpenBlocks, holdClosedBlocks;
    lyrane::SadTrackers trackers{0.12589253f, 0.01f, 0.01f};
    int gateState = lyrane::kSadClosed;
    std::uint32_t blockCounter = 0;

    // Equalizer.
    std::array<lyrane::BiquadState<float>, kSections> sections{};

    // AGC.
    lyrane::AgcSampleSettings agc{};
    lyrane::AgcLoopState loop{0.0f, 1.0f, 0.1f, lyrane::floatBits(0.0f), lyrane::gainFactor(0.0f),
                              0};
    lyrane::HighPassCoefficients hp{};
    lyrane::HighPassState hpState{0.0f, 0.0f};
    std::array<std::uint32_t, lyrane::kAgcLevelBins> histogram{};
    std::uint32_t histogramSamples = 0;
    // Bins the end-of-block scan reads (those below the maximum / 3) and
    // their total: no prefix of them can pass the threshold unless the total
    // does.
    std::uint32_t scanBins = 0, scanBinsCount = 0;

    float outputGain;
};

template <unsigned int Nblock>
template <Arithmetic kind>
void PlaybackFloor<Nblock>::endOfBlock() {
    histogramSamples += Nblock;
    const bool mayPass =
        kind == Arithmetic::Written ||
        lyrane::overdriveThreshold(histogramSamples) < static_cast<float>(scanBinsCount);
    if (histogramSamples > fs && mayPass) {
        const int j = lyrane::overdrivenBin(histogram.data(), scanBins, histogramSamples);
        if (j >= 0) {
            setMaxGain(static_cast<float>(3 * j));
        }
    }
    if (histogramSamples > 3 * fs) {
        histogram.fill(0);
        histogramSamples = 0;
        scanBinsCount = 0;
    }
}

template <unsigned int Nblock>
template <Arithmetic kind>
void PlaybackFloor<Nblock>::process(const float* in, float* out, std::size_t n) {
    FlushToZeroMode flushSubnormals;
    lyrane::SadTrackers t = trackers;
    std::array<lyrane::BiquadState<float>, kSections> w = sections;
    lyrane::AgcLoopState s = loop;
    lyrane::HighPassState h = hpState;

    // The detector's decision on a block, needed before its first AGC sample.
    const auto decide = [&](const float* x) {
        lyrane::SadBlockTests tests;
        for (unsigned int i = 0; i < Nblock; ++i) {
            lyrane::sadSample(sad, t, tests, x[i]);
        }
        lyrane::sadGateStep(gateState, blockCounter, holdOpenBlocks, holdClosedBlocks,
                            tests.closing, tests.opening());
        return gateState <= lyrane::kSadClosing;
    };
    // The AGC and the output gain on an equalized sample e.
    const auto level = [&](float e, bool speech, std::uint32_t& inScan, float& y) {
        bool ducked = false;
        lyrane::countLevel<kind>(hp, h, binTable, histogram.data(), scanBins, inScan, e);
        // agc itself: a block's end may lower the maximum gain.
        y = lyrane::agcSample<kind>(agc, s, e, speech, ducked) * outputGain;
    };

    if constexpr (Nblock == 1 && lyrane::kBiquadLanePipelineUsed) {
        // As the chain's buffer path runs one-sample blocks: the sections
        // side by side in vector lanes, each sample's block as it leaves
        // them.
        lyrane::BiquadLanePipeline<kSections> lanes(eq.data(), w.data(), kSections);
        lanes.run(in, n, eqGain, [&](std::size_t j, float e) {
            const bool speech = decide(in + j);
            std::uint32_t inScan = 0;
            level(e, speech, inScan, out[j]);
            scanBinsCount += inScan;
            endOfBlock<kind>();
        });
        lanes.store(w.data());
    } else {
        for (std::size_t start = 0; start + Nblock <= n; start += Nblock) {
            const float* const x = in + start;
            float* const y = out + start;
            const bool speech = decide(x);
            std::uint32_t inScan = 0;
            for (unsigned int i = 0; i < Nblock; ++i) {
                float e = x[i];
                for (std::size_t k = 0; k < kSections; ++k) {
                    e = lyrane::biquadSample(eq[k], w[k], e);
                }
                level(eqGain * e, speech, inScan, y[i]);
            }
            scanBinsCount += inScan;
            endOfBlock<kind>();
        }
    }

    trackers = t;
    sections = w;
    loop = s;
    hpState = h;
}

}  // namespace playback_floor

#endif  // LYRANE_BENCH_PLAYBACKFLOOR_H
