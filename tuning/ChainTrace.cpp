#include "ChainTrace.h"

#include <ZIZO_Config>
#include <cmath>

#include "FlushToZeroMode.h"
#include "LevelMeter.h"
#include "TuningError.h"

namespace {

// Only labels the blocks' own log records.
const std::string kChainName = "LyraneTuning";

ZIZO_Config detectorConfig() {
    ZIZO_Config config;
    config.set<bool>("enabled", true);
    return config;
}

// The chain's output factor: 10^(dB / 20) in double precision, rounded once.
float outputFactor(float gainDb) {
    return static_cast<float>(std::pow(10.0, static_cast<double>(gainDb) * 0.05));
}

ChainTrace::Level levelOf(const LevelMeter& meter) {
    return {meter.rmsDbfs(), meter.peakDbfs()};
}

}  // namespace

ChainTrace::ChainTrace(unsigned int Nblock, unsigned int fs, const ProfileSettings& profile,
                       const std::string& profileName, LogRecordCollector& log)
    : Nblock(Nblock), in(Nblock), equalized(Nblock), out(Nblock) {
    // The chain's construction order and configuration: nothing but the
    // detector's switch.
    const ZIZO_Config empty;
    agc.reset(new ZIZO_agc(kChainName + "_AGC", Nblock, fs, empty));
    equalizer.reset(new ZIZO_equalizer<float>(kChainName + "_EQUALIZER", Nblock, fs, empty));
    sad.reset(new ZIZO_sad(kChainName + "_SAD", Nblock, fs, detectorConfig()));
    applyProfile(profile, profileName, log);
    startMaxGainDb = agc->getMaxGainDb();
    maxGainDb = startMaxGainDb;
}

void ChainTrace::applyProfile(const ProfileSettings& profile, const std::string& profileName,
                              LogRecordCollector& log) {
    if (profile.equalizerCoefficientsFile) {
        log.take();
        equalizer->setFilename(*profile.equalizerCoefficientsFile);
        equalizer->reload();
        for (const CollectedRecord& record : log.take()) {
            if (record.level == "ERROR" || record.level == "FATAL") {
                throw TuningError("profile " + profileName + ": equalizer_coefficients_file " +
                                  *profile.equalizerCoefficientsFile +
                                  " does not load: " + record.message);
            }
        }
    }
    if (profile.agcTargetLevelDb) {
        agc->setTargetLevelDb(*profile.agcTargetLevelDb);
    }
    if (profile.agcMaxGainDb) {
        agc->setMaxGainDb(*profile.agcMaxGainDb);
    }
    if (profile.agcMaxAmp) {
        agc->setMaxAmp(*profile.agcMaxAmp);
    }
    if (profile.agcNonspeechHoldGainTime) {
        agc->setNonspeechHoldGainTime(*profile.agcNonspeechHoldGainTime);
    }
    if (profile.agcNonspeechReleaseSpeed) {
        agc->setNonspeechReleaseSpeed(*profile.agcNonspeechReleaseSpeed);
    }
    if (profile.volumeDb) {
        outputGainLinear = outputFactor(*profile.volumeDb);
    }
    if (profile.agcEnabled) {
        agc->setEnabled(*profile.agcEnabled);
    }
    if (profile.agcDecreaseMaxGain) {
        agc->setDecreaseMaxGain(*profile.agcDecreaseMaxGain);
    }
    if (profile.equalizerEnabled) {
        equalizer->setEnabled(*profile.equalizerEnabled);
    }
}

void ChainTrace::run(const std::vector<float>& samples, unsigned int rowBlocks) {
    const uint64_t blocks = samples.size() / Nblock;
    LevelMeter input, agcInput, output;
    Row row;
    for (uint64_t b = 0; b < blocks; ++b) {
        const uint64_t first = b * Nblock;
        if (row.samples == 0) {
            row.firstSample = first;
            // The factor the AGC multiplies its next sample by, from the
            // state its last sample left.
            const float factor = agc->isEnabled()
                                     ? agc->getDuckGain() * ZIZO_agc::gainFactor(agc->getGainDb())
                                     : 1.0f;
            row.appliedGainDb = 20.0 * std::log10(static_cast<double>(factor));
        }
        for (unsigned int i = 0; i < Nblock; ++i) {
            in[i] = samples[first + i];
        }
        runBlock();
        input.add(in.data(), Nblock);
        agcInput.add(equalized.data(), Nblock);
        output.add(out.data(), Nblock);
        row.samples += Nblock;
        noteReduction(first + Nblock - 1);
        if (row.samples == rowBlocks * Nblock || b + 1 == blocks) {
            row.input = levelOf(input);
            row.agcInput = levelOf(agcInput);
            row.output = levelOf(output);
            row.agcGainDb = agc->getGainDb();
            row.maxGainDb = agc->getMaxGainDb();
            row.speech = sad->isSpeech();
            rows.push_back(row);
            row = Row();
            input.clear();
            agcInput.clear();
            output.clear();
        }
    }
}

// The chain's run, step for step: detector on the input, equalizer from
// input to output, AGC in place with this block's decision, output gain.
void ChainTrace::runBlock() {
    FlushToZeroMode flushSubnormals;
    sad->run(in);
    equalizer->run(in.data(), out.data());
    equalized = out;
    agc->run(out, out, sad->isSpeech());
    out *= outputGainLinear;
}

void ChainTrace::noteReduction(uint64_t lastSample) {
    const float now = agc->getMaxGainDb();
    if (now < maxGainDb) {
        reductions.push_back({lastSample, maxGainDb, now});
    }
    maxGainDb = now;
}
