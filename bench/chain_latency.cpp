// Latency of the plug-in's path while settings change: does the audio
// thread ever wait for a setter?
//
// Three threads on one chain of the C interface (Nblock 1, 48 kHz, set up as
// the plug-in sets it up):
// - audio: PlaybackProcessing_ProcessBuffer over a speech-like signal, one
//   call per host buffer of 2048 samples, as the plug-in calls it; each call
//   is timed;
// - consumer: pulls the buffered input with getNextInputSample, 2048 samples
//   per buffer the audio thread has processed;
// - setter (in half of the phases): PlaybackProcessing_setEqualizerFilename
//   with a coefficient file of 4 MiB, followed by the AGC setters, back to
//   back.
//
// Four phases of --seconds each:
// - paced, without and with the setter: buffer k is due at k periods of
//   2048 / 48000 s after the start and has its deadline one period later; the
//   audio thread sleeps until a buffer is due. A buffer finished after its
//   deadline counts as late.
// - unpaced, without and with the setter: buffers back to back, as fast as the
//   machine allows; the samples processed compare the throughput.
// Each phase reports the samples processed, the worst single buffer call and
// the late buffers. The clock is read around every call in every phase, so
// the throughput figures include those reads alike.
//
// The 4 MiB file is the given coefficient file padded with comment lines,
// written to a temporary directory that is removed at the end.
//
// Priorities: the setter runs at the lowest scheduling priority (nice 19
// above the process), as a control thread next to a sound server's audio
// thread would, so that on a machine of few cores the setter's own processor
// time does not pass for waiting. If the audio thread waits for the setter,
// that only gets worse.
//
// Usage: chain_latency [--seconds N] [--coefficients FILE]
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ExternalModuleRegistry.h"
#include "PlaybackProcessing.h"
#include "SpeechLikeSignal.h"
#include "playbackprocessing_cwrapper.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr unsigned int kFs = 48000;
constexpr std::size_t kBufferSamples = 2048;
constexpr std::size_t kPaddedFileBytes = 4u << 20;
const char* const kChainName = "LATENCY_CHAIN";

const Clock::duration kBufferPeriod = std::chrono::duration_cast<Clock::duration>(
    std::chrono::duration<double>(double(kBufferSamples) / kFs));

struct Options {
    unsigned int seconds = 10;
    std::string coefficients =
        std::string(LYRANE_SOURCE_CONFIG_DIR) + "/equalizer_coefficients.cfg";
};

struct PhaseResult {
    std::size_t samples = 0;
    std::size_t buffers = 0;
    std::size_t lateBuffers = 0;
    Clock::duration worstCall{0};
    std::size_t setterRounds = 0;
};

void usage(FILE* to) {
    std::fprintf(to, "usage: chain_latency [--seconds N] [--coefficients FILE]\n");
}

// Returns false (after a message) on anything it does not understand.
bool parseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help") {
            usage(stdout);
            std::exit(0);
        }
        if (i + 1 >= argc || (arg != "--seconds" && arg != "--coefficients")) {
            std::fprintf(stderr, "chain_latency: unknown or incomplete option: %s\n", arg.c_str());
            return false;
        }
        const std::string value = argv[++i];
        if (arg == "--coefficients") {
            options.coefficients = value;
            continue;
        }
        char* end = nullptr;
        const unsigned long seconds = std::strtoul(value.c_str(), &end, 10);
        if (value.empty() || *end != '\0' || value[0] == '-' || seconds == 0 || seconds > 3600) {
            std::fprintf(stderr,
                         "chain_latency: --seconds needs a whole number from 1 to 3600: %s\n",
                         value.c_str());
            return false;
        }
        options.seconds = static_cast<unsigned int>(seconds);
    }
    return true;
}

// The given file padded with comment lines to kPaddedFileBytes: a reload
// reads and parses all of it. Empty on failure (after a message).
std::string paddedCoefficientText(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    if (!file) {
        std::fprintf(stderr, "chain_latency: cannot read %s\n", path.c_str());
        return "";
    }
    std::string padded = text.str() + "\n";
    const std::string line(99, '#');
    while (padded.size() < kPaddedFileBytes) {
        padded += line + "\n";
    }
    return padded;
}

PlaybackProcessingData* devicePlaybackChain(const std::string& coefficients) {
    PlaybackProcessingData* handle = PlaybackProcessing_Init(kChainName, 1, kFs);
    if (handle == nullptr) {
        return nullptr;
    }
    PlaybackProcessing_setEqualizerFilename(handle, coefficients.c_str());
    PlaybackProcessing_setAGCDecreaseMaxGain(handle, 1);
    PlaybackProcessing_setOutputGainDb(handle, 0.0f);
    PlaybackProcessing_setAGCEnabled(handle, 1);
    PlaybackProcessing_setEqualizerEnabled(handle, 1);
    return handle;
}

// The settings the plug-in applies, with the device's values, so that the
// output stays what it was.
void applySettings(PlaybackProcessingData* handle, const std::string& coefficients) {
    PlaybackProcessing_setEqualizerFilename(handle, coefficients.c_str());
    PlaybackProcessing_setAGCTargetLevelDb(handle, -6.0f);
    PlaybackProcessing_setAGCMaxGainDb(handle, 35.0f);
    PlaybackProcessing_setAGCMaxAmp(handle, 0.95f);
    PlaybackProcessing_setAGCDecreaseMaxGain(handle, 1);
    PlaybackProcessing_setAGCNonspeechHoldGainTime(handle, 1.0f);
    PlaybackProcessing_setAGCNonspeechReleaseSpeed(handle, 3.0f);
}

struct Phase {
    const char* name;
    bool paced;
    bool setter;
};

PhaseResult runPhase(const Phase& phase, const Options& options, const std::string& shippedFile,
                     const std::string& paddedFile, const std::vector<float>& signal) {
    PhaseResult result;
    PlaybackProcessingData* handle = devicePlaybackChain(shippedFile);
    if (handle == nullptr) {
        std::fprintf(stderr, "chain_latency: PlaybackProcessing_Init failed\n");
        std::exit(1);
    }
    std::shared_ptr<PlaybackProcessing> chain =
        ExternalModuleRegistry::getInstance()->getPlaybackProcessing(kChainName);
    std::atomic<bool> stop{false};
    const Clock::time_point start = Clock::now();
    const Clock::time_point end = start + std::chrono::seconds(options.seconds);

    std::atomic<std::size_t> buffersDone{0};
    std::thread consumer([&] {
        std::size_t pulled = 0;
        while (!stop.load(std::memory_order_relaxed)) {
            if (pulled == buffersDone.load(std::memory_order_relaxed)) {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
                continue;
            }
            for (std::size_t i = 0; i < kBufferSamples; ++i) {
                volatile float sample = chain->getNextInputSample();
                (void)sample;
            }
            ++pulled;
        }
    });
    std::thread setter;
    if (phase.setter) {
        setter = std::thread([&] {
            if (setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 19) != 0) {
                std::perror("chain_latency: setpriority");
            }
            while (!stop.load(std::memory_order_relaxed)) {
                applySettings(handle, paddedFile);
                ++result.setterRounds;
            }
        });
    }

    std::vector<float> out(kBufferSamples);
    std::size_t offset = 0;
    Clock::time_point deadline = start + kBufferPeriod;
    while (Clock::now() < end) {
        const Clock::time_point before = Clock::now();
        PlaybackProcessing_ProcessBuffer(handle, &signal[offset], out.data(), kBufferSamples);
        result.worstCall = std::max(result.worstCall, Clock::now() - before);
        offset = (offset + kBufferSamples) % (signal.size() - kBufferSamples);
        result.samples += kBufferSamples;
        ++result.buffers;
        buffersDone.store(result.buffers, std::memory_order_relaxed);
        if (phase.paced) {
            result.lateBuffers += Clock::now() > deadline;
            std::this_thread::sleep_until(deadline);  // the next buffer is due
            deadline += kBufferPeriod;
        }
    }

    stop.store(true);
    consumer.join();
    if (setter.joinable()) {
        setter.join();
    }
    chain.reset();
    PlaybackProcessing_Uninit(handle);
    return result;
}

double microseconds(Clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parseOptions(argc, argv, options)) {
        usage(stderr);
        return 2;
    }
    const std::string padded = paddedCoefficientText(options.coefficients);
    if (padded.empty()) {
        return 1;
    }
    namespace fs = std::filesystem;
    std::string scratchTemplate = (fs::temp_directory_path() / "chain_latency.XXXXXX").string();
    if (mkdtemp(&scratchTemplate[0]) == nullptr) {
        std::perror("chain_latency: mkdtemp");
        return 1;
    }
    const fs::path scratch = scratchTemplate;
    const std::string paddedFile = (scratch / "coefficients_4MiB.cfg").string();
    std::ofstream(paddedFile) << padded;

    // Ten seconds of signal, looped.
    const Eigen::ArrayXf x = speechLike(10 * kFs, kFs);
    const std::vector<float> signal(x.data(), x.data() + x.size());

    const Phase phases[] = {
        {"paced, no setter", true, false},
        {"paced, setter", true, true},
        {"unpaced, no setter", false, false},
        {"unpaced, setter", false, true},
    };
    PhaseResult results[4];
    for (int p = 0; p < 4; ++p) {
        std::fprintf(stderr, "chain_latency: %s, %u s ...\n", phases[p].name, options.seconds);
        results[p] = runPhase(phases[p], options, options.coefficients, paddedFile, signal);
    }
    fs::remove_all(scratch);

    std::printf(
        "ProcessBuffer at Nblock 1, %u Hz, buffers of %zu samples (deadline %.2f ms), %u s per "
        "phase; setter: %zu-byte coefficient file, then the AGC setters\n",
        kFs, kBufferSamples, microseconds(kBufferPeriod) / 1000.0, options.seconds, padded.size());
    std::printf("%-20s %12s %14s %14s %14s\n", "phase", "samples", "worst call us", "late buffers",
                "setter rounds");
    for (int p = 0; p < 4; ++p) {
        const PhaseResult& r = results[p];
        char late[32] = "-";
        if (phases[p].paced) {
            std::snprintf(late, sizeof late, "%zu of %zu", r.lateBuffers, r.buffers);
        }
        std::printf("%-20s %12zu %14.1f %14s %14zu\n", phases[p].name, r.samples,
                    microseconds(r.worstCall), late, r.setterRounds);
    }
    std::printf("Throughput with setter / without: paced %.3f, unpaced %.3f\n",
                double(results[1].samples) / double(results[0].samples),
                double(results[3].samples) / double(results[2].samples));
    return 0;
}
