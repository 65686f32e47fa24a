#include "ZIZO_agc.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "UnitConversions.h"

log4cxx::LoggerPtr ZIZO_agc::AC_AGC_logger = log4cxx::Logger::getLogger("ZIZO.Agc");

namespace {

// Built-in defaults; a supplied configuration overrides them key by key.
const float kDefaultTargetLevel_db = -6.0f;
const float kDefaultMaxGain_db = 35.0f;
const float kDefaultTauLevel_s = 1.5f;
const float kDefaultPGain = 1.0f;  // dB/s per dB of level error
const float kDefaultMaxAmp = 0.95f;
const float kDefaultTauDuck_s = 0.1f;
const float kDefaultHoldTime_s = 1.0f;
const float kDefaultReleaseSpeed_db_per_s = 3.0f;

// Start values of the loop state: gain 0 dB, no ducking, level at -20 dBFS.
const float kInitialLevel = 0.1f;

// Levels below this count as this (a silent stream would give -inf).
const float kLevelFloor_db = -96.0f;

// Gain factor: 2^(g x log2(10) / 20) with the float's exponent field as the
// integer part of the power: (y + 127 - 0.0573) x 2^23 read as float bits.
// The offset 126.94269504 centres the error of the linear mantissa.
const float kDbToLog2 = 0.1660964f;  // log2(10) / 20
const float kLog2Min = -126.0f;      // smallest normal exponent
const float kLog2Max = 129.0f;
const float kExponentBias = 126.94269504f;
const float kMantissaScale = 8388608.0f;  // 2^23

// Corner of the DC-blocking high-pass in front of the level histogram:
// 100 rad/s, about 15.9 Hz.
const float kHighPassCorner_rad_per_s = 100.0f;

// Histogram bins are 3 dB wide; levels are clamped to just above the 32nd
// bin's lower edge so that silence lands in bin 31.
const float kBinFloor_db = -95.9f;
const float kBinsPerDb = 0.33333334f;
// The maximum gain is lowered once more than 0.1 % of the counted samples
// would be driven past full scale.
const float kOverdriveShare = 0.001f;

// Bit pattern of a float's magnitude: for non-negative floats, integer order
// is float order, with +infinity at kInfinityBits and NaNs above it.
const uint32_t kMagnitudeMask = 0x7fffffffu;
const uint32_t kInfinityBits = 0x7f800000u;
const unsigned int kMantissaBits = 23;
const unsigned int kBinaryExponents = 256;

uint32_t magnitudeBits(float x) {
    uint32_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return bits & kMagnitudeMask;
}

float floatOfBits(uint32_t bits) {
    float x;
    std::memcpy(&x, &bits, sizeof x);
    return x;
}

}  // namespace

// The level bins as a function of the magnitude's bit pattern. The formula's
// bin falls by one at each of 31 edges (the smallest magnitude whose bin is
// below k, for k = 1 .. 31), found by bisection over the bit patterns, which
// is exact because the formula is monotone in the magnitude. The edges are
// filed by binary exponent: within one octave (6.02 dB) lie at most three
// edges 3 dB apart, so a magnitude's bin is the bin at the bottom of its
// octave less the edges of that octave it has reached: one load and three
// integer comparisons instead of a logarithm and a ceiling.
class ZIZO_agc::LevelBinTable {
  public:
    LevelBinTable() {
        for (unsigned int e = 0; e < kBinaryExponents; ++e) {
            const uint32_t bottom = e << kMantissaBits;
            octaves[e].bottomBin = ZIZO_agc::levelBinByLogarithm(floatOfBits(bottom));
            octaves[e].edges.fill(UINT32_MAX);  // never reached
        }
        for (unsigned int k = 1; k < ZIZO_agc::kLevelBins; ++k) {
            const uint32_t edge = firstBitsBelowBin(k);
            Octave& octave = octaves[edge >> kMantissaBits];
            // An edge at the bottom of its octave is counted in bottomBin.
            if ((edge & ((1u << kMantissaBits) - 1)) != 0) {
                auto free = std::find(octave.edges.begin(), octave.edges.end(), UINT32_MAX);
                *free = edge;
            }
        }
    }

    unsigned int bin(float sample) const {
        const uint32_t bits = magnitudeBits(sample);
        if (bits > kInfinityBits) {
            return ZIZO_agc::kLevelBins - 1;  // NaN: the formula's silent bin
        }
        const Octave& octave = octaves[bits >> kMantissaBits];
        return octave.bottomBin - (bits >= octave.edges[0]) - (bits >= octave.edges[1]) -
               (bits >= octave.edges[2]);
    }

  private:
    // Bisection between 0 (bin 31) and +infinity (bin 0).
    static uint32_t firstBitsBelowBin(unsigned int k) {
        uint32_t atOrAbove = 0;
        uint32_t below = kInfinityBits;
        while (below - atOrAbove > 1) {
            const uint32_t middle = atOrAbove + (below - atOrAbove) / 2;
            if (ZIZO_agc::levelBinByLogarithm(floatOfBits(middle)) < k) {
                below = middle;
            } else {
                atOrAbove = middle;
            }
        }
        return below;
    }

    struct Octave {
        unsigned int bottomBin = 0;
        std::array<uint32_t, 3> edges{};
    };
    std::array<Octave, kBinaryExponents> octaves;
};

namespace {

// Built on first use; the same for every block and every sample rate.
const ZIZO_agc::LevelBinTable& levelBinTable() {
    static const ZIZO_agc::LevelBinTable table;
    return table;
}

// The gain law's level in dB, floored so that silence gives a finite error.
float levelDbOf(float level) {
    float levelDb = 20.0f * std::log10(level);
    if (levelDb < kLevelFloor_db || std::isnan(levelDb)) {
        levelDb = kLevelFloor_db;
    }
    return levelDb;
}

// The largest level whose levelDbOf is below target_db, or NaN when there is
// none. Bisection over the bit patterns of 0 .. +infinity is exact because
// levelDbOf is monotone in the level; a negative level (never produced) has
// the floor's value, the smallest one, and passes the comparison level <=
// result exactly when 0 does.
float largestLevelBelow(float target_db) {
    if (!(levelDbOf(0.0f) < target_db)) {
        return std::numeric_limits<float>::quiet_NaN();
    }
    uint32_t below = 0;
    uint32_t atOrAbove = kInfinityBits;  // levelDbOf(+inf) is +inf
    while (atOrAbove - below > 1) {
        const uint32_t middle = below + (atOrAbove - below) / 2;
        if (levelDbOf(floatOfBits(middle)) < target_db) {
            below = middle;
        } else {
            atOrAbove = middle;
        }
    }
    return floatOfBits(below);
}

// gainFactor's body, inlined into the sample loop.
inline float dbToGainFactor(float gain_db) {
    float y = gain_db * kDbToLog2;
    if (y < kLog2Min || std::isnan(y)) {
        y = kLog2Min;
    }
    if (y > kLog2Max) {
        y = kLog2Max;
    }
    const float v = (y + kExponentBias) * kMantissaScale;
    const uint32_t bits = static_cast<uint32_t>(v);
    float factor;
    std::memcpy(&factor, &bits, sizeof factor);
    return factor;
}

}  // namespace

ZIZO_agc::ZIZO_agc(const std::string& name, unsigned int Nblock, unsigned int fs,
                   const ZIZO_Config& config)
    : name(name), Nblock(Nblock), fs(fs), binTable(levelBinTable()) {
    LOG4CXX_DEBUG(AC_AGC_logger, "Creating instance of ZIZO_agc (" << name << ").");

    ZIZO_Config parameters;
    parameters.set<bool>("enabled", false);
    parameters.set<float>("target_level_db", kDefaultTargetLevel_db);
    parameters.set<float>("max_gain_db", kDefaultMaxGain_db);
    parameters.set<bool>("decrease_max_gain", false);
    parameters.set<float>("tau_level", kDefaultTauLevel_s);
    parameters.set<float>("p_gain", kDefaultPGain);
    parameters.set<float>("max_amp", kDefaultMaxAmp);
    parameters.set<float>("tau_duck", kDefaultTauDuck_s);
    parameters.set<float>("nonspeech_hold_gain_time", kDefaultHoldTime_s);
    parameters.set<float>("nonspeech_release_speed", kDefaultReleaseSpeed_db_per_s);
    parameters.setGroup(config);

    // Stored directly: the construction record is logged whatever the value,
    // unlike setEnabled, which logs only changes.
    enabled = parameters.get<bool>("enabled");
    if (enabled) {
        LOG4CXX_INFO(AC_AGC_logger, "AGC " << name << " enabled.");
    } else {
        LOG4CXX_INFO(AC_AGC_logger, "AGC " << name << " disabled.");
    }
    p_gain = parameters.get<float>("p_gain");
    gainStepPerDb = p_gain / static_cast<float>(fs);
    setTargetLevelDb(parameters.get<float>("target_level_db"));
    max_gain_db = std::fabs(parameters.get<float>("max_gain_db"));
    maxGainDb = max_gain_db;
    decrease_max_gain = false;
    setDecreaseMaxGain(parameters.get<bool>("decrease_max_gain"));
    setTauLevel(parameters.get<float>("tau_level"));
    max_amp = std::fabs(parameters.get<float>("max_amp"));
    setTauDuck(parameters.get<float>("tau_duck"));
    setNonspeechHoldGainTime(parameters.get<float>("nonspeech_hold_gain_time"));
    setNonspeechReleaseSpeed(parameters.get<float>("nonspeech_release_speed"));

    gainDb = Eigen::ArrayXf::Zero(Nblock);
    duckGain = Eigen::ArrayXf::Ones(Nblock);
    appliedGain = Eigen::ArrayXf::Zero(Nblock);
    outBlock = Eigen::ArrayXf::Zero(Nblock);
    level = Eigen::ArrayXf::Constant(Nblock, kInitialLevel);
    nonspeechCounter = 0;
    releaseStepDb = nonspeech_release_speed / static_cast<float>(fs);

    hpInput = Eigen::ArrayXf::Zero(Nblock);
    hpCoefA = std::exp(-kHighPassCorner_rad_per_s / static_cast<float>(fs));
    hpCoefB = 0.5f + 0.5f * hpCoefA;
    hpPrevInput = 0.0f;
    hpPrevOutput = 0.0f;
    clearHistogram();
    setCurrentMaxGain(maxGainDb);
}

float ZIZO_agc::gainFactor(float gain_db) {
    return dbToGainFactor(gain_db);
}

unsigned int ZIZO_agc::levelBin(float sample) {
    return levelBinTable().bin(sample);
}

unsigned int ZIZO_agc::levelBinByLogarithm(float sample) {
    float d = 20.0f * std::log10(std::fabs(sample));
    if (d < kBinFloor_db || std::isnan(d)) {
        d = kBinFloor_db;
    }
    if (d > 0.0f) {
        d = 0.0f;
    }
    return static_cast<unsigned int>(-static_cast<int>(std::ceil(d * kBinsPerDb)));
}

// The samples were binned in the sample loop; here the block is counted
// and, from more than one second on, checked.
inline void ZIZO_agc::updateMaxGain() {
    histogramSamples += Nblock;

    // The scan finds a bin exactly when the sum over all scanned bins passes
    // the threshold, so it runs only then.
    const float threshold = static_cast<float>(histogramSamples) * kOverdriveShare;
    if (histogramSamples > fs && threshold < static_cast<float>(scanBinsCount)) {
        uint32_t sum = 0;
        for (uint32_t j = 0; j < scanBins; ++j) {
            sum += levelHistogram[j];
            if (threshold < static_cast<float>(sum)) {
                setCurrentMaxGain(static_cast<float>(3 * j));
                LYRANE_DEFERRED_INFO(logQueue, AC_AGC_logger,
                                     "AGC {}: max_gain_db was reduced to {}", name, maxGainDb);
                break;
            }
        }
    }
    if (histogramSamples > 3 * fs) {
        clearHistogram();
    }
}

void ZIZO_agc::run(const Eigen::ArrayXf& in, Eigen::ArrayXf& out, bool speech) {
    if (!enabled) {
        out = in;
        return;
    }
    const Eigen::Index n = Nblock;
    if (in.size() < n) {
        LYRANE_DEFERRED_ERROR(logQueue, AC_AGC_logger,
                              "AGC {}: block of {} samples refused, {} expected.", name,
                              in.size(), Nblock);
        out = in;
        return;
    }

    // An out of the block's size takes each sample as it is made (in may be
    // out: every sample is read before its result is written). Another out
    // is sized only after the loop, as in may be out and is still needed.
    const bool sized = out.size() == n;
    float* const direct = sized ? out.data() : outBlock.data();
    const bool ducked = decrease_max_gain ? runSamples<true>(in.data(), direct, speech)
                                          : runSamples<false>(in.data(), direct, speech);
    if (!sized) {
        out.resize(n);
        std::copy_n(outBlock.data(), n, out.data());
    }

    if (decrease_max_gain) {
        updateMaxGain();
    }
    if (ducked) {
        LYRANE_DEFERRED_TRACE(logQueue, AC_AGC_logger, "AGC {}: duck gain was applied.", name);
    }
}

// The loop state lives in locals and goes back to the arrays sample by
// sample; the arrays' last elements carry it to the next block. Returns
// whether any sample was ducked.
template <bool kReduce>
bool ZIZO_agc::runSamples(const float* x, float* out, bool speech) {
    const uint32_t n = Nblock;
    if (n == 0) {
        return false;
    }
    const LevelBinTable& bins = binTable;
    float* const gainDbOut = gainDb.data();
    float* const duckGainOut = duckGain.data();
    float* const appliedGainOut = appliedGain.data();
    float* const levelOut = level.data();
    float* const outBlockOut = outBlock.data();
    float* const hpInputOut = hpInput.data();
    const float maxAmp = max_amp;
    float prevGainDb = gainDbOut[n - 1];
    float prevDuck = duckGainOut[n - 1];
    float prevLevel = levelOut[n - 1];
    uint32_t countInScan = 0;
    bool ducked = false;

    for (uint32_t i = 0; i < n; ++i) {
        const float xi = x[i];
        const float applied = prevDuck * dbToGainFactor(prevGainDb);
        appliedGainOut[i] = applied;
        const float y = applied * xi;
        const float magnitude = std::fabs(y);

        // The duck gain acts from the next sample on; this one is clipped.
        float duck;
        if (magnitude > maxAmp) {
            duck = prevDuck * maxAmp / magnitude;
            ducked = true;
        } else {
            duck = 1.0f + (prevDuck - 1.0f) * duckCoef;
        }
        duckGainOut[i] = duck;
        prevDuck = duck;

        prevLevel = nextLevel(prevLevel, magnitude);
        levelOut[i] = prevLevel;

        if (kReduce) {
            const float h = highPass(xi);
            hpInputOut[i] = h;
            const unsigned int bin = bins.bin(h);
            ++levelHistogram[bin];
            countInScan += bin < scanBins;
        }

        prevGainDb = nextGainDb(prevGainDb, prevLevel, speech);
        gainDbOut[i] = prevGainDb;

        // Written so that NaN becomes +max_amp.
        float r = y <= maxAmp ? y : maxAmp;
        if (-maxAmp >= r) {
            r = -maxAmp;
        }
        outBlockOut[i] = r;
        out[i] = r;
    }
    scanBinsCount += countInScan;
    return ducked;
}

// Peak follower: instant rise, exponential decay with tau_level.
inline float ZIZO_agc::nextLevel(float prevLevel, float magnitude) const {
    // An infinite level would never decay again and hold the gain at its
    // minimum for good; a sample without a finite magnitude is not measured.
    if (!std::isfinite(magnitude)) {
        return prevLevel;
    }
    const float s = prevLevel * levelCoef + (1.0f - levelCoef) * magnitude;
    return s >= magnitude ? s : magnitude;
}

inline float ZIZO_agc::nextGainDb(float prevGainDb, float level, bool speech) {
    if (speech) {
        nonspeechCounter = 0;
        // At the maximum with the level below target the step only pushes
        // against the upper clamp (the lower one is <= 0 <= maxGainDb), so
        // the logarithm is not needed.
        if (prevGainDb == maxGainDb && level <= levelBelowTargetMax) {
            return maxGainDb;
        }
        const float levelErrorDb = target_level_db - levelDbOf(level);
        float g = prevGainDb + gainStepPerDb * levelErrorDb;
        if (g > maxGainDb) {
            g = maxGainDb;
        }
        // The floor stays at the configured maximum, not the lowered one.
        if (g < -max_gain_db) {
            g = -max_gain_db;
        }
        return g;
    }
    if (nonspeechCounter < std::numeric_limits<uint32_t>::max()) {
        ++nonspeechCounter;
    }
    if (nonspeechCounter <= holdSamples) {
        return prevGainDb;
    }
    // A gain of exactly 0 steps up, so the gain ends up alternating around
    // 0 dB by one step.
    return prevGainDb > 0.0f ? prevGainDb - releaseStepDb : prevGainDb + releaseStepDb;
}

inline float ZIZO_agc::highPass(float x) {
    const float h = hpCoefA * hpPrevOutput + hpCoefB * (x - hpPrevInput);
    // A non-finite input would stay in the filter state for good and put
    // every later sample into the silent bin; such a sample is counted (an
    // infinity as loud, NaN as silent) but does not enter the state.
    if (std::isfinite(h)) {
        hpPrevInput = x;
        hpPrevOutput = h;
    }
    return h;
}

void ZIZO_agc::clearHistogram() {
    levelHistogram.fill(0);
    histogramSamples = 0;
    scanBinsCount = 0;
}

// Only bins below the current maximum can lower it (bin j lowers it to
// 3 j dB), and never past the last bin.
void ZIZO_agc::setCurrentMaxGain(float gain_db) {
    maxGainDb = gain_db;
    const float limit = std::ceil(maxGainDb * kBinsPerDb);
    scanBins = 0;
    scanBinsCount = 0;
    while (scanBins < kLevelBins && static_cast<float>(scanBins) < limit) {
        scanBinsCount += levelHistogram[scanBins];
        ++scanBins;
    }
}

void ZIZO_agc::setEnabled(bool enable) {
    if (enable == enabled) {
        return;
    }
    enabled = enable;
    if (enable) {
        LOG4CXX_INFO(AC_AGC_logger, "AGC " << name << " enabled.");
    } else {
        LOG4CXX_INFO(AC_AGC_logger, "AGC " << name << " disabled.");
    }
}

void ZIZO_agc::setTauLevel(float tau_s) {
    tau_level = tau_s;
    levelCoef = lyrane::smoothingCoef(fs, tau_s);
}

void ZIZO_agc::setTauDuck(float tau_s) {
    tau_duck = tau_s;
    duckCoef = lyrane::smoothingCoef(fs, tau_s);
}

void ZIZO_agc::setNonspeechHoldGainTime(float time_s) {
    nonspeech_hold_gain_time = time_s;
    holdSamples = lyrane::toCount(static_cast<float>(fs) * time_s);
    LOG4CXX_DEBUG(AC_AGC_logger, "AGC " << name << ": nonspeech_hold_gain_time set to " << time_s);
}

void ZIZO_agc::setNonspeechReleaseSpeed(float speed_db_per_s) {
    nonspeech_release_speed = speed_db_per_s;
    releaseStepDb = speed_db_per_s / static_cast<float>(fs);
    LOG4CXX_DEBUG(AC_AGC_logger,
                  "AGC " << name << ": nonspeech_release_speed set to " << speed_db_per_s);
}

void ZIZO_agc::setTargetLevelDb(float level_db) {
    target_level_db = level_db;
    // A positive step is what makes a level below target raise the gain.
    levelBelowTargetMax = gainStepPerDb > 0.0f ? largestLevelBelow(level_db)
                                               : std::numeric_limits<float>::quiet_NaN();
}

void ZIZO_agc::setMaxAmp(float amp) {
    max_amp = std::fabs(amp);
}

void ZIZO_agc::resetGain() {
    gainDb.setConstant(Nblock, 0.0f);
    duckGain.setConstant(Nblock, 1.0f);
    level.setConstant(Nblock, kInitialLevel);
    LOG4CXX_DEBUG(AC_AGC_logger, "AGC " << name << ": resetGain called.");
}

void ZIZO_agc::setDecreaseMaxGain(bool enable) {
    if (enable == decrease_max_gain) {
        return;
    }
    decrease_max_gain = enable;
    LOG4CXX_INFO(AC_AGC_logger,
                 "AGC " << name << " decrease-max-gain " << (enable ? "enabled" : "disabled"));
}

void ZIZO_agc::setMaxGainDb(float gain_db) {
    max_gain_db = std::fabs(gain_db);
    setCurrentMaxGain(max_gain_db);
}

void ZIZO_agc::resetMaxGain() {
    LOG4CXX_DEBUG(AC_AGC_logger, "AGC " << name << ": resetMaxGain called. Resetting from "
                                        << maxGainDb << " to " << max_gain_db);
    clearHistogram();
    setCurrentMaxGain(max_gain_db);
}
