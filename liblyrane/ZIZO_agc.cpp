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

uint32_t floatBits(float x) {
    uint32_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return bits;
}

uint64_t packMaxGain(uint32_t requests, float gain_db) {
    return (static_cast<uint64_t>(requests) << 32) | floatBits(gain_db);
}

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
inline float flooredLevelDb(float levelDb) {
    return levelDb < kLevelFloor_db || std::isnan(levelDb) ? kLevelFloor_db : levelDb;
}

float levelDbOf(float level) {
    return flooredLevelDb(20.0f * std::log10(level));
}

// A cheap logarithm for bounds on 20 log10f(level): level = 2^e x m with m
// in [1, 2), cut into 256 slices by the mantissa's top bits. Within a slice
// 20 log10(m) lies on or above its chord, by at most h^2 / 8 x 20 / ln(10)
// = 1.66e-5 dB (h = 1/256, the curvature largest at m = 1). The chord, the
// octave's dB and their sum in single precision add a few units in the last
// place of the largest term (the octave's dB can exceed the result by one
// octave, 6.02 dB), and log10f and the product by 20 a few of the result.
// The margin, 3.5e-5 dB and 2^-20 of the value (eight units), covers all of
// these; it only needs to be small against the gain's units in the last
// place divided by the loop step, so that the bounds rarely straddle a
// rounding boundary of the gain. Single precision, a few table loads and
// no division keep the serial chain of the gain loop short.
const unsigned int kSliceBits = 8;
const unsigned int kSlices = 1u << kSliceBits;
const unsigned int kInSliceBits = kMantissaBits - kSliceBits;
const double kDbPerOctave = 6.020599913279624;         // 20 log10(2)
const float kBoundRelativeMargin = 1.0f / 1048576.0f;  // 2^-20
const float kBoundAbsoluteMargin_db = 3.5e-5f;
const uint32_t kSmallestNormalBits = 0x00800000u;
const int kBiasedExponentOfOne = 127;

struct LogSlices {
    std::array<float, kBinaryExponents> octaveDb;  // by biased exponent
    std::array<float, kSlices> sliceStartDb;
    // Chord slope per unit of the mantissa bits below the slice's.
    std::array<float, kSlices> slopePerStep;
    LogSlices() {
        for (unsigned int e = 0; e < kBinaryExponents; ++e) {
            octaveDb[e] =
                static_cast<float>(kDbPerOctave * (static_cast<int>(e) - kBiasedExponentOfOne));
        }
        const double step = std::ldexp(1.0, -static_cast<int>(kMantissaBits));
        for (unsigned int i = 0; i < kSlices; ++i) {
            const double start = 1.0 + static_cast<double>(i) / kSlices;
            const double end = 1.0 + static_cast<double>(i + 1) / kSlices;
            const double startDb = 20.0 * std::log10(start);
            sliceStartDb[i] = static_cast<float>(startDb);
            slopePerStep[i] =
                static_cast<float>((20.0 * std::log10(end) - startDb) / (end - start) * step);
        }
    }
};
const LogSlices kLogSlices;

inline bool boundsOfLevelDb(float level, float& lowDb, float& highDb) {
    const uint32_t bits = floatBits(level);
    // Positive normal and finite only; the rest take the logarithm.
    if (bits - kSmallestNormalBits >= kInfinityBits - kSmallestNormalBits) {
        return false;
    }
    const unsigned int slice = (bits >> kInSliceBits) & (kSlices - 1);
    // Exact: fewer than 24 bits.
    const float inSlice = static_cast<float>(bits & ((1u << kInSliceBits) - 1));
    const float chordDb = kLogSlices.sliceStartDb[slice] + kLogSlices.slopePerStep[slice] * inSlice;
    const float db = kLogSlices.octaveDb[bits >> kMantissaBits] + chordDb;
    const float margin = std::fabs(db) * kBoundRelativeMargin + kBoundAbsoluteMargin_db;
    lowDb = db - margin;
    highDb = db + margin;
    return true;
}

// The gain law of one speech sample, from the level in dB.
inline float gainAfterSpeech(const ZIZO_agc::GainLaw& law, float prevGainDb, float levelDb) {
    const float levelErrorDb = law.targetLevelDb - levelDb;
    float g = prevGainDb + law.gainStepPerDb * levelErrorDb;
    if (g > law.maxGainDb) {
        g = law.maxGainDb;
    }
    // The floor stays at the configured maximum, not the lowered one.
    if (g < -law.configuredMaxGainDb) {
        g = -law.configuredMaxGainDb;
    }
    return g;
}

// Every step after the logarithm is a rounded operation or a clamp, each
// monotone, so the gain law is monotone in the level in dB: when both
// bounds give the same gain, the exact level in dB gives it too.
[[gnu::always_inline]] inline float gainAfterSpeechByBounds(const ZIZO_agc::GainLaw& law,
                                                            float prevGainDb, float level) {
    float lowDb;
    float highDb;
    if (boundsOfLevelDb(level, lowDb, highDb)) {
        const float fromLow = gainAfterSpeech(law, prevGainDb, flooredLevelDb(lowDb));
        const float fromHigh = gainAfterSpeech(law, prevGainDb, flooredLevelDb(highDb));
        if (floatBits(fromLow) == floatBits(fromHigh)) {
            return fromLow;
        }
    }
    return gainAfterSpeech(law, prevGainDb, levelDbOf(level));
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
    control.enabled = parameters.get<bool>("enabled");
    enabledNow.store(control.enabled, std::memory_order_relaxed);
    if (control.enabled) {
        LOG4CXX_INFO(AC_AGC_logger, "AGC " << name << " enabled.");
    } else {
        LOG4CXX_INFO(AC_AGC_logger, "AGC " << name << " disabled.");
    }
    p_gain = parameters.get<float>("p_gain");
    control.gainStepPerDb = p_gain / static_cast<float>(fs);
    setTargetLevelDb(parameters.get<float>("target_level_db"));
    setMaxGainDb(parameters.get<float>("max_gain_db"));
    control.decreaseMaxGain = false;
    setDecreaseMaxGain(parameters.get<bool>("decrease_max_gain"));
    setTauLevel(parameters.get<float>("tau_level"));
    setMaxAmp(parameters.get<float>("max_amp"));
    setTauDuck(parameters.get<float>("tau_duck"));
    setNonspeechHoldGainTime(parameters.get<float>("nonspeech_hold_gain_time"));
    setNonspeechReleaseSpeed(parameters.get<float>("nonspeech_release_speed"));

    gainDb = 0.0f;
    duckGain = 1.0f;
    level = kInitialLevel;
    factorGainBits = floatBits(gainDb);
    factorOfGain = dbToGainFactor(gainDb);
    nonspeechCounter = 0;

    hpCoefA = std::exp(-kHighPassCorner_rad_per_s / static_cast<float>(fs));
    hpCoefB = 0.5f + 0.5f * hpCoefA;
    hpPrevInput = 0.0f;
    hpPrevOutput = 0.0f;
    clearHistogram();
    // Every request so far counts as carried out.
    appliedGainResets = control.gainResets;
    appliedMaxGainSets = control.maxGainSets;
    appliedHistogramClears = control.histogramClears;
    setCurrentMaxGain(control.configuredMaxGainDb);
    exchange.reset(control);
}

void ZIZO_agc::SettingsExchange::reset(const Settings& settings) {
    slots.fill(settings);
    middle.store(1, std::memory_order_relaxed);
    writerSlot = 2;
    readerSlot = 0;
}

void ZIZO_agc::SettingsExchange::publish(const Settings& settings) {
    slots[writerSlot] = settings;
    // Release: the slot's contents before its index; acquire: the reader is
    // done with the slot handed back.
    writerSlot = middle.exchange(writerSlot | kFresh, std::memory_order_acq_rel) & ~kFresh;
}

inline bool ZIZO_agc::SettingsExchange::takeNewer() {
    if (!(middle.load(std::memory_order_relaxed) & kFresh)) {
        return false;
    }
    readerSlot = middle.exchange(readerSlot, std::memory_order_acq_rel) & ~kFresh;
    return true;
}

float ZIZO_agc::gainFactor(float gain_db) {
    return dbToGainFactor(gain_db);
}

float ZIZO_agc::speechGainDb(const GainLaw& law, float prevGainDb, float level) {
    return gainAfterSpeechByBounds(law, prevGainDb, level);
}

float ZIZO_agc::speechGainDbByLogarithm(const GainLaw& law, float prevGainDb, float level) {
    return gainAfterSpeech(law, prevGainDb, levelDbOf(level));
}

bool ZIZO_agc::levelDbBounds(float level, float& low_db, float& high_db) {
    return boundsOfLevelDb(level, low_db, high_db);
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
inline void ZIZO_agc::countBlockForMaxGain() {
    histogramSamples += Nblock;
    // The scan finds a bin exactly when the sum over all scanned bins passes
    // the threshold, so it runs only then.
    const float threshold = static_cast<float>(histogramSamples) * kOverdriveShare;
    if (histogramSamples > fs && threshold < static_cast<float>(scanBinsCount)) {
        updateMaxGain();
    }
    if (histogramSamples > 3 * fs) {
        clearHistogram();
    }
}

void ZIZO_agc::updateMaxGain() {
    const float threshold = static_cast<float>(histogramSamples) * kOverdriveShare;
    uint32_t sum = 0;
    for (uint32_t j = 0; j < scanBins; ++j) {
        sum += levelHistogram[j];
        if (threshold < static_cast<float>(sum)) {
            setCurrentMaxGain(static_cast<float>(3 * j));
            publishReducedMaxGain();
            LYRANE_DEFERRED_INFO(logQueue, AC_AGC_logger, "AGC {}: max_gain_db was reduced to {}",
                                 name, maxGainDb);
            break;
        }
    }
}

void ZIZO_agc::publishReducedMaxGain() {
    uint64_t expected = currentMaxGain.load(std::memory_order_relaxed);
    // A newer request wins: run() takes it with the next block.
    if (static_cast<uint32_t>(expected >> 32) != appliedMaxGainSets) {
        return;
    }
    currentMaxGain.compare_exchange_strong(expected, packMaxGain(appliedMaxGainSets, maxGainDb),
                                           std::memory_order_release, std::memory_order_relaxed);
}

float ZIZO_agc::getMaxGainDb() const {
    return floatOfBits(static_cast<uint32_t>(currentMaxGain.load(std::memory_order_acquire)));
}

// Requests only ever come with newer settings.
inline const ZIZO_agc::Settings& ZIZO_agc::takeSettings() {
    if (exchange.takeNewer()) {
        carryOutRequests(exchange.current());
    }
    return exchange.current();
}

void ZIZO_agc::carryOutRequests(const Settings& settings) {
    if (settings.gainResets != appliedGainResets) {
        appliedGainResets = settings.gainResets;
        gainDb = 0.0f;
        duckGain = 1.0f;
        level = kInitialLevel;
    }
    // The histogram before the maximum: the scan range's count is taken
    // from the bins as they are then.
    if (settings.histogramClears != appliedHistogramClears) {
        appliedHistogramClears = settings.histogramClears;
        clearHistogram();
    }
    if (settings.maxGainSets != appliedMaxGainSets) {
        appliedMaxGainSets = settings.maxGainSets;
        setCurrentMaxGain(settings.configuredMaxGainDb);
    }
}

inline void ZIZO_agc::run(const Settings& settings, const float* in, float* out, bool speech) {
    if (!settings.enabled) {
        if (in != out) {
            std::copy_n(in, Nblock, out);
        }
        return;
    }
    const bool ducked = settings.decreaseMaxGain ? runSamples<true>(settings, in, out, speech)
                                                 : runSamples<false>(settings, in, out, speech);
    if (settings.decreaseMaxGain) {
        countBlockForMaxGain();
    }
    flushSubnormalStates();
    if (ducked) {
        LYRANE_DEFERRED_TRACE(logQueue, AC_AGC_logger, "AGC {}: duck gain was applied.", name);
    }
}

void ZIZO_agc::run(const float* in, float* out, bool speech) {
    run(takeSettings(), in, out, speech);
}

void ZIZO_agc::run(const Eigen::ArrayXf& in, Eigen::ArrayXf& out, bool speech) {
    const Settings& settings = takeSettings();
    if (!settings.enabled) {
        out = in;
        return;
    }
    const Eigen::Index n = Nblock;
    if (in.size() < n) {
        LYRANE_DEFERRED_ERROR(logQueue, AC_AGC_logger,
                              "AGC {}: block of {} samples refused, {} expected.", name, in.size(),
                              Nblock);
        out = in;
        return;
    }
    if (out.size() == n) {
        run(settings, in.data(), out.data(), speech);
    } else if (&in == &out) {
        // Longer than the block: processed in place, then cut to it.
        run(settings, in.data(), out.data(), speech);
        out.conservativeResize(n);
    } else {
        out.resize(n);
        run(settings, in.data(), out.data(), speech);
    }
}

float ZIZO_agc::getGainDb() {
    takeSettings();
    return gainDb;
}

float ZIZO_agc::getDuckGain() {
    takeSettings();
    return duckGain;
}

float ZIZO_agc::getLevel() {
    takeSettings();
    return level;
}

float ZIZO_agc::getHpState() {
    takeSettings();
    return hpPrevOutput;
}

uint32_t ZIZO_agc::getHistogramSamples() {
    takeSettings();
    return histogramSamples;
}

uint32_t ZIZO_agc::getHistogramCount(unsigned int k) {
    takeSettings();
    return k < kLevelBins ? levelHistogram[k] : 0u;
}

inline void ZIZO_agc::flushSubnormalStates() {
    if (!subnormalCheck.due(Nblock)) {
        return;
    }
    lyrane::flushSubnormal(level);
    lyrane::flushSubnormal(hpPrevOutput);
}

namespace {

// Peak follower: instant rise, exponential decay with tau_level.
inline float nextLevel(float prevLevel, float magnitude, float levelCoef) {
    // An infinite level would never decay again and hold the gain at its
    // minimum for good; a sample without a finite magnitude is not measured.
    if (!std::isfinite(magnitude)) {
        return prevLevel;
    }
    const float s = prevLevel * levelCoef + (1.0f - levelCoef) * magnitude;
    return s >= magnitude ? s : magnitude;
}

}  // namespace

// The loop state lives in locals for the block and goes back to the members
// at its end. Returns whether any sample was ducked.
template <bool kReduce>
inline bool ZIZO_agc::runSamples(const Settings& settings, const float* x, float* out,
                                 bool speech) {
    const uint32_t n = Nblock;
    const LevelBinTable& bins = binTable;
    // Locals, so that the stores to out cannot make the compiler reload them.
    const float maxAmp = settings.maxAmp;
    const float levelCoef = settings.levelCoef;
    const float duckCoef = settings.duckCoef;
    const float levelBelowTargetMax = settings.levelBelowTargetMax;
    const GainLaw law{settings.targetLevelDb, settings.gainStepPerDb, maxGainDb,
                      settings.configuredMaxGainDb};
    const uint32_t holdSamples = settings.holdSamples;
    const float releaseStepDb = settings.releaseStepDb;
    const float maxGain = maxGainDb;
    const uint32_t scanned = scanBins;
    float prevGainDb = gainDb;
    float prevDuck = duckGain;
    float prevLevel = level;
    uint32_t gainBits = factorGainBits;
    float factor = factorOfGain;
    uint32_t nonspeech = nonspeechCounter;
    const float hpA = hpCoefA;
    const float hpB = hpCoefB;
    float hpIn = hpPrevInput;
    float hpOut = hpPrevOutput;
    uint32_t countInScan = 0;
    bool ducked = false;

    for (uint32_t i = 0; i < n; ++i) {
        const float xi = x[i];
        // The gain often stays put (held, or at the maximum): then so does
        // its factor.
        if (floatBits(prevGainDb) != gainBits) {
            gainBits = floatBits(prevGainDb);
            factor = dbToGainFactor(prevGainDb);
        }
        const float applied = prevDuck * factor;
        const float y = applied * xi;
        const float magnitude = std::fabs(y);

        // The duck gain acts from the next sample on; this one is clipped.
        if (magnitude > maxAmp) {
            prevDuck = prevDuck * maxAmp / magnitude;
            ducked = true;
        } else {
            prevDuck = 1.0f + (prevDuck - 1.0f) * duckCoef;
        }

        prevLevel = nextLevel(prevLevel, magnitude, levelCoef);

        if (kReduce) {
            const float h = hpA * hpOut + hpB * (xi - hpIn);
            // A non-finite input would stay in the filter state for good and
            // put every later sample into the silent bin; such a sample is
            // counted (an infinity as loud, NaN as silent) but does not enter
            // the state.
            if (std::isfinite(h)) {
                hpIn = xi;
                hpOut = h;
            }
            const unsigned int bin = bins.bin(h);
            ++levelHistogram[bin];
            countInScan += bin < scanned;
        }

        if (speech) {
            nonspeech = 0;
            // At the maximum with the level below target the step only
            // pushes against the upper clamp (the lower one is <= 0 <=
            // maxGainDb), so the logarithm is not needed.
            if (!(prevGainDb == maxGain && prevLevel <= levelBelowTargetMax)) {
                prevGainDb = gainAfterSpeechByBounds(law, prevGainDb, prevLevel);
            } else {
                prevGainDb = maxGain;
            }
        } else {
            if (nonspeech < std::numeric_limits<uint32_t>::max()) {
                ++nonspeech;
            }
            // A gain of exactly 0 steps up, so the gain ends up alternating
            // around 0 dB by one step.
            if (nonspeech > holdSamples) {
                prevGainDb =
                    prevGainDb > 0.0f ? prevGainDb - releaseStepDb : prevGainDb + releaseStepDb;
            }
        }

        // Written so that NaN becomes +max_amp.
        float r = y <= maxAmp ? y : maxAmp;
        if (-maxAmp >= r) {
            r = -maxAmp;
        }
        out[i] = r;
    }
    gainDb = prevGainDb;
    duckGain = prevDuck;
    level = prevLevel;
    factorGainBits = gainBits;
    factorOfGain = factor;
    nonspeechCounter = nonspeech;
    hpPrevInput = hpIn;
    hpPrevOutput = hpOut;
    scanBinsCount += countInScan;
    return ducked;
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
    if (enable == control.enabled) {
        return;
    }
    control.enabled = enable;
    enabledNow.store(enable, std::memory_order_relaxed);
    publishSettings();
    if (enable) {
        LOG4CXX_INFO(AC_AGC_logger, "AGC " << name << " enabled.");
    } else {
        LOG4CXX_INFO(AC_AGC_logger, "AGC " << name << " disabled.");
    }
}

void ZIZO_agc::setTauLevel(float tau_s) {
    tau_level = tau_s;
    control.levelCoef = lyrane::smoothingCoef(fs, tau_s);
    publishSettings();
}

void ZIZO_agc::setTauDuck(float tau_s) {
    tau_duck = tau_s;
    control.duckCoef = lyrane::smoothingCoef(fs, tau_s);
    publishSettings();
}

void ZIZO_agc::setNonspeechHoldGainTime(float time_s) {
    nonspeech_hold_gain_time = time_s;
    control.holdSamples = lyrane::toCount(static_cast<float>(fs) * time_s);
    publishSettings();
    LOG4CXX_DEBUG(AC_AGC_logger, "AGC " << name << ": nonspeech_hold_gain_time set to " << time_s);
}

void ZIZO_agc::setNonspeechReleaseSpeed(float speed_db_per_s) {
    nonspeech_release_speed = speed_db_per_s;
    control.releaseStepDb = speed_db_per_s / static_cast<float>(fs);
    publishSettings();
    LOG4CXX_DEBUG(AC_AGC_logger,
                  "AGC " << name << ": nonspeech_release_speed set to " << speed_db_per_s);
}

void ZIZO_agc::setTargetLevelDb(float level_db) {
    control.targetLevelDb = level_db;
    // A positive step is what makes a level below target raise the gain.
    control.levelBelowTargetMax = control.gainStepPerDb > 0.0f
                                      ? largestLevelBelow(level_db)
                                      : std::numeric_limits<float>::quiet_NaN();
    publishSettings();
}

void ZIZO_agc::setMaxAmp(float amp) {
    control.maxAmp = std::fabs(amp);
    publishSettings();
}

void ZIZO_agc::resetGain() {
    ++control.gainResets;
    publishSettings();
    LOG4CXX_DEBUG(AC_AGC_logger, "AGC " << name << ": resetGain called.");
}

void ZIZO_agc::setDecreaseMaxGain(bool enable) {
    if (enable == control.decreaseMaxGain) {
        return;
    }
    control.decreaseMaxGain = enable;
    publishSettings();
    LOG4CXX_INFO(AC_AGC_logger,
                 "AGC " << name << " decrease-max-gain " << (enable ? "enabled" : "disabled"));
}

// The new maximum is visible to getMaxGainDb() before run() can take it, so
// that a reduction run() makes after taking it can replace it.
void ZIZO_agc::requestMaxGain() {
    ++control.maxGainSets;
    currentMaxGain.store(packMaxGain(control.maxGainSets, control.configuredMaxGainDb),
                         std::memory_order_release);
    publishSettings();
}

void ZIZO_agc::setMaxGainDb(float gain_db) {
    control.configuredMaxGainDb = std::fabs(gain_db);
    requestMaxGain();
}

void ZIZO_agc::resetMaxGain() {
    LOG4CXX_DEBUG(AC_AGC_logger, "AGC " << name << ": resetMaxGain called. Resetting from "
                                        << getMaxGainDb() << " to " << control.configuredMaxGainDb);
    ++control.histogramClears;
    requestMaxGain();
}
