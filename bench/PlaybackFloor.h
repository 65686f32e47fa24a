// The cost floor of the playback chain: the arithmetic of the detector, the
// equalizer, the AGC and the output gain, in the order the chain applies it,
// fused into one loop over a buffer with every state value in a local. No
// locks, no FIFO, no calls into the library, no Eigen, no per-sample history
// arrays: what a sample costs when nothing but its results is computed. The
// chain's measured paths are reported as ratios to it.
//
// Set-up as the device runs the chain: detector and AGC at their built-in
// parameters (AGC enabled with the maximum-gain reduction), equalizer enabled
// with the six sections of a coefficient file, output gain 0 dB. Every
// constant is derived here from the parameters, not read back from the
// blocks, so that a floor that matches the chain bit for bit also checks the
// chain's own derivations.
//
// Results: bit-identical to PlaybackProcessing::run for finite input, with
// the chain flushing subnormals to zero as this floor does (once per
// buffer). Non-finite input is not handled as the chain handles it.
//
// Two kinds of arithmetic, both bit-identical:
// - Arithmetic::Exact skips work that cannot change a result, as the chain
//   may: the histogram bin from the sample's bit pattern against the bin
//   edges instead of a logarithm; the end-of-block scan only when the bins it
//   covers together pass the threshold; no level logarithm for a speech
//   sample that finds the gain at its maximum with the level below target.
// - Arithmetic::Written evaluates every formula as written: one logarithm
//   per sample for the level while speech is flagged, one for the bin, and
//   the scan on every block once a second is counted.
//
// Not thread-safe: one thread per floor.
#ifndef LYRANE_BENCH_PLAYBACKFLOOR_H
#define LYRANE_BENCH_PLAYBACKFLOOR_H

#include <ZIZO_Config>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "FlushToZeroMode.h"
#include "ZIZO_ConfigImport.h"

namespace playback_floor {

enum class Arithmetic { Exact, Written };

constexpr std::size_t kSections = 6;
constexpr unsigned int kLevelBins = 32;

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

namespace detail {

inline std::uint32_t bitsOf(float x) {
    std::uint32_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return bits;
}

inline float floatOf(std::uint32_t bits) {
    float x;
    std::memcpy(&x, &bits, sizeof x);
    return x;
}

constexpr std::uint32_t kInfinityBits = 0x7f800000u;

// The AGC's linear factor of a gain in dB: log2 of the factor written into
// the exponent field, the fraction as a linear mantissa.
inline float gainFactor(float gainDb) {
    float y = gainDb * 0.1660964f;
    if (y < -126.0f || std::isnan(y)) {
        y = -126.0f;
    }
    if (y > 129.0f) {
        y = 129.0f;
    }
    const float v = (y + 126.94269504f) * 8388608.0f;
    return floatOf(static_cast<std::uint32_t>(v));
}

// The gain law's level in dB, floored at -96 dB.
inline float levelDb(float level) {
    float db = 20.0f * std::log10(level);
    if (db < -96.0f || std::isnan(db)) {
        db = -96.0f;
    }
    return db;
}

// Histogram bin of a high-passed sample: k for levels in (-3k-3, -3k] dBFS.
inline unsigned int levelBinByLogarithm(float h) {
    float d = 20.0f * std::log10(std::fabs(h));
    if (d < -95.9f || std::isnan(d)) {
        d = -95.9f;
    }
    if (d > 0.0f) {
        d = 0.0f;
    }
    return static_cast<unsigned int>(-static_cast<int>(std::ceil(d * 0.33333334f)));
}

// The bin as a function of the magnitude's bit pattern. The bin only falls
// as the magnitude grows, so each of the 31 places where it falls is found
// exactly by bisection over the bit patterns. One binary octave spans
// 6.02 dB and so holds at most three of them: a magnitude's bin is the bin at
// the bottom of its octave less the edges of that octave it has reached.
class LevelBinEdges {
  public:
    LevelBinEdges() {
        for (std::uint32_t e = 0; e < 256; ++e) {
            octaves[e].bottomBin = levelBinByLogarithm(floatOf(e << 23));
            octaves[e].edges.fill(std::numeric_limits<std::uint32_t>::max());
        }
        for (unsigned int k = 1; k < kLevelBins; ++k) {
            const std::uint32_t edge = firstBitsBelow(k);
            if ((edge & 0x7fffffu) == 0) {
                continue;  // at an octave's bottom: already in bottomBin
            }
            Octave& octave = octaves[edge >> 23];
            std::size_t free = 0;
            while (octave.edges[free] != std::numeric_limits<std::uint32_t>::max()) {
                ++free;
            }
            octave.edges[free] = edge;
        }
    }

    unsigned int bin(float h) const {
        const std::uint32_t bits = bitsOf(h) & 0x7fffffffu;
        if (bits > kInfinityBits) {
            return kLevelBins - 1;  // NaN
        }
        const Octave& octave = octaves[bits >> 23];
        return octave.bottomBin - (bits >= octave.edges[0]) - (bits >= octave.edges[1]) -
               (bits >= octave.edges[2]);
    }

  private:
    // Smallest magnitude bit pattern whose bin is below k.
    static std::uint32_t firstBitsBelow(unsigned int k) {
        std::uint32_t atOrAbove = 0, below = kInfinityBits;
        while (below - atOrAbove > 1) {
            const std::uint32_t middle = atOrAbove + (below - atOrAbove) / 2;
            if (levelBinByLogarithm(floatOf(middle)) < k) {
                below = middle;
            } else {
                atOrAbove = middle;
            }
        }
        return below;
    }

    struct Octave {
        unsigned int bottomBin;
        std::array<std::uint32_t, 3> edges;
    };
    std::array<Octave, 256> octaves;
};

// The largest level whose level in dB is below targetDb (levelDb is monotone
// in the level, so bisection over the bit patterns is exact); NaN if none.
inline float largestLevelBelow(float targetDb) {
    if (!(levelDb(0.0f) < targetDb)) {
        return std::numeric_limits<float>::quiet_NaN();
    }
    std::uint32_t below = 0, atOrAbove = kInfinityBits;
    while (atOrAbove - below > 1) {
        const std::uint32_t middle = below + (atOrAbove - below) / 2;
        if (levelDb(floatOf(middle)) < targetDb) {
            below = middle;
        } else {
            atOrAbove = middle;
        }
    }
    return floatOf(below);
}

inline float smoothingCoef(unsigned int fs, float tau_s) {
    return std::exp(-1.0f / (static_cast<float>(fs) * tau_s));
}

}  // namespace detail

template <unsigned int Nblock>
class PlaybackFloor {
  public:
    static_assert(Nblock > 0, "a block holds at least one sample");

    // Throws std::invalid_argument for fs 0.
    PlaybackFloor(unsigned int fs, const EqualizerSet& equalizer) : fs(fs), eq(equalizer) {
        if (fs == 0) {
            throw std::invalid_argument("PlaybackFloor needs fs > 0");
        }
        const float tau_s[5] = {0.003f, 0.04f, 0.2f, 1.0f, 2.048f};
        for (int k = 0; k < 5; ++k) {
            sadCoef[k] = detail::smoothingCoef(fs, tau_s[k]);
        }
        threshAbsolute = std::pow(10.0f, -60.0f * 0.05f);
        threshOpen = std::pow(10.0f, 12.0f * 0.05f);
        threshClose = std::pow(10.0f, 2.0f * 0.05f);
        // Divided by the block length first, then multiplied by the rate.
        holdOpenBlocks = static_cast<std::uint32_t>(
            std::ceil(0.2f / static_cast<float>(Nblock) * static_cast<float>(fs)));
        holdClosedBlocks = static_cast<std::uint32_t>(
            std::ceil(0.032f / static_cast<float>(Nblock) * static_cast<float>(fs)));

        levelCoef = detail::smoothingCoef(fs, 1.5f);
        duckCoef = detail::smoothingCoef(fs, 0.1f);
        gainStepPerDb = 1.0f / static_cast<float>(fs);
        holdSamples = static_cast<std::uint32_t>(static_cast<float>(fs) * 1.0f);
        releaseStepDb = 3.0f / static_cast<float>(fs);
        hpCoefA = std::exp(-100.0f / static_cast<float>(fs));
        hpCoefB = 0.5f + 0.5f * hpCoefA;
        levelBelowTargetMax = detail::largestLevelBelow(kTargetLevelDb);
        outputGain = static_cast<float>(std::pow(10.0, 0.0 * 0.05));
        setMaxGain(kMaxGainDb);
    }

    // Processes the whole blocks of n samples from in to out (in may be out);
    // a partial block at the end is left alone. Subnormals are flushed to
    // zero for the duration of the call.
    template <Arithmetic kind = Arithmetic::Exact>
    void process(const float* in, float* out, std::size_t n);

    float maxGainDb() const { return currentMaxGainDb; }
    bool isSpeech() const { return gateState <= kClosing; }

  private:
    static constexpr float kTargetLevelDb = -6.0f;
    static constexpr float kMaxGainDb = 35.0f;
    static constexpr float kMaxAmp = 0.95f;
    enum : std::uint32_t { kOpen = 0, kClosing = 1, kClosed = 2, kOpening = 3 };

    void setMaxGain(float gainDb) {
        currentMaxGainDb = gainDb;
        const float limit = std::ceil(gainDb * 0.33333334f);
        scanBins = 0;
        scanBinsCount = 0;
        while (scanBins < kLevelBins && static_cast<float>(scanBins) < limit) {
            scanBinsCount += histogram[scanBins++];
        }
    }
    void clearHistogram() {
        histogram.fill(0);
        histogramSamples = 0;
        scanBinsCount = 0;
    }
    template <Arithmetic kind>
    void endOfBlock();
    void stepGate(bool closing, bool opening);
    void switchState(std::uint32_t state) {
        gateState = state;
        blockCounter = 0;
    }

    const unsigned int fs;
    const EqualizerSet eq;
    const detail::LevelBinEdges binEdges;

    // Detector.
    float sadCoef[5];
    float threshAbsolute, threshOpen, threshClose;
    std::uint32_t holdOpenBlocks, holdClosedBlocks;
    float envelope = 0.12589253f, floorTrack = 0.01f, floorSmooth = 0.01f;
    std::uint32_t gateState = kClosed, blockCounter = 0;

    // Equalizer: w1 and w2 of each section.
    std::array<float, kSections> w1{}, w2{};

    // AGC.
    float levelCoef, duckCoef, gainStepPerDb, releaseStepDb, hpCoefA, hpCoefB;
    float levelBelowTargetMax;
    std::uint32_t holdSamples;
    float gainDb = 0.0f, duckGain = 1.0f, level = 0.1f;
    std::uint32_t nonspeechCounter = 0;
    float hpPrevInput = 0.0f, hpPrevOutput = 0.0f;
    std::array<std::uint32_t, kLevelBins> histogram{};
    std::uint32_t histogramSamples = 0;
    float currentMaxGainDb = 0.0f;
    // Bins the end-of-block scan reads (those below currentMaxGainDb / 3)
    // and their total: no prefix of them can pass the threshold unless the
    // total does.
    std::uint32_t scanBins = 0, scanBinsCount = 0;

    float outputGain;
};

template <unsigned int Nblock>
void PlaybackFloor<Nblock>::stepGate(bool closing, bool opening) {
    switch (gateState) {
        case kOpen:
            if (closing) {
                switchState(kClosing);
            } else {
                ++blockCounter;
            }
            break;
        case kClosing:
            if (!closing) {
                switchState(kOpen);
            } else if (++blockCounter >= holdOpenBlocks) {
                switchState(kClosed);
            }
            break;
        case kClosed:
            if (opening) {
                switchState(kOpening);
            } else {
                ++blockCounter;
            }
            break;
        default:  // kOpening
            if (!opening) {
                switchState(kClosed);
            } else if (++blockCounter >= holdClosedBlocks) {
                switchState(kOpen);
            }
            break;
    }
}

template <unsigned int Nblock>
template <Arithmetic kind>
void PlaybackFloor<Nblock>::endOfBlock() {
    histogramSamples += Nblock;
    const float threshold = static_cast<float>(histogramSamples) * 0.001f;
    const bool mayPass =
        kind == Arithmetic::Written || threshold < static_cast<float>(scanBinsCount);
    if (histogramSamples > fs && mayPass) {
        std::uint32_t sum = 0;
        for (std::uint32_t j = 0; j < scanBins; ++j) {
            sum += histogram[j];
            if (threshold < static_cast<float>(sum)) {
                setMaxGain(static_cast<float>(3 * j));
                break;
            }
        }
    }
    if (histogramSamples > 3 * fs) {
        clearHistogram();
    }
}

template <unsigned int Nblock>
template <Arithmetic kind>
void PlaybackFloor<Nblock>::process(const float* in, float* out, std::size_t n) {
    FlushToZeroMode flushSubnormals;
    const float c1 = sadCoef[0], c2 = sadCoef[1], c3 = sadCoef[2], c4 = sadCoef[3], c5 = sadCoef[4];
    float env = envelope, trk = floorTrack, smo = floorSmooth;
    float s1[kSections], s2[kSections];
    for (std::size_t s = 0; s < kSections; ++s) {
        s1[s] = w1[s], s2[s] = w2[s];
    }
    float gain = gainDb, duck = duckGain, lev = level, hpIn = hpPrevInput, hpOut = hpPrevOutput;
    std::uint32_t nonspeech = nonspeechCounter;

    for (std::size_t start = 0; start + Nblock <= n; start += Nblock) {
        const float* const x = in + start;
        float* const y = out + start;

        // Detector: the block's decision, needed before its first AGC sample.
        bool closing = false, ratioOpens = false, loudEnough = false;
        for (unsigned int i = 0; i < Nblock; ++i) {
            float a = std::fabs(x[i]);
            float w = env < a ? c1 : c2;
            env = env * w + (1.0f - w) * a;
            a = std::fabs(env);
            w = trk < a ? c5 : c1;
            trk = trk * w + (1.0f - w) * a;
            a = std::fabs(trk);
            w = smo < a ? c4 : c3;
            smo = smo * w + (1.0f - w) * a;
            const float ratio = env / (smo + 1e-6f);
            closing |= ratio < threshClose;
            ratioOpens |= ratio > threshOpen;
            loudEnough |= env > threshAbsolute;
        }
        stepGate(closing, ratioOpens && loudEnough);
        const bool speech = gateState <= kClosing;

        for (unsigned int i = 0; i < Nblock; ++i) {
            // Equalizer: direct form II per section, products rounded before
            // they are added, in this order.
            float e = x[i];
            for (std::size_t s = 0; s < kSections; ++s) {
                const std::array<float, 5>& c = eq.sections[s];
                const float w = (e - c[3] * s1[s]) - c[4] * s2[s];
                e = ((c[2] * s2[s]) + c[1] * s1[s]) + c[0] * w;
                s2[s] = s1[s];
                s1[s] = w;
            }
            e = eq.gain * e;

            // AGC on the equalized sample.
            const float applied = duck * detail::gainFactor(gain);
            const float g = applied * e;
            const float magnitude = std::fabs(g);
            if (magnitude > kMaxAmp) {
                duck = duck * kMaxAmp / magnitude;
            } else {
                duck = 1.0f + (duck - 1.0f) * duckCoef;
            }
            const float s = lev * levelCoef + (1.0f - levelCoef) * magnitude;
            lev = s >= magnitude ? s : magnitude;

            const float h = hpCoefA * hpOut + hpCoefB * (e - hpIn);
            hpIn = e;
            hpOut = h;
            const unsigned int bin =
                kind == Arithmetic::Written ? detail::levelBinByLogarithm(h) : binEdges.bin(h);
            ++histogram[bin];
            scanBinsCount += bin < scanBins;

            if (speech) {
                nonspeech = 0;
                const bool pinnedAtMax = kind == Arithmetic::Exact && gain == currentMaxGainDb &&
                                         lev <= levelBelowTargetMax;
                if (!pinnedAtMax) {
                    float next = gain + gainStepPerDb * (kTargetLevelDb - detail::levelDb(lev));
                    if (next > currentMaxGainDb) {
                        next = currentMaxGainDb;
                    }
                    if (next < -kMaxGainDb) {
                        next = -kMaxGainDb;
                    }
                    gain = next;
                }
            } else if (++nonspeech > holdSamples) {
                gain = gain > 0.0f ? gain - releaseStepDb : gain + releaseStepDb;
            }

            float r = g <= kMaxAmp ? g : kMaxAmp;
            if (-kMaxAmp >= r) {
                r = -kMaxAmp;
            }
            y[i] = r * outputGain;
        }
        endOfBlock<kind>();
    }

    envelope = env, floorTrack = trk, floorSmooth = smo;
    for (std::size_t s = 0; s < kSections; ++s) {
        w1[s] = s1[s], w2[s] = s2[s];
    }
    gainDb = gain, duckGain = duck, level = lev, hpPrevInput = hpIn, hpPrevOutput = hpOut;
    nonspeechCounter = nonspeech;
}

}  // namespace playback_floor

#endif  // LYRANE_BENCH_PLAYBACKFLOOR_H
