// The AGC's per-sample arithmetic as inline kernels over plain values: what
// one sample does to the loop state (gain, duck gain, level follower,
// non-speech count) and to the level histogram's high-pass and bins. The
// block (ZIZO_agc) takes its settings, carries the state from block to
// block and posts its records around these; the playback floor and the
// tests' model run the same kernels.
//
// Two kinds of arithmetic, bit-identical in their results:
// - Arithmetic::Fast skips work that cannot change a result: the gain
//   factor only when the gain moved, the gain law from bounds of a cheap
//   logarithm, no gain law at all for a speech sample that finds the gain at
//   its maximum with the level below target, the bin from a table.
// - Arithmetic::Written evaluates every formula as written.
//
// Internal to the library, its measurements and its tests; not installed.
#ifndef LYRANE_AGCKERNEL_H
#define LYRANE_AGCKERNEL_H

#include <cmath>
#include <cstdint>
#include <limits>

#include "AgcGainLaw.h"
#include "AgcLevelBins.h"
#include "lyrane_detail/FloatBits.h"

namespace lyrane {

enum class Arithmetic { Fast, Written };

// What a block's samples read of the settings.
struct AgcSampleSettings {
    float maxAmp;
    float levelCoef;
    float duckCoef;
    // The largest level whose level in dB is below the target (NaN if none):
    // at or below it a speech sample leaves a gain at the maximum there.
    float levelBelowTargetMax;
    GainLaw law;
    uint32_t holdSamples;
    float releaseStepDb;  // dB per sample
};

// The loop state carried from sample to sample.
struct AgcLoopState {
    float gainDb;
    float duckGain;
    float level;
    // gainFactor(gainDb) as last computed, and the gain's bits it is for.
    uint32_t factorGainBits;
    float factorOfGain;
    uint32_t nonspeechCounter;
};

// The DC-blocking high-pass in front of the level histogram.
struct HighPassState {
    float prevInput;
    float prevOutput;
};
struct HighPassCoefficients {
    float a;
    float b;
};

// Peak follower: instant rise, exponential decay with tau_level. An infinite
// level would never decay again and hold the gain at its minimum for good; a
// sample without a finite magnitude is not measured.
inline float nextLevel(float prevLevel, float magnitude, float levelCoef) {
    if (!std::isfinite(magnitude)) {
        return prevLevel;
    }
    const float s = prevLevel * levelCoef + (1.0f - levelCoef) * magnitude;
    // The same as s >= magnitude ? s : magnitude (a NaN s gives magnitude
    // either way, and a zero s or magnitude is +0), written as a maximum
    // instruction reads: one step on the gain loop's chain instead of a
    // compare and a blend.
    return s > magnitude ? s : magnitude;
}

// The duck gain acts from the next sample on; returns whether this sample
// was ducked.
inline bool nextDuckGain(float& duckGain, float magnitude, float maxAmp, float duckCoef) {
    if (magnitude > maxAmp) {
        duckGain = duckGain * maxAmp / magnitude;
        return true;
    }
    duckGain = 1.0f + (duckGain - 1.0f) * duckCoef;
    return false;
}

// Written so that NaN becomes +max_amp.
inline float clipToMaxAmp(float y, float maxAmp) {
    float r = y <= maxAmp ? y : maxAmp;
    if (-maxAmp >= r) {
        r = -maxAmp;
    }
    return r;
}

template <Arithmetic kind>
inline float gainFactorOf(AgcLoopState& s) {
    if (kind == Arithmetic::Written) {
        return gainFactor(s.gainDb);
    }
    // The gain often stays put (held, or at the maximum): then so does its
    // factor.
    if (floatBits(s.gainDb) != s.factorGainBits) {
        s.factorGainBits = floatBits(s.gainDb);
        s.factorOfGain = gainFactorScaled(s.gainDb);
    }
    return s.factorOfGain;
}

template <Arithmetic kind>
inline void nextGain(const AgcSampleSettings& p, AgcLoopState& s, bool speech) {
    if (speech) {
        s.nonspeechCounter = 0;
        if (kind == Arithmetic::Written) {
            s.gainDb = speechGainDbByLogarithm(p.law, s.gainDb, s.level);
        } else if (!(s.gainDb == p.law.maxGainDb && s.level <= p.levelBelowTargetMax)) {
            s.gainDb = speechGainDb(p.law, s.gainDb, s.level);
        } else {
            // At the maximum with the level below target the step only
            // pushes against the upper clamp (the lower one is <= 0 <=
            // maxGainDb), so the logarithm is not needed.
            s.gainDb = p.law.maxGainDb;
        }
        return;
    }
    if (s.nonspeechCounter < std::numeric_limits<uint32_t>::max()) {
        ++s.nonspeechCounter;
    }
    // A gain of exactly 0 steps up, so the gain ends up alternating around
    // 0 dB by one step.
    if (s.nonspeechCounter > p.holdSamples) {
        s.gainDb = s.gainDb > 0.0f ? s.gainDb - p.releaseStepDb : s.gainDb + p.releaseStepDb;
    }
}

// One sample of the gain loop: the output for input x. Sets ducked when the
// sample was ducked.
template <Arithmetic kind = Arithmetic::Fast>
[[gnu::always_inline]] inline float agcSample(const AgcSampleSettings& p, AgcLoopState& s, float x,
                                              bool speech, bool& ducked) {
    const float applied = s.duckGain * gainFactorOf<kind>(s);
    const float y = applied * x;
    const float magnitude = std::fabs(y);
    ducked |= nextDuckGain(s.duckGain, magnitude, p.maxAmp, p.duckCoef);
    s.level = nextLevel(s.level, magnitude, p.levelCoef);
    nextGain<kind>(p, s, speech);
    return clipToMaxAmp(y, p.maxAmp);
}

// The high-pass of input sample x. A non-finite input would stay in the
// filter state for good and put every later sample into the silent bin; such
// a sample is counted (an infinity as loud, NaN as silent) but does not
// enter the state.
inline float highPassSample(const HighPassCoefficients& c, HighPassState& s, float x) {
    const float h = c.a * s.prevOutput + c.b * (x - s.prevInput);
    if (std::isfinite(h)) {
        s.prevInput = x;
        s.prevOutput = h;
    }
    return h;
}

// Counts input sample x in the level histogram, and in inScan when its bin
// is one of the first scanBins.
template <Arithmetic kind = Arithmetic::Fast>
[[gnu::always_inline]] inline void countLevel(const HighPassCoefficients& c, HighPassState& s,
                                              const LevelBinTable& table, uint32_t* counts,
                                              uint32_t scanBins, uint32_t& inScan, float x) {
    const float h = highPassSample(c, s, x);
    const unsigned int bin = kind == Arithmetic::Written ? levelBinByLogarithm(h) : table.bin(h);
    ++counts[bin];
    inScan += bin < scanBins;
}

// The maximum-gain reduction's block end. Only bins below the current
// maximum can lower it (bin j lowers it to 3 j dB), and never past the last
// bin: scanBinsBelow gives how many bins the scan reads for a maximum of
// maxGainDb, with their total count in total.
inline uint32_t scanBinsBelow(float maxGainDb, const uint32_t* counts, uint32_t& total) {
    constexpr float kBinsPerDb = 0.33333334f;
    const float limit = std::ceil(maxGainDb * kBinsPerDb);
    uint32_t bins = 0;
    total = 0;
    while (bins < kAgcLevelBins && static_cast<float>(bins) < limit) {
        total += counts[bins];
        ++bins;
    }
    return bins;
}

// The threshold of the scan: more than 0.1 % of the counted samples would be
// driven past full scale.
inline float overdriveThreshold(uint32_t samples) {
    constexpr float kOverdriveShare = 0.001f;
    return static_cast<float>(samples) * kOverdriveShare;
}

// The first bin j < scanBins at which bins 0 .. j together hold more than
// the threshold of samples counted, or -1 for none. A scan can find a bin
// only when the total over all scanned bins passes the threshold.
inline int overdrivenBin(const uint32_t* counts, uint32_t scanBins, uint32_t samples) {
    const float threshold = overdriveThreshold(samples);
    uint32_t sum = 0;
    for (uint32_t j = 0; j < scanBins; ++j) {
        sum += counts[j];
        if (threshold < static_cast<float>(sum)) {
            return static_cast<int>(j);
        }
    }
    return -1;
}

}  // namespace lyrane

#endif  // LYRANE_AGCKERNEL_H
