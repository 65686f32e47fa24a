// Per sample (AgcKernel.h): the gain in dB, turned into a factor by
// gainFactor, and a fast duck gain multiply the input; a peak follower
// measures the level of that product; with speech the gain moves by
// p_gain / fs x (target - level) dB within [-max_gain_db, maxGainDb]
// (AgcGainLaw.h); without speech it is held for nonspeech_hold_gain_time
// and then drifts to 0 dB at nonspeech_release_speed. A sample that would
// exceed max_amp pulls the duck gain down (recovering with tau_duck), and
// every output sample is clipped to +-max_amp.
//
// Maximum-gain reduction ("decrease_max_gain"): a 15.9 Hz DC-blocking
// high-pass of the input feeds a histogram of 32 level bins of 3 dB, bin 0
// the loudest (AgcLevelBins.h). Once more than one second of samples is
// counted, at the end of every block, the first bin j at which bins 0..j
// together hold more than 0.1 % of the counted samples lowers maxGainDb to
// 3 x j dB (only bins below the current maximum are scanned, and never more
// than the 32). The statistics restart after more than three seconds.
#include "ZIZO_agc.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "AgcGainLaw.h"
#include "AgcKernel.h"
#include "AgcLevelBins.h"
#include "UnitConversions.h"
#include "lyrane_detail/FloatBits.h"

using lyrane::floatBits;
using lyrane::floatOfBits;

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

// Corner of the DC-blocking high-pass in front of the level histogram:
// 100 rad/s, about 15.9 Hz.
const float kHighPassCorner_rad_per_s = 100.0f;

uint64_t packMaxGain(uint32_t requests, float gain_db) {
    return (static_cast<uint64_t>(requests) << 32) | floatBits(gain_db);
}

}  // namespace

ZIZO_agc::ZIZO_agc(const std::string& name, unsigned int Nblock, unsigned int fs,
                   const ZIZO_Config& config)
    : name(name), Nblock(Nblock), fs(fs), binTable(lyrane::levelBinTable()) {
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
    factorOfGain = lyrane::gainFactor(gainDb);
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

float ZIZO_agc::gainFactor(float gain_db) {
    return lyrane::gainFactor(gain_db);
}

// The samples were binned in the sample loop; here the block is counted
// and, from more than one second on, checked.
inline void ZIZO_agc::countBlockForMaxGain() {
    histogramSamples += Nblock;
    // The scan finds a bin exactly when the sum over all scanned bins passes
    // the threshold, so it runs only then.
    const float threshold = lyrane::overdriveThreshold(histogramSamples);
    if (histogramSamples > fs && threshold < static_cast<float>(scanBinsCount)) {
        updateMaxGain();
    }
    if (histogramSamples > 3 * fs) {
        clearHistogram();
    }
}

void ZIZO_agc::updateMaxGain() {
    const int j = lyrane::overdrivenBin(levelHistogram.data(), scanBins, histogramSamples);
    if (j < 0) {
        return;
    }
    setCurrentMaxGain(static_cast<float>(3 * j));
    publishReducedMaxGain();
    LYRANE_DEFERRED_INFO(logQueue, AC_AGC_logger, "AGC {}: max_gain_db was reduced to {}", name,
                         maxGainDb);
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
    flushSubnormalStates(Nblock);
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

inline void ZIZO_agc::flushSubnormalStates(uint32_t samples) {
    if (!subnormalCheck.due(samples)) {
        return;
    }
    lyrane::flushSubnormal(level);
    lyrane::flushSubnormal(hpPrevOutput);
}

// The loop state lives in locals for the block and goes back to the members
// at its end, so that the stores to out cannot make the compiler reload it.
// Returns whether any sample was ducked.
template <bool kReduce>
inline bool ZIZO_agc::runSamples(const Settings& settings, const float* x, float* out,
                                 bool speech) {
    const uint32_t n = Nblock;
    const lyrane::LevelBinTable& bins = binTable;
    const lyrane::AgcSampleSettings p{
        settings.maxAmp,
        settings.levelCoef,
        settings.duckCoef,
        settings.levelBelowTargetMax,
        {settings.targetLevelDb, settings.gainStepPerDb, maxGainDb, settings.configuredMaxGainDb},
        settings.holdSamples,
        settings.releaseStepDb};
    lyrane::AgcLoopState s{gainDb, duckGain, level, factorGainBits, factorOfGain, nonspeechCounter};
    const lyrane::HighPassCoefficients hp{hpCoefA, hpCoefB};
    lyrane::HighPassState hpState{hpPrevInput, hpPrevOutput};
    const uint32_t scanned = scanBins;
    uint32_t countInScan = 0;
    bool ducked = false;
    for (uint32_t i = 0; i < n; ++i) {
        const float xi = x[i];
        if (kReduce) {
            lyrane::countLevel(hp, hpState, bins, levelHistogram.data(), scanned, countInScan, xi);
        }
        out[i] = lyrane::agcSample(p, s, xi, speech, ducked);
    }
    gainDb = s.gainDb;
    duckGain = s.duckGain;
    level = s.level;
    factorGainBits = s.factorGainBits;
    factorOfGain = s.factorOfGain;
    nonspeechCounter = s.nonspeechCounter;
    hpPrevInput = hpState.prevInput;
    hpPrevOutput = hpState.prevOutput;
    scanBinsCount += countInScan;
    return ducked;
}

void ZIZO_agc::clearHistogram() {
    levelHistogram.fill(0);
    histogramSamples = 0;
    scanBinsCount = 0;
}

void ZIZO_agc::setCurrentMaxGain(float gain_db) {
    maxGainDb = gain_db;
    scanBins = lyrane::scanBinsBelow(maxGainDb, levelHistogram.data(), scanBinsCount);
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
                                      ? lyrane::largestLevelBelow(level_db)
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

const ZIZO_agc::Settings& ZIZO_agc::takeSettingsOutOfLine() {
    return takeSettings();
}

void ZIZO_agc::runOutOfLine(const Settings& settings, const float* in, float* out, bool speech) {
    run(settings, in, out, speech);
}

void ZIZO_agc::flushSubnormalStatesAfter(uint32_t samples) {
    flushSubnormalStates(samples);
}
