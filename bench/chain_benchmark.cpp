// Cost per sample of the playback chain, as the device runs it: equalizer on
// (the six sections of the shipped coefficient file), AGC on with the
// maximum-gain reduction, output gain 0 dB, and one consumer pull per sample
// so that the input FIFO stays in its steady state.
//
//   Process/Nblock1        the C interface, one sample per call (the plug-in)
//   Process/Nblock1/no-consumer  the same with nobody pulling the input
//   Run/Nblock160          PlaybackProcessing::run directly
// each on speech and on digital silence that follows a burst of speech, long
// enough for every decaying state to have reached the subnormal range. The
// Blocks benchmarks run the same three blocks without the chain, and so
// without its flush-to-zero mode, to show what subnormal arithmetic costs
// and, at Nblock 1, what the chain adds to each call.
//
// Counter time_per_sample: processor time per input sample (printed with its
// unit, e.g. 64.5ns).
//
// How the per-sample cost was brought down, each step with results unchanged
// bit for bit (the chain and block tests compare against the plain formulas):
// - Detector: one pass over the block takes the trackers, the ratio and both
//   gate tests, so a one-sample call costs little more than the sample.
// - AGC: the level in dB (one logarithm) is taken only for samples with the
//   speech flag set, the only ones whose gain update reads it. The histogram
//   bin comes from a table of exact bin edges instead of a second logarithm,
//   and the end-of-block scan runs only when it can lower the maximum. A
//   speech sample that finds the gain at the maximum with the level at or
//   below the largest level whose dB value is under the target (found once
//   per target by bisection over the float bit patterns) keeps the gain
//   there without the logarithm.
// - Equalizer: per sample one test of the enabled flag and one
//   processSample per section, over sections held by value in one array.
// - Flush-to-zero guard: defined inline, it keeps the saved control state in
//   a register, about 1.5 ns a sample less than out of line on x86. What
//   remains is reading the control register, which also reads the sticky
//   exception flags and so waits for every floating-point instruction before
//   it to finish.
#include <benchmark/benchmark.h>

#include <Eigen/Core>
#include <ZIZO_Config>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>

#include "ExternalModuleRegistry.h"
#include "PlaybackProcessing.h"
#include "SpeechLikeSignal.h"
#include "ZIZO_agc.h"
#include "ZIZO_equalizer.h"
#include "ZIZO_sad.h"
#include "playbackprocessing_cwrapper.h"

namespace {

const std::string kCoefficientFile =
    std::string(LYRANE_SOURCE_CONFIG_DIR) + "/equalizer_coefficients.cfg";

// Speech burst before the measured silence, and the silence let pass before
// measuring: the AGC's level follower (tau 1.5 s) needs about 130 s to fall
// from speech level to the smallest normal float and some more to settle in
// the subnormal range; the other states get there within seconds.
constexpr double kBurstSeconds = 5.0;
constexpr double kSilenceBeforeSeconds = 240.0;
constexpr double kSpeechSeconds = 10.0;

enum class Signal { Speech, SilenceAfterSpeech };

ZIZO_Config deviceConfig() {
    ZIZO_Config config;
    config.set<bool>("AGC.enabled", true);
    config.set<bool>("AGC.decrease_max_gain", true);
    config.set<bool>("EQUALIZER.enabled", true);
    config.set<std::string>("EQUALIZER.coeff_file", kCoefficientFile);
    return config;
}

// The chain behind the C interface, fed one sample per call. With
// Pulling::No nobody takes the buffered input, as with the plug-in in a host
// that only plays the processed stream: the FIFO fills once and then drops
// every block.
enum class Pulling { Yes, No };

template <Pulling pulling>
class CInterfaceChain {
  public:
    explicit CInterfaceChain(unsigned int fs)
        : handle(PlaybackProcessing_Init("BENCH_CWRAPPER", 1, fs)) {
        // The plug-in's order: coefficient file, AGC settings, volume,
        // switches.
        PlaybackProcessing_setEqualizerFilename(handle, kCoefficientFile.c_str());
        PlaybackProcessing_setAGCDecreaseMaxGain(handle, 1);
        PlaybackProcessing_setOutputGainDb(handle, 0.0f);
        PlaybackProcessing_setAGCEnabled(handle, 1);
        PlaybackProcessing_setEqualizerEnabled(handle, 1);
        consumer = ExternalModuleRegistry::getInstance()->getPlaybackProcessing("BENCH_CWRAPPER");
    }
    ~CInterfaceChain() {
        consumer.reset();
        PlaybackProcessing_Uninit(handle);
    }
    bool ready() const { return consumer && consumer->isEqualizerEnabled(); }
    void process(const float* in, float* out, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            PlaybackProcessing_Process(handle, in + i, out + i);
            if (pulling == Pulling::Yes)
                benchmark::DoNotOptimize(consumer->getNextInputSample());
        }
    }
    static const char* label() {
        return pulling == Pulling::Yes ? "Process/Nblock1" : "Process/Nblock1/no-consumer";
    }

  private:
    PlaybackProcessingData* handle;
    std::shared_ptr<PlaybackProcessing> consumer;
};

// PlaybackProcessing::run at the benchmark's block length.
class DirectChain {
  public:
    static constexpr unsigned int Nblock = 160;
    explicit DirectChain(unsigned int fs)
        : chain("BENCH_DIRECT", Nblock, fs, deviceConfig()), in(Nblock), out(Nblock) {
        chain.setOutputGainDb(0.0f);
    }
    bool ready() const { return chain.isEqualizerEnabled() && chain.isAgcEnabled(); }
    void process(const float* x, float* y, std::size_t n) {
        for (std::size_t start = 0; start + Nblock <= n; start += Nblock) {
            in = Eigen::Map<const Eigen::ArrayXf>(x + start, Nblock);
            chain.run(in, out);
            Eigen::Map<Eigen::ArrayXf>(y + start, Nblock) = out;
            for (unsigned int i = 0; i < Nblock; ++i) {
                benchmark::DoNotOptimize(chain.getNextInputSample());
            }
        }
    }
    static const char* label() { return "Run/Nblock160"; }

  private:
    PlaybackProcessing chain;
    Eigen::ArrayXf in, out;
};

// The three blocks in the chain's order, without the chain: no locks, no
// FIFO and no flush-to-zero mode. At Nblock 1, Process/Nblock1/no-consumer
// minus this is what the chain itself costs per call.
template <unsigned int Nblock>
class BareBlocks {
  public:
    explicit BareBlocks(unsigned int fs)
        : agc("BENCH_AGC", Nblock, fs, deviceConfig().getGroup("AGC.")),
          equalizer("BENCH_EQUALIZER", Nblock, fs, deviceConfig().getGroup("EQUALIZER.")),
          sad("BENCH_SAD", Nblock, fs, detectorConfig()),
          in(Nblock),
          out(Nblock) {}
    bool ready() const { return equalizer.isEnabled() && agc.isEnabled(); }
    void process(const float* x, float* y, std::size_t n) {
        for (std::size_t start = 0; start + Nblock <= n; start += Nblock) {
            in = Eigen::Map<const Eigen::ArrayXf>(x + start, Nblock);
            sad.run(in);
            equalizer.run(in.data(), out.data());
            agc.run(out, out, sad.isSpeech());
            Eigen::Map<Eigen::ArrayXf>(y + start, Nblock) = out;
        }
    }
    static const char* label() {
        return Nblock == 1 ? "Blocks/Nblock1/no-flush" : "Blocks/Nblock160/no-flush";
    }

  private:
    static ZIZO_Config detectorConfig() {
        ZIZO_Config config;
        config.set<bool>("enabled", true);
        return config;
    }
    ZIZO_agc agc;
    ZIZO_equalizer<float> equalizer;
    ZIZO_sad sad;
    Eigen::ArrayXf in, out;
};

template <class Chain, Signal kind>
void BM_Chain(benchmark::State& state) {
    const unsigned int fs = static_cast<unsigned int>(state.range(0));
    Chain chain(fs);
    if (!chain.ready()) {
        state.SkipWithError("equalizer or AGC not enabled (coefficient file missing?)");
        return;
    }
    const std::size_t second = fs;
    Eigen::ArrayXf input, output(second);
    if (kind == Signal::Speech) {
        input = speechLike(std::size_t(kSpeechSeconds * fs), fs);
    } else {
        const Eigen::ArrayXf burst = speechLike(std::size_t(kBurstSeconds * fs), fs);
        Eigen::ArrayXf scratch(burst.size());
        chain.process(burst.data(), scratch.data(), burst.size());
        input = Eigen::ArrayXf::Zero(second);
        for (int s = 0; s < int(kSilenceBeforeSeconds); ++s) {
            chain.process(input.data(), output.data(), second);
        }
    }

    std::size_t offset = 0, samples = 0;
    for (auto _ : state) {
        chain.process(input.data() + offset, output.data(), second);
        benchmark::ClobberMemory();
        offset = (offset + second) % std::size_t(input.size());
        samples += second;
    }
    state.SetLabel(Chain::label());
    state.SetItemsProcessed(int64_t(samples));
    state.counters["time_per_sample"] = benchmark::Counter(
        double(samples), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

#define CHAIN_BENCHMARK(chain, kind)                  \
    BENCHMARK_TEMPLATE(BM_Chain, chain, Signal::kind) \
        ->ArgName("fs")                               \
        ->Arg(16000)                                  \
        ->Arg(48000)                                  \
        ->Unit(benchmark::kMillisecond)

CHAIN_BENCHMARK(CInterfaceChain<Pulling::Yes>, Speech);
CHAIN_BENCHMARK(CInterfaceChain<Pulling::Yes>, SilenceAfterSpeech);
CHAIN_BENCHMARK(CInterfaceChain<Pulling::No>, Speech);
CHAIN_BENCHMARK(DirectChain, Speech);
CHAIN_BENCHMARK(DirectChain, SilenceAfterSpeech);
CHAIN_BENCHMARK(BareBlocks<160>, Speech);
CHAIN_BENCHMARK(BareBlocks<160>, SilenceAfterSpeech);
CHAIN_BENCHMARK(BareBlocks<1>, Speech);

}  // namespace

BENCHMARK_MAIN();
