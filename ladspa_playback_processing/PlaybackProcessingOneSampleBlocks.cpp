// The chain's run of one-sample blocks over a host buffer
// (PlaybackProcessing::runOneSampleBlocks, the plug-in's path): the
// bookkeeping once per buffer, then the blocks' kernels in one loop with
// every state in a local. The rest of the chain is in PlaybackProcessing.cpp.
#include <algorithm>
#include <array>
#include <cstdint>
#include <type_traits>
#include <vector>

#include "AgcKernel.h"
#include "BiquadLanePipeline.h"
#include "PlaybackProcessing.h"
#include "SadKernel.h"
#include "ZIZO_agc.h"
#include "ZIZO_equalizer.h"
#include "ZIZO_sad.h"
#include "lyrane_detail/BiquadKernel.h"
#include "lyrane_detail/SubnormalStates.h"

namespace {

// Sections the loop of one-sample blocks keeps in locals; a longer cascade
// goes block by block.
constexpr std::size_t kLocalSections = 16;
// The shipped coefficient files' cascade, with a loop of its own: at a count
// known at compile time the lanes' last section is read straight from its
// register, and sections in turn keep every state in a register.
constexpr std::size_t kDeviceSections = 6;

// Samples counted towards a subnormal check; every count from the check's
// interval on makes it due.
uint32_t samplesForCheck(std::size_t n) {
    return static_cast<uint32_t>(std::min<std::size_t>(n, lyrane::kSubnormalCheckInterval));
}

}  // namespace

__attribute__((noinline)) void PlaybackProcessing::runSampleBySample(const float* in, float* out,
                                                                     std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        run(in + i, out + i);
}

// The detector's state in locals for the loop of one-sample blocks; each
// sample is a block, so its gate steps once per sample.
struct PlaybackProcessing::SadLocals {
    explicit SadLocals(ZIZO_sad& block)
        : d(block),
          detecting(block.enabled),
          sc{block.coef, block.threshOpen, block.threshClose, block.threshAbsolute},
          holdOpen(block.holdOpenBlocks),
          holdClosed(block.holdClosedBlocks),
          t{block.envelope, block.floorTrack, block.floorSmooth},
          gate(block.state),
          gateCount(block.blockCounter),
          speech(block.speech) {}

    // The sample's speech decision.
    bool step(float x) {
        if (detecting) {
            lyrane::SadBlockTests tests;
            lyrane::sadSample(sc, t, tests, x);
            lyrane::sadGateStep(gate, gateCount, holdOpen, holdClosed, tests.closing,
                                tests.opening());
            speech = static_cast<unsigned int>(gate) <= ZIZO_sad::CLOSING;
        }
        return speech;
    }

    void storeAfter(std::size_t n) {
        if (!detecting)
            return;
        d.envelope = t.envelope;
        d.floorTrack = t.floorTrack;
        d.floorSmooth = t.floorSmooth;
        d.state = gate;
        d.blockCounter = gateCount;
        d.speech = speech;
        d.flushSubnormalTrackersAfter(samplesForCheck(n));
    }

    ZIZO_sad& d;
    const bool detecting;
    const lyrane::SadCoefficients sc;
    const uint32_t holdOpen;
    const uint32_t holdClosed;
    lyrane::SadTrackers t;
    int gate;
    uint32_t gateCount;
    bool speech;
};

// The equalizer's sections in locals, after a pending reset.
struct PlaybackProcessing::EqualizerLocals {
    explicit EqualizerLocals(ZIZO_equalizer<float>& block)
        : biquads(block.live->biquads),
          eq(block),
          filtering(block.runEnabled.load(std::memory_order_acquire)),
          sections(biquads.size()),
          cascadeGain(block.live->gain) {
        block.resetIfRequested();
        for (std::size_t k = 0; k < sections; ++k) {
            c[k] = biquads[k].c;
            w[k] = biquads[k].state;
        }
    }

    void storeAfter(std::size_t n) {
        for (std::size_t k = 0; k < sections; ++k)
            biquads[k].state = w[k];
        if (filtering)
            eq.flushSubnormalStates(samplesForCheck(n));
    }

    std::vector<ZIZO_biquad<float>>& biquads;
    ZIZO_equalizer<float>& eq;
    const bool filtering;
    const std::size_t sections;
    const float cascadeGain;
    std::array<lyrane::BiquadCoefficients<float>, kLocalSections> c;
    std::array<lyrane::BiquadState<float>, kLocalSections> w;
};

namespace {

// The ways the loop runs the equalizer. Each filters in[0 .. n - 1] and
// hands each sample j, in order, to leave(j, y), after in[j] has been read.

// Switched off: the samples pass as they are.
struct PassingThrough {
    template <class Leave>
    void run(const float* in, std::size_t n, Leave&& leave) {
        for (std::size_t j = 0; j < n; ++j)
            leave(j, in[j]);
    }
};

// The sections one after another within each sample; kSections is their
// count when known at compile time, which keeps every state in a register
// (0: any count).
template <std::size_t kSections>
class CascadeInTurn {
  public:
    CascadeInTurn(const lyrane::BiquadCoefficients<float>* c, lyrane::BiquadState<float>* w,
                  std::size_t sections, float gain)
        : c(c), w(w), sections(sections), gain(gain) {}

    template <class Leave>
    void run(const float* in, std::size_t n, Leave&& leave) {
        for (std::size_t j = 0; j < n; ++j) {
            float x = in[j];
            for (std::size_t k = 0; k < (kSections ? kSections : sections); ++k)
                x = lyrane::biquadSample(c[k], w[k], x);
            leave(j, gain * x);
        }
    }

  private:
    const lyrane::BiquadCoefficients<float>* const c;
    lyrane::BiquadState<float>* const w;
    const std::size_t sections;
    const float gain;
};

// The sections side by side in vector lanes (BiquadLanePipeline.h);
// kSections as for the pipeline.
template <std::size_t kSections>
class CascadeAcrossLanes {
  public:
    CascadeAcrossLanes(const lyrane::BiquadCoefficients<float>* c, lyrane::BiquadState<float>* w,
                       std::size_t sections, float gain)
        : lanes(c, w, sections), w(w), gain(gain) {}

    template <class Leave>
    void run(const float* in, std::size_t n, Leave&& leave) {
        lanes.run(in, n, gain, leave);
        lanes.store(w);
    }

  private:
    lyrane::BiquadLanePipeline<kSections> lanes;
    lyrane::BiquadState<float>* const w;
    const float gain;
};

}  // namespace

// The AGC's loop state in locals. The rare steps (a duck, which posts its
// record from the AGC's own block; the maximum-gain reduction; the
// histogram's restart) go through the block's own functions, with the
// locals stored before and loaded after.
struct PlaybackProcessing::AgcLocals {
    // settings: taken by runOneSampleBlocks, current until the next take.
    AgcLocals(ZIZO_agc& block, const ZIZO_agc::Settings& settings)
        : a(block),
          settings(settings),
          leveling(settings.enabled),
          p{settings.maxAmp,
            settings.levelCoef,
            settings.duckCoef,
            settings.levelBelowTargetMax,
            {settings.targetLevelDb, settings.gainStepPerDb, block.maxGainDb,
             settings.configuredMaxGainDb},
            settings.holdSamples,
            settings.releaseStepDb},
          hp{block.hpCoefA, block.hpCoefB},
          bins(block.binTable),
          histogram(block.levelHistogram.data()),
          fs(block.fs) {
        load();
    }

    template <bool kReduce>
    float step(float x, bool speech) {
        const lyrane::AgcLoopState before = s;
        bool ducked = false;
        const float y = lyrane::agcSample(p, s, x, speech, ducked);
        if (ducked) {
            s = before;
            store();
            float leveled;
            a.runOutOfLine(settings, &x, &leveled, speech);
            load();
            return leveled;
        }
        if (kReduce)
            countForReduction(x);
        return y;
    }

    void countForReduction(float x) {
        lyrane::countLevel(hp, hs, bins, histogram, scanned, inScan, x);
        ++counted;
        if (counted > fs && lyrane::overdriveThreshold(counted) < static_cast<float>(inScan)) {
            store();
            a.updateMaxGain();
            load();
        }
        if (counted > 3 * fs) {
            store();
            a.clearHistogram();
            load();
        }
    }

    void load() {
        s = {a.gainDb, a.duckGain, a.level, a.factorGainBits, a.factorOfGain, a.nonspeechCounter};
        hs = {a.hpPrevInput, a.hpPrevOutput};
        p.law.maxGainDb = a.maxGainDb;
        scanned = a.scanBins;
        inScan = a.scanBinsCount;
        counted = a.histogramSamples;
    }

    void store() {
        a.gainDb = s.gainDb;
        a.duckGain = s.duckGain;
        a.level = s.level;
        a.factorGainBits = s.factorGainBits;
        a.factorOfGain = s.factorOfGain;
        a.nonspeechCounter = s.nonspeechCounter;
        a.hpPrevInput = hs.prevInput;
        a.hpPrevOutput = hs.prevOutput;
        a.scanBinsCount = inScan;
        a.histogramSamples = counted;
    }

    void storeAfter(std::size_t n) {
        if (!leveling)
            return;
        store();
        a.flushSubnormalStatesAfter(samplesForCheck(n));
    }

    ZIZO_agc& a;
    const ZIZO_agc::Settings& settings;
    const bool leveling;
    lyrane::AgcSampleSettings p;
    const lyrane::HighPassCoefficients hp;
    const lyrane::LevelBinTable& bins;
    uint32_t* const histogram;
    const uint32_t fs;
    lyrane::AgcLoopState s;
    lyrane::HighPassState hs;
    uint32_t scanned;
    uint32_t inScan;
    uint32_t counted;
};

// Picks the equalizer's way for the loop.
template <bool kReduce>
void PlaybackProcessing::runOneSampleLoopFor(EqualizerLocals& equalizing, const float* in,
                                             float* out, std::size_t n) {
    const std::size_t sections = equalizing.sections;
    lyrane::BiquadCoefficients<float>* const c = equalizing.c.data();
    lyrane::BiquadState<float>* const w = equalizing.w.data();
    const float gain = equalizing.cascadeGain;
    using DeviceCascade =
        std::conditional_t<lyrane::kBiquadLanePipelineUsed, CascadeAcrossLanes<kDeviceSections>,
                           CascadeInTurn<kDeviceSections>>;
    if (!equalizing.filtering) {
        PassingThrough passing;
        runOneSampleLoop<kReduce>(passing, in, out, n);
    } else if (sections == kDeviceSections) {
        DeviceCascade device(c, w, sections, gain);
        runOneSampleLoop<kReduce>(device, in, out, n);
    } else if (lyrane::kBiquadLanePipelineUsed && sections >= 1 &&
               sections <= lyrane::kBiquadLanePipelineMaxSections) {
        CascadeAcrossLanes<0> lanes(c, w, sections, gain);
        runOneSampleLoop<kReduce>(lanes, in, out, n);
    } else {
        CascadeInTurn<0> inTurn(c, w, sections, gain);
        runOneSampleLoop<kReduce>(inTurn, in, out, n);
    }
}

// Each sample is one block: the detector's decision, the equalizer, the AGC
// with that decision and its block end, the output gain.
template <bool kReduce, class Equalizing>
void PlaybackProcessing::runOneSampleLoop(Equalizing& equalizing, const float* in, float* out,
                                          std::size_t n) {
    SadLocals detector(*sad);
    AgcLocals leveling(*agc, agc->exchange.current());
    const float gain = outputGainLinear.load(std::memory_order_relaxed);
    // Reads in[j] before writing out[j], so in and out may be one buffer.
    equalizing.run(in, n, [&](std::size_t j, float equalized) {
        const bool speech = detector.step(in[j]);
        float y = equalized;
        if (leveling.leveling)
            y = leveling.step<kReduce>(y, speech);
        out[j] = y * gain;
    });
    detector.storeAfter(n);
    leveling.storeAfter(n);
}

// Bookkeeping once per call, then the blocks' kernels in one loop: at one
// sample per block the hand-overs, the FIFO's publication and the
// countdowns would cost as much as a sample's arithmetic.
__attribute__((flatten)) bool PlaybackProcessing::runOneSampleBlocks(const float* in, float* out,
                                                                     std::size_t n) {
    if (Nblock != 1)
        return false;
    if (n == 0)
        return true;
    ZIZO_equalizer<float>& eq = *equalizer;
    eq.live = eq.handover.take(eq.live);
    if (eq.live->biquads.size() > kLocalSections ||
        static_cast<unsigned int>(sad->state) > ZIZO_sad::OPENING) {
        runSampleBySample(in, out, n);
        return true;
    }
    // Without a consumer the FIFO stays full and the samples are left out,
    // as run leaves out a block.
    inputFifo.pushSamples(in, n);
    const ZIZO_agc::Settings& agcSettings = agc->takeSettingsOutOfLine();
    EqualizerLocals equalizing(*equalizer);
    if (agcSettings.enabled && agcSettings.decreaseMaxGain) {
        runOneSampleLoopFor<true>(equalizing, in, out, n);
    } else {
        runOneSampleLoopFor<false>(equalizing, in, out, n);
    }
    equalizing.storeAfter(n);
    return true;
}
