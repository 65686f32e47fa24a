// The AGC's gain law: how the gain in dB moves with one speech sample, and
// the linear factor a gain in dB multiplies the signal by.
//
// With the speech flag set, for a level follower at level:
//   g = prevGainDb + gainStepPerDb x (targetLevelDb - levelDb),
//   then at most maxGainDb, then at least -configuredMaxGainDb,
// with levelDb = 20 log10(level) floored at -96 dB. speechGainDbByLogarithm
// is that formula; speechGainDb gives the same float bit for bit and mostly
// without the logarithm: it computes the law at both bounds of levelDbBounds
// and takes the logarithm only when they give different gains.
//
// Internal to the library and its tests; not installed.
#ifndef LYRANE_AGCGAINLAW_H
#define LYRANE_AGCGAINLAW_H

#include <cmath>
#include <cstdint>

#include "AgcLevelDbBounds.h"
#include "lyrane_detail/FloatBits.h"

namespace lyrane {

struct GainLaw {
    float targetLevelDb;
    float gainStepPerDb;  // dB per sample and dB of level error
    float maxGainDb;      // current maximum, possibly lowered
    float configuredMaxGainDb;
};

// Levels below this count as this (a silent stream would give -inf).
constexpr float kLevelFloor_db = -96.0f;

inline float flooredLevelDb(float levelDb) {
    return levelDb < kLevelFloor_db || std::isnan(levelDb) ? kLevelFloor_db : levelDb;
}

inline float levelDbOf(float level) {
    return flooredLevelDb(20.0f * std::log10(level));
}

// The step of the law before its clamps.
inline float unclampedGainAfterSpeech(const GainLaw& law, float prevGainDb, float levelDb) {
    const float levelErrorDb = law.targetLevelDb - levelDb;
    return prevGainDb + law.gainStepPerDb * levelErrorDb;
}

// The law of one speech sample, from the level in dB.
inline float gainAfterSpeech(const GainLaw& law, float prevGainDb, float levelDb) {
    float g = unclampedGainAfterSpeech(law, prevGainDb, levelDb);
    if (g > law.maxGainDb) {
        g = law.maxGainDb;
    }
    // The floor stays at the configured maximum, not the lowered one.
    if (g < -law.configuredMaxGainDb) {
        g = -law.configuredMaxGainDb;
    }
    return g;
}

inline float speechGainDbByLogarithm(const GainLaw& law, float prevGainDb, float level) {
    return gainAfterSpeech(law, prevGainDb, levelDbOf(level));
}

// Every step after the logarithm is a rounded operation or a clamp, each
// monotone, so the law is monotone in the level in dB: when both bounds give
// the same gain, the exact level in dB gives it too.
//
// Above the level floor the floor changes nothing, and inside the clamps
// neither do they: the law is then its three rounded operations. That case
// is recognised by comparisons whose results only pick the way on (branches
// the processor predicts), so that the floor and the clamps are no steps of
// the gain loop's serial chain.
[[gnu::always_inline]] inline float speechGainDb(const GainLaw& law, float prevGainDb,
                                                 float level) {
    float lowDb;
    float highDb;
    if (levelDbBounds(level, lowDb, highDb)) {
        if (lowDb >= kLevelFloor_db) {
            const float fromLow = unclampedGainAfterSpeech(law, prevGainDb, lowDb);
            const float fromHigh = unclampedGainAfterSpeech(law, prevGainDb, highDb);
            if (floatBits(fromLow) == floatBits(fromHigh) && fromLow <= law.maxGainDb &&
                fromLow >= -law.configuredMaxGainDb) {
                return fromLow;
            }
        }
        const float fromLow = gainAfterSpeech(law, prevGainDb, flooredLevelDb(lowDb));
        const float fromHigh = gainAfterSpeech(law, prevGainDb, flooredLevelDb(highDb));
        if (floatBits(fromLow) == floatBits(fromHigh)) {
            return fromLow;
        }
    }
    return speechGainDbByLogarithm(law, prevGainDb, level);
}

// The largest level whose levelDbOf is below targetDb, or NaN when there is
// none: at or below it a speech sample leaves a gain at the maximum there.
float largestLevelBelow(float targetDb);

// Linear factor of a gain in dB: 2^(g x log2(10) / 20) with the float's
// exponent field as the integer part of the power, (y + 127 - 0.0573) x 2^23
// read as float bits (within -0.35 dB and +0.17 dB of 10^(g / 20); 0 dB gives
// 0.97134781). The offset 126.94269504 centres the error of the linear
// mantissa. Bit-exact by design: the AGC's targets and limits are tuned
// against the gains it produces.
constexpr float kGainDbToLog2 = 0.1660964f;  // log2(10) / 20
constexpr float kGainLog2Min = -126.0f;      // smallest normal exponent
constexpr float kGainLog2Max = 129.0f;
constexpr float kGainExponentBias = 126.94269504f;
constexpr float kGainMantissaScale = 8388608.0f;  // 2^23

// y limited to [low, high], NaN to low.
inline float clampedLog2(float y, float low, float high) {
    if (y < low || std::isnan(y)) {
        y = low;
    }
    if (y > high) {
        y = high;
    }
    return y;
}

inline float gainFactor(float gainDb) {
    const float y = clampedLog2(gainDb * kGainDbToLog2, kGainLog2Min, kGainLog2Max);
    const float v = (y + kGainExponentBias) * kGainMantissaScale;
    return floatOfBits(static_cast<uint32_t>(v));
}

// gainFactor with the scaling by 2^23 folded into the product and the
// offset: scaling by a power of two is exact and commutes with rounding, so
// (g k + B) 2^23 and g (k 2^23) + B 2^23 round to the same float, and the
// clamps scaled alike cut at the same gains. One dependent operation fewer
// on the AGC's gain loop.
inline float gainFactorScaled(float gainDb) {
    const float y =
        clampedLog2(gainDb * (kGainDbToLog2 * kGainMantissaScale),
                    kGainLog2Min * kGainMantissaScale, kGainLog2Max * kGainMantissaScale);
    return floatOfBits(static_cast<uint32_t>(y + kGainExponentBias * kGainMantissaScale));
}

}  // namespace lyrane

#endif  // LYRANE_AGCGAINLAW_H
