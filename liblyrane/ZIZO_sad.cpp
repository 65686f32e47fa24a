#include "ZIZO_sad.h"

#include <cmath>

#include "SadKernel.h"
#include "UnitConversions.h"

log4cxx::LoggerPtr ZIZO_sad::AC_SAD_logger = log4cxx::Logger::getLogger("ZIZO.Sad");

namespace {

// Built-in defaults; a supplied configuration overrides them key by key.
const float kDefaultTau_s[5] = {0.003f, 0.04f, 0.2f, 1.0f, 2.048f};
const char* const kTauKeys[5] = {"tau1", "tau2", "tau3", "tau4", "tau5"};
const float kDefaultThreshAbsolute_db = -60.0f;
const float kDefaultThreshOpen_db = 12.0f;
const float kDefaultThreshClose_db = 2.0f;
const float kDefaultHoldOpenTime_s = 0.2f;
const float kDefaultHoldClosedTime_s = 0.032f;

// Start values of the trackers: envelope at -18 dBFS, floors at -40 dBFS.
const float kInitialEnvelope = 0.12589253f;
const float kInitialFloor = 0.01f;

// Whole blocks covering a hold time: divided by the block length before the
// rate is applied. The order decides the rounding, and so the gate's timing
// that the hold times are tuned against. Negative and NaN give 0; a value
// past the range saturates.
uint32_t holdBlocks(float time_s, unsigned int Nblock, unsigned int fs) {
    return lyrane::toCount(std::ceil(time_s / static_cast<float>(Nblock) * static_cast<float>(fs)));
}

}  // namespace

ZIZO_sad::ZIZO_sad(const std::string& name, unsigned int Nblock, unsigned int fs,
                   const ZIZO_Config& config)
    : name(name), Nblock(Nblock) {
    LOG4CXX_DEBUG(AC_SAD_logger, "Creating instance of ZIZO_sad (" << name << ").");

    ZIZO_Config parameters;
    parameters.set<bool>("enabled", false);
    for (int k = 0; k < 5; ++k) {
        parameters.set<float>(kTauKeys[k], kDefaultTau_s[k]);
    }
    parameters.set<float>("thresh_absolute_db", kDefaultThreshAbsolute_db);
    parameters.set<float>("thresh_open_db", kDefaultThreshOpen_db);
    parameters.set<float>("thresh_close_db", kDefaultThreshClose_db);
    parameters.set<float>("hold_open_time", kDefaultHoldOpenTime_s);
    parameters.set<float>("hold_closed_time", kDefaultHoldClosedTime_s);
    parameters.setGroup(config);

    setEnabled(parameters.get<bool>("enabled"));
    for (int k = 0; k < 5; ++k) {
        tau[k] = parameters.get<float>(kTauKeys[k]);
        coef[k] = lyrane::smoothingCoef(fs, tau[k]);
    }
    thresh_absolute_db = parameters.get<float>("thresh_absolute_db");
    threshAbsolute = lyrane::dbToFactor(thresh_absolute_db);
    thresh_open_db = parameters.get<float>("thresh_open_db");
    threshOpen = lyrane::dbToFactor(thresh_open_db);
    thresh_close_db = parameters.get<float>("thresh_close_db");
    threshClose = lyrane::dbToFactor(thresh_close_db);
    hold_open_time = parameters.get<float>("hold_open_time");
    holdOpenBlocks = holdBlocks(hold_open_time, Nblock, fs);
    hold_closed_time = parameters.get<float>("hold_closed_time");
    holdClosedBlocks = holdBlocks(hold_closed_time, Nblock, fs);

    envelope = kInitialEnvelope;
    floorTrack = kInitialFloor;
    floorSmooth = kInitialFloor;
    state = CLOSED;
    blockCounter = 0;
    speech = false;
}

void ZIZO_sad::setEnabled(bool enable) {
    enabled = enable;
    if (enable) {
        LOG4CXX_INFO(AC_SAD_logger, "SAD " << name << " enabled.");
    } else {
        LOG4CXX_INFO(AC_SAD_logger, "SAD " << name << " disabled.");
    }
}

void ZIZO_sad::switchState(int newState) {
    state = newState;
    blockCounter = 0;
    speech = static_cast<unsigned int>(newState) <= CLOSING;
}

// One pass: at one sample per call (the plug-in's case) the cost of a block
// is mostly its set-up, so the ratio and both tests are taken with the
// trackers instead of in passes of their own.
inline ZIZO_sad::BlockTests ZIZO_sad::updateTrackers(const float* in) {
    const uint32_t n = Nblock;
    const lyrane::SadCoefficients c{coef, threshOpen, threshClose, threshAbsolute};
    lyrane::SadTrackers t{envelope, floorTrack, floorSmooth};
    lyrane::SadBlockTests tests;
    for (uint32_t i = 0; i < n; ++i) {
        lyrane::sadSample(c, t, tests, in[i]);
    }
    envelope = t.envelope;
    floorTrack = t.floorTrack;
    floorSmooth = t.floorSmooth;
    return BlockTests{tests.closing, tests.opening()};
}

inline bool ZIZO_sad::stepGate(bool closing, bool opening) {
    if (!lyrane::sadGateStep(state, blockCounter, holdOpenBlocks, holdClosedBlocks, closing,
                             opening)) {
        return false;
    }
    speech = static_cast<unsigned int>(state) <= CLOSING;
    return true;
}

inline void ZIZO_sad::flushSubnormalTrackers(uint32_t samples) {
    if (!subnormalCheck.due(samples)) {
        return;
    }
    lyrane::flushSubnormal(envelope);
    lyrane::flushSubnormal(floorTrack);
    lyrane::flushSubnormal(floorSmooth);
}

void ZIZO_sad::flushSubnormalTrackersAfter(uint32_t samples) {
    flushSubnormalTrackers(samples);
}

void ZIZO_sad::run(const float* in) {
    if (!enabled || Nblock == 0) {
        return;
    }
    const BlockTests tests = updateTrackers(in);
    flushSubnormalTrackers(Nblock);
    if (!stepGate(tests.closing, tests.opening)) {
        LYRANE_DEFERRED_ERROR(logQueue, AC_SAD_logger, "Unknown state {}",
                              static_cast<unsigned int>(state));
    }
}

void ZIZO_sad::run(const Eigen::ArrayXf& in) {
    if (!enabled) {
        return;
    }
    if (in.size() < static_cast<Eigen::Index>(Nblock)) {
        LYRANE_DEFERRED_ERROR(logQueue, AC_SAD_logger,
                              "SAD {}: block of {} samples refused, {} expected.", name, in.size(),
                              Nblock);
        return;
    }
    run(in.data());
}
