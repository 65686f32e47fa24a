// Cost per sample of the playback chain, as the device runs it (equalizer on
// with the six sections of the shipped coefficient file, AGC on with the
// maximum-gain reduction, output gain 0 dB, 48 kHz), against its cost floor:
//
//   Floor/Nblock1, Floor/Nblock160   the chain's arithmetic alone, fused in one
//                                    loop (PlaybackFloor.h), flush-to-zero set
//                                    once per buffer
//   Floor/Nblock1/written            the same with every formula evaluated as
//                                    written (a logarithm per level and per bin)
//   Process/Nblock1                  the C interface, one sample per call (the
//                                    plug-in), with a consumer pulling one input
//                                    sample per sample
//   Process/Nblock1/no-consumer      the same with nobody pulling: the FIFO fills
//                                    once and then drops every block
//   ProcessBuffer/Nblock1            the C interface, one call per host buffer
//                                    of 1024 one-sample blocks (the plug-in
//                                    today), the consumer pulling a buffer's
//                                    worth after each
//   Run/Nblock160                    PlaybackProcessing::run, the consumer
//                                    pulling a block's worth per block
//
// each on speech and on digital silence after a burst of speech, long enough
// for every decaying state to have reached the subnormal range.
//
// Each benchmark runs in several repetitions, interleaved at random with the
// others so that a change of machine load hits them all alike. At the end a
// table gives each path's median processor time per sample and its ratio to
// the floor of the same block length on speech, and each path's silence cost
// as a ratio to its speech cost.
//
// Usage: chain_benchmark [Google Benchmark flags]; without
// --benchmark_repetitions it runs 5 repetitions, interleaved.
#include <benchmark/benchmark.h>

#include <Eigen/Core>
#include <ZIZO_Config>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ExternalModuleRegistry.h"
#include "FlushToZeroMode.h"
#include "PlaybackFloor.h"
#include "PlaybackProcessing.h"
#include "SpeechLikeSignal.h"
#include "playbackprocessing_cwrapper.h"

namespace {

const std::string kCoefficientFile =
    std::string(LYRANE_SOURCE_CONFIG_DIR) + "/equalizer_coefficients.cfg";

constexpr unsigned int kFs = 48000;

// Speech burst before the measured silence, and the silence let pass before
// measuring: the AGC's level follower (tau 1.5 s) needs about 130 s to fall
// from speech level to the smallest normal float and some more to settle in
// the subnormal range; the other states get there within seconds.
constexpr double kBurstSeconds = 5.0;
constexpr double kSilenceBeforeSeconds = 240.0;
constexpr double kSpeechSeconds = 10.0;

enum class Signal { Speech, SilenceAfterSpeech };

// Each path, and the floor its ratio refers to; rows of the closing table in
// this order.
struct PathRow {
    const char* name;
    const char* floor;
};
const PathRow kPathRows[] = {
    {"Floor/Nblock1", "Floor/Nblock1"},         {"Floor/Nblock1/written", "Floor/Nblock1"},
    {"Process/Nblock1", "Floor/Nblock1"},       {"Process/Nblock1/no-consumer", "Floor/Nblock1"},
    {"ProcessBuffer/Nblock1", "Floor/Nblock1"}, {"Floor/Nblock160", "Floor/Nblock160"},
    {"Run/Nblock160", "Floor/Nblock160"},
};

const char* signalName(Signal kind) {
    return kind == Signal::Speech ? "speech" : "silence";
}

template <unsigned int Nblock, playback_floor::Arithmetic kind>
class FloorPath {
  public:
    FloorPath() : floor(kFs, playback_floor::loadEqualizerSet(kCoefficientFile, kFs)) {}
    bool ready() const { return true; }
    void process(const float* in, float* out, std::size_t n) {
        floor.template process<kind>(in, out, n);
    }
    static const char* label() {
        if (kind == playback_floor::Arithmetic::Written) {
            return "Floor/Nblock1/written";
        }
        return Nblock == 1 ? "Floor/Nblock1" : "Floor/Nblock160";
    }

  private:
    playback_floor::PlaybackFloor<Nblock> floor;
};

// The chain behind the C interface, fed one sample per call. With
// Pulling::No nobody takes the buffered input, as with the plug-in in a host
// that only plays the processed stream.
enum class Pulling { Yes, No };

template <Pulling pulling>
class CInterfaceChain {
  public:
    CInterfaceChain() : handle(PlaybackProcessing_Init("BENCH_CWRAPPER", 1, kFs)) {
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
            if (pulling == Pulling::Yes) {
                benchmark::DoNotOptimize(consumer->getNextInputSample());
            }
        }
    }
    static const char* label() {
        return pulling == Pulling::Yes ? "Process/Nblock1" : "Process/Nblock1/no-consumer";
    }

  protected:
    PlaybackProcessingData* handle;
    std::shared_ptr<PlaybackProcessing> consumer;
};

// The chain behind the C interface, fed a host buffer per call.
class BufferChain : public CInterfaceChain<Pulling::No> {
  public:
    static constexpr std::size_t kHostBuffer = 1024;
    void process(const float* in, float* out, std::size_t n) {
        for (std::size_t start = 0; start < n; start += kHostBuffer) {
            const std::size_t count = std::min(kHostBuffer, n - start);
            PlaybackProcessing_ProcessBuffer(handle, in + start, out + start, count);
            for (std::size_t i = 0; i < count; ++i) {
                benchmark::DoNotOptimize(consumer->getNextInputSample());
            }
        }
    }
    static const char* label() { return "ProcessBuffer/Nblock1"; }
};

// PlaybackProcessing::run at the off-line block length.
class DirectChain {
  public:
    static constexpr unsigned int Nblock = 160;
    DirectChain() : chain("BENCH_DIRECT", Nblock, kFs, deviceConfig()), in(Nblock), out(Nblock) {
        chain.setOutputGainDb(0.0f);
    }
    bool ready() const { return chain.isEqualizerEnabled() && chain.isAgcEnabled(); }
    void process(const float* x, float* y, std::size_t n) {
        for (std::size_t start = 0; start + Nblock <= n; start += Nblock) {
            std::memcpy(in.data(), x + start, Nblock * sizeof(float));
            chain.run(in, out);
            std::memcpy(y + start, out.data(), Nblock * sizeof(float));
            for (unsigned int i = 0; i < Nblock; ++i) {
                benchmark::DoNotOptimize(chain.getNextInputSample());
            }
        }
    }
    static const char* label() { return "Run/Nblock160"; }

  private:
    static ZIZO_Config deviceConfig() {
        ZIZO_Config config;
        config.set<bool>("AGC.enabled", true);
        config.set<bool>("AGC.decrease_max_gain", true);
        config.set<bool>("EQUALIZER.enabled", true);
        config.set<std::string>("EQUALIZER.coeff_file", kCoefficientFile);
        return config;
    }
    PlaybackProcessing chain;
    Eigen::ArrayXf in, out;
};

// One measured buffer is one second of signal. The chain paths run under
// flush-to-zero as a host buffer of the plug-in does; the floor sets it
// itself.
template <class Path, Signal kind>
void BM_Path(benchmark::State& state) {
    Path path;
    if (!path.ready()) {
        state.SkipWithError("equalizer or AGC not enabled (coefficient file missing?)");
        return;
    }
    const std::size_t second = kFs;
    std::vector<float> output(second);
    Eigen::ArrayXf input;
    if (kind == Signal::Speech) {
        input = speechLike(std::size_t(kSpeechSeconds * kFs), kFs);
    } else {
        const Eigen::ArrayXf burst = speechLike(std::size_t(kBurstSeconds * kFs), kFs);
        std::vector<float> scratch(burst.size());
        path.process(burst.data(), scratch.data(), scratch.size());
        input = Eigen::ArrayXf::Zero(second);
        for (int s = 0; s < int(kSilenceBeforeSeconds); ++s) {
            FlushToZeroMode flushSubnormals;
            path.process(input.data(), output.data(), second);
        }
    }

    std::size_t offset = 0, samples = 0;
    for (auto _ : state) {
        FlushToZeroMode flushSubnormals;
        path.process(input.data() + offset, output.data(), second);
        benchmark::ClobberMemory();
        offset = (offset + second) % std::size_t(input.size());
        samples += second;
    }
    state.SetLabel(std::string(Path::label()) + " " + signalName(kind));
    state.SetItemsProcessed(int64_t(samples));
}

#define PATH_BENCHMARK(path, kind) \
    BENCHMARK_TEMPLATE(BM_Path, path, Signal::kind)->Unit(benchmark::kMillisecond)

using FastFloor1 = FloorPath<1, playback_floor::Arithmetic::Fast>;
using WrittenFloor1 = FloorPath<1, playback_floor::Arithmetic::Written>;
using FastFloor160 = FloorPath<160, playback_floor::Arithmetic::Fast>;
PATH_BENCHMARK(FastFloor1, Speech);
PATH_BENCHMARK(FastFloor1, SilenceAfterSpeech);
PATH_BENCHMARK(WrittenFloor1, Speech);
PATH_BENCHMARK(WrittenFloor1, SilenceAfterSpeech);
PATH_BENCHMARK(FastFloor160, Speech);
PATH_BENCHMARK(FastFloor160, SilenceAfterSpeech);
PATH_BENCHMARK(CInterfaceChain<Pulling::Yes>, Speech);
PATH_BENCHMARK(CInterfaceChain<Pulling::Yes>, SilenceAfterSpeech);
PATH_BENCHMARK(CInterfaceChain<Pulling::No>, Speech);
PATH_BENCHMARK(CInterfaceChain<Pulling::No>, SilenceAfterSpeech);
PATH_BENCHMARK(BufferChain, Speech);
PATH_BENCHMARK(BufferChain, SilenceAfterSpeech);
PATH_BENCHMARK(DirectChain, Speech);
PATH_BENCHMARK(DirectChain, SilenceAfterSpeech);

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The console report, then the table of ratios. Per-sample times come from
// the processor-time rate of items (samples): a repetition's own value, or
// the median aggregate when repetitions are shown only as aggregates.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const auto rate = run.counters.find("items_per_second");
            if (run.error_occurred || rate == run.counters.end() || rate->second.value <= 0) {
                continue;
            }
            const double ns = 1e9 / rate->second.value;
            if (run.run_type == Run::RT_Iteration) {
                repetitions[run.report_label].push_back(ns);
            } else if (run.aggregate_name == "median") {
                medians[run.report_label] = ns;
            }
        }
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf(
            "\nProcessor time per sample, median over repetitions; ratio to the floor "
            "of the same block length on speech; silence/speech per path:\n");
        std::printf("%-28s %10s %7s %11s %7s %15s\n", "path", "speech ns", "ratio", "silence ns",
                    "ratio", "silence/speech");
        for (const PathRow& row : kPathRows) {
            const double floorNs = nsPerSample(std::string(row.floor) + " speech");
            const double speechNs = nsPerSample(std::string(row.name) + " speech");
            const double silenceNs = nsPerSample(std::string(row.name) + " silence");
            std::printf("%-28s %10.2f %7.3f %11.2f %7.3f %15.3f\n", row.name, speechNs,
                        speechNs / floorNs, silenceNs, silenceNs / floorNs, silenceNs / speechNs);
        }
    }

  private:
    // NaN when the path did not run (filtered out, or failed).
    double nsPerSample(const std::string& label) const {
        const auto m = medians.find(label);
        if (m != medians.end()) {
            return m->second;
        }
        const auto r = repetitions.find(label);
        return r != repetitions.end() ? median(r->second) : std::nan("");
    }

    std::map<std::string, std::vector<double>> repetitions;
    std::map<std::string, double> medians;
};

bool hasFlag(int argc, char** argv, const char* flag) {
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], flag, std::strlen(flag)) == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<char*> args(argv, argv + argc);
    std::string repetitions = "--benchmark_repetitions=5";
    std::string interleaved = "--benchmark_enable_random_interleaving=true";
    if (!hasFlag(argc, argv, "--benchmark_repetitions")) {
        args.push_back(&repetitions[0]);
        if (!hasFlag(argc, argv, "--benchmark_enable_random_interleaving")) {
            args.push_back(&interleaved[0]);
        }
    }
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) {
        return 1;
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
