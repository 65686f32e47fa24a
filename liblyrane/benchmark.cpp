// LyraneBenchmark: runs the core audio library over one recorded WAV file and
// reports the processor time the run took.
//
//   LyraneBenchmark --input=<wav-filename> [--output_dir=<dir>]
//       [--client_volume_level=<n>] [--no_farend=<n>] [--<parameter>=<value> ...]
//
// The device configuration is read from Lyrane.cfg, then Lyrane_custom.cfg,
// and the default input from benchmark.cfg, all in LYRANE_CONFIG_DIR. Any
// parameter of the device configuration can be overridden by its full dotted
// name. The input's channels are the microphones followed by the far-end
// reference (no far-end channel with --no_farend=1); its comment may carry
// event annotations "f <frame>", "v <value>", "a <value>". The processed
// signal is written as 16-bit PCM WAV next to the input (or into the output
// directory) with "_out" before the last four characters of the name.
//
// Exit status: 0 on success and after --help; 1 on every error, each with one
// message naming the option or file.
#include <ExternalModuleRegistry.h>
#include <Lyrane.h>
#include <PlaybackChainNames.h>
#include <PlaybackProcessing.h>
#include <ZIZO_ConfigImport.h>
#include <log4cxx/basicconfigurator.h>
#include <log4cxx/logger.h>
#include <sndfile.h>

#include <Eigen/Core>
#include <ZIZO_Config>
#include <boost/lexical_cast.hpp>
#include <boost/program_options.hpp>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <filesystem>
#include <iostream>
#include <libconfig.h++>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "AnnotationScanner.h"
#include "ConfigFileCheck.h"

namespace {

namespace po = boost::program_options;

using EventMap = std::map<std::pair<unsigned int, LyraneEventType>, int>;

const log4cxx::LoggerPtr logger = log4cxx::Logger::getLogger("LyraneBenchmark");

const std::string kConfigDir = LYRANE_CONFIG_DIR;
// The device's sound server plays the far-end signal through the acoustic
// chain; the core finds it in the registry by that name.
const char* const kPlaybackChainName = LYRANE_ACOUSTIC_CHAIN_NAME;

constexpr unsigned int kDefaultClientVolumeLevel = 12;
// Second argument of notifyMasterVolumeLevel.
constexpr unsigned int kVolumeNotification = 1;
// Frame duration of the report only; the core frames internally.
constexpr float kFrameSeconds = 0.016f;
// 1 / 0.016 rounded to single precision: 10 s of audio reports 624 frames.
constexpr float kFramesPerSecond = 62.499996f;
// clock() counts CLOCKS_PER_SEC = 1000000 ticks per second on POSIX.
constexpr float kSecondsPerTick = 0.000001f;
constexpr float kTicksPerSecond = 1000000.0f;
// The "_out" insertion point lies this many characters before the name's end.
constexpr std::size_t kExtensionLength = 4;
constexpr int kExitFailure = 1;

// Everything the command-line stage hands to the run.
struct Settings {
    ZIZO_Config config;
    std::string input;
    std::string outputDir;
    unsigned int clientVolumeLevel = kDefaultClientVolumeLevel;
    bool noFarend = false;
};

enum class Walk { run, help, fail };

// ---------------------------------------------------------------- settings

ZIZO_Config importDeviceConfig() {
    const auto importer = ZIZO_ConfigImport::make_zizo_configimport(ZIZO_ConfigImport::LIBCONFIG);
    // An unreadable file is reported by the importer; the run goes on with
    // whatever was loaded.
    importer->import(kConfigDir + "/Lyrane.cfg");
    importer->import(kConfigDir + "/Lyrane_custom.cfg");
    return importer->getConfig();
}

// Reads the default input path; a missing or non-string setting leaves it.
bool readSettingsFile(std::string& input) {
    const std::string path = kConfigDir + "/benchmark.cfg";
    libconfig::Config settings;
    try {
        // libconfig would end the process on an include it cannot read.
        if (!lyraneConfigFileIsSafe(path.c_str()))
            throw libconfig::FileIOException();
        settings.readFile(path.c_str());
    } catch (const libconfig::FileIOException&) {
        LOG4CXX_FATAL(logger, "I/O error while reading file " << path);
        return false;
    } catch (const libconfig::ParseException& e) {
        LOG4CXX_FATAL(logger, "Parse error in " << path << "at line " << e.getLine() << " - "
                                                << e.getError());
        return false;
    }
    settings.lookupValue("input_wavefile", input);
    return true;
}

// ------------------------------------------------------------ command line

void printUsage(const std::string& program) {
    const std::string lines[] = {
        "USAGE:",
        program + " --input=<wav-filename> [OPTIONS]",
        "",
        "OPTIONS:",
        "\t--help",
        "\t\t\tPrint this help message.",
        "",
        "\t--client_volume_level",
        "\t\t\tSet playback level assumed to be used by client.",
        "",
        "\t--output_dir",
        "\t\t\tOutput directory.",
        "",
        "\t--no_farend",
        "\t\t\tSet to 1 if input file has no dedicated farend channel.",
        "",
        "\t--<FILE-OPTION>",
        "\t\t\tAny option specified in the Lyrane configuration files can be overridden.",
        "",
        "EXAMPLE:",
        "\t" + program +
            " --input=test_1ch.wav --Nmics=1 --client_volume_level=10 --AEC.enabled=0 "
            "--ANC.Gmin_db=-18.0",
        ""};
    for (const std::string& line : lines) {
        std::cout << line << std::endl;
    }
}

// Decimal text as strtol reads it: leading white space and a sign allowed,
// conversion stops at the first non-digit. Needs at least one digit and a
// value in the signed 32-bit range.
bool parseDecimalInt(const std::string& text, int& value) {
    const char* const begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const long parsed = std::strtol(begin, &end, 10);
    if (end == begin || errno == ERANGE || parsed < INT_MIN || parsed > INT_MAX) {
        return false;
    }
    value = static_cast<int>(parsed);
    return true;
}

bool parseIntOption(const std::string& name, const std::string& text, int& value) {
    if (parseDecimalInt(text, value)) {
        return true;
    }
    std::cout << "ERROR: Option " << name << " needs a decimal integer in the signed 32-bit range, "
              << "got \"" << text << "\"." << std::endl;
    return false;
}

// Converts text to the type the parameter already has and echoes the result.
bool overrideParameter(ZIZO_Config& config, const std::string& name, const std::string& text) {
    bool present = false;
    try {
        present = config.overwrite(name, text);
    } catch (const boost::bad_lexical_cast&) {
        std::cout << "ERROR: Value \"" << text << "\" cannot be converted to the type of parameter "
                  << name << "." << std::endl;
        return false;
    }
    if (!present) {
        std::cout << "ERROR: Parameter " << name << " does not exist in Lyrane configuration files."
                  << std::endl;
        return false;
    }
    std::cout << "Parameter " << name << " set by user to " << config.getAsString(name)
              << std::endl;
    return true;
}

bool applyOption(Settings& settings, const std::string& name, const std::string& text) {
    int number = 0;
    if (name == "input") {
        settings.input = text;
    } else if (name == "output_dir") {
        settings.outputDir = !text.empty() && text.back() == '/' ? text : text + "/";
    } else if (name == "client_volume_level") {
        if (!parseIntOption(name, text, number)) {
            return false;
        }
        settings.clientVolumeLevel = number < 0 ? 0 : static_cast<unsigned int>(number);
    } else if (name == "no_farend") {
        if (!parseIntOption(name, text, number)) {
            return false;
        }
        std::cout << "Input assumed to contain no farend channel" << std::endl;
        // Once set, a later zero does not clear the flag.
        settings.noFarend = settings.noFarend || number != 0;
    } else {
        return overrideParameter(settings.config, name, text);
    }
    return true;
}

// Options are acted upon in command-line order, so an error or --help stops
// the walk where it stands.
Walk walkCommandLine(const std::vector<std::string>& arguments, const std::string& program,
                     Settings& settings) {
    const po::options_description none;
    std::vector<po::option> options;
    try {
        options =
            po::command_line_parser(arguments).options(none).allow_unregistered().run().options;
    } catch (const po::error& e) {
        std::cout << "ERROR: Invalid command line: " << e.what() << std::endl;
        return Walk::fail;
    }
    for (const po::option& option : options) {
        if (option.string_key == "help") {
            printUsage(program);
            return Walk::help;
        }
        if (option.value.size() != 1) {
            continue;
        }
        if (!applyOption(settings, option.string_key, option.value.front())) {
            return Walk::fail;
        }
    }
    return Walk::run;
}

// ------------------------------------------------------------ output path

bool isSameFile(const std::string& a, const std::string& b) {
    std::error_code error;
    const bool same = std::filesystem::equivalent(a, b, error);
    return !error && same;
}

// The input's base name with "_out" before its last four characters, in the
// output directory or else in the input's own directory.
bool deriveOutputPath(const std::string& input, const std::string& outputDir, std::string& output) {
    const std::size_t slash = input.rfind('/');
    const std::string directory = slash == std::string::npos ? "" : input.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? input : input.substr(slash + 1);
    if (base.size() < kExtensionLength) {
        LOG4CXX_FATAL(logger, "Input file name \"" << base << "\" of " << input
                                                   << " is shorter than four characters; "
                                                      "cannot derive the output file name.");
        return false;
    }
    const std::size_t insertAt = base.size() - kExtensionLength;
    output = (outputDir.empty() ? directory : outputDir) + base.substr(0, insertAt) + "_out" +
             base.substr(insertAt);
    // A link named like the output would otherwise replace the recording.
    if (isSameFile(input, output)) {
        LOG4CXX_FATAL(logger,
                      "Output file " << output << " is the input file; not overwriting it.");
        return false;
    }
    return true;
}

// -------------------------------------------------------------- WAV files

struct SndFileCloser {
    void operator()(SNDFILE* file) const { sf_close(file); }
};
using SndFilePtr = std::unique_ptr<SNDFILE, SndFileCloser>;

// Microphone rows, the far-end reference and the core's two outputs.
struct Signals {
    Eigen::ArrayXXf mics;
    Eigen::ArrayXf farend;
    Eigen::ArrayXf out;
    Eigen::ArrayXf out2;
};

std::string commentOf(SNDFILE* file) {
    const char* const comment = sf_get_string(file, SF_STR_COMMENT);
    return comment == nullptr ? std::string() : std::string(comment);
}

std::vector<float> readSamples(SNDFILE* file, const SF_INFO& info) {
    // Zeroed first: a short read leaves silence, never stale memory.
    std::vector<float> interleaved(static_cast<std::size_t>(info.channels) *
                                   static_cast<std::size_t>(info.frames));
    sf_read_float(file, interleaved.data(), static_cast<sf_count_t>(interleaved.size()));
    return interleaved;
}

// Interleaved samples are a column-major channels x frames array: rows
// 0..mics-1 are microphones, row mics (if used) the far-end reference.
Signals splitChannels(const std::vector<float>& interleaved, const SF_INFO& info, Eigen::Index mics,
                      bool noFarend) {
    const Eigen::Map<const Eigen::ArrayXXf> all(interleaved.data(), info.channels, info.frames);
    Signals signals;
    signals.mics = all.topRows(mics);
    signals.farend = Eigen::ArrayXf::Zero(info.frames);
    signals.out = Eigen::ArrayXf::Zero(info.frames);
    signals.out2 = Eigen::ArrayXf::Zero(info.frames);
    if (!noFarend) {
        signals.farend = all.row(mics).transpose();
    }
    return signals;
}

bool writeOutput(const std::string& path, int fs, const Eigen::ArrayXf& signal) {
    SF_INFO info{};
    info.samplerate = fs;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SndFilePtr file(sf_open(path.c_str(), SFM_WRITE, &info));
    if (!file) {
        LOG4CXX_FATAL(logger, "Failed to open the WAV file.");
        return false;
    }
    // Without clipping, samples beyond full scale wrap around in 16-bit PCM.
    sf_command(file.get(), SFC_SET_CLIPPING, nullptr, SF_TRUE);
    std::vector<float> buffer(signal.data(), signal.data() + signal.size());
    const sf_count_t count = static_cast<sf_count_t>(buffer.size());
    if (sf_write_float(file.get(), buffer.data(), count) != count) {
        LOG4CXX_FATAL(logger,
                      "Failed to write the WAV file " << path << ": " << sf_strerror(file.get()));
        // A truncated file must not be taken for a result by a later step.
        file.reset();
        std::remove(path.c_str());
        return false;
    }
    LOG4CXX_INFO(logger, "Written file: " << path);
    return true;
}

// ------------------------------------------------------------ annotations

// Tokens "<letter> <digits>" left to right: "f" sets the frame of the tokens
// after it, "v" and "a" are events of kind 0 and 1 there; other letters are
// shown and ignored. A later event of equal frame and kind replaces the value.
EventMap parseEvents(const std::string& comment) {
    EventMap events;
    unsigned int frame = 0;
    lyrane::scanAnnotations(comment, [&](std::string_view token) {
        const std::string text(token);
        std::cout << "match: " << text << std::endl;
        int number = 0;
        if (!parseDecimalInt(text.substr(2), number)) {
            LOG4CXX_WARN(logger, "Annotation " << text << " ignored: number out of range");
            return;
        }
        if (text[0] == 'f') {
            frame = static_cast<unsigned int>(number);
        } else if (text[0] == 'v') {
            events[{frame, static_cast<LyraneEventType>(0)}] = number;
        } else if (text[0] == 'a') {
            events[{frame, static_cast<LyraneEventType>(1)}] = number;
        }
    });
    return events;
}

// ------------------------------------------------------------------- run

void logRecording(const std::string& input, const SF_INFO& info, Eigen::Index mics,
                  float duration) {
    LOG4CXX_INFO(logger, "Input file: " << input);
    LOG4CXX_INFO(logger, "Fs = " << info.samplerate << "Hz");
    LOG4CXX_INFO(logger, "channels = " << mics);
    LOG4CXX_INFO(logger, "samples = " << info.frames << " per channel");
    LOG4CXX_INFO(logger, "duration = " << duration << "s");
    LOG4CXX_INFO(logger, "frame size = " << kFrameSeconds << " seconds");
    const float frames = duration * kFramesPerSecond;
    LOG4CXX_INFO(logger, "Using " << static_cast<long long>(frames) << " frames for simulation");
}

std::unique_ptr<Lyrane> createCore(const ZIZO_Config& config) {
    try {
        return std::make_unique<Lyrane>(config, 0, 0, 0);
    } catch (const std::exception& e) {
        LOG4CXX_FATAL(logger, "Could not create Lyrane: " << e.what());
        return nullptr;
    }
}

// A rate mismatch only warns; a channel mismatch ends the run.
bool checkCore(const Lyrane& core, int fs, Eigen::Index mics) {
    if (core.getFs() == static_cast<unsigned int>(fs)) {
        LOG4CXX_INFO(logger, "Lyrane initialized with fs " << core.getFs());
    } else {
        LOG4CXX_WARN(logger, "Input file has fs " << fs << ", but Lyrane initialized with fs "
                                                  << core.getFs());
    }
    if (static_cast<Eigen::Index>(core.getNmics()) != mics) {
        LOG4CXX_FATAL(logger, "Input file has " << mics << " channels, but Lyrane initialized with "
                                                << core.getNmics() << " channels");
        return false;
    }
    return true;
}

// The chain stays registered until the process ends; the core pulls the
// playback reference from it during Batch.
void registerPlaybackChain(int fs) {
    const auto chain = std::make_shared<PlaybackProcessing>(
        kPlaybackChainName, 1, static_cast<unsigned int>(fs), ZIZO_Config());
    ExternalModuleRegistry::getInstance()->registerPlaybackProcessing(kPlaybackChainName, chain);
}

// Processor time of the one Batch call only.
void timedBatch(Lyrane& core, Signals& signals, const EventMap& events, float duration) {
    const std::clock_t start = std::clock();
    core.Batch(signals.mics, signals.farend, signals.out, signals.out2, events);
    const std::clock_t ticks = std::clock() - start;
    LOG4CXX_INFO(logger,
                 "CPU time = " << static_cast<float>(ticks) * kSecondsPerTick << " seconds.");
    LOG4CXX_INFO(
        logger,
        "CPU load = " << static_cast<float>(ticks * 100) / (duration * kTicksPerSecond) << "%.");
    LOG4CXX_INFO(logger, "executed " << core.getFramecounter() << " Lyrane frames");
    LOG4CXX_INFO(logger, "executed " << core.getDoaFramecounter() << " DOA[0] frames");
}

// What the run takes from the input file.
struct Recording {
    SF_INFO info{};
    Eigen::Index mics = 0;  // microphone channels, without the far-end
    float duration = 0.0f;  // seconds
    EventMap events;
    Signals signals;
};

// Opens and reads the whole input and reports it; false after a FATAL record.
bool loadRecording(const Settings& settings, Recording& recording) {
    SF_INFO& info = recording.info;
    const SndFilePtr input(sf_open(settings.input.c_str(), SFM_READ, &info));
    if (!input) {
        LOG4CXX_FATAL(logger, "Failed to open the WAV file " << settings.input);
        return false;
    }
    recording.mics = settings.noFarend ? info.channels : info.channels - 1;
    if (recording.mics == 0) {
        LOG4CXX_FATAL(logger, "Input must contain at least one microphone channel.");
        return false;
    }
    recording.duration = static_cast<float>(info.frames) / static_cast<float>(info.samplerate);
    recording.events = parseEvents(commentOf(input.get()));
    recording.signals =
        splitChannels(readSamples(input.get(), info), info, recording.mics, settings.noFarend);
    logRecording(settings.input, info, recording.mics, recording.duration);
    return true;
}

bool simulate(Settings& settings) {
    std::string outputPath;
    Recording recording;
    if (!deriveOutputPath(settings.input, settings.outputDir, outputPath) ||
        !loadRecording(settings, recording)) {
        return false;
    }
    const int fs = recording.info.samplerate;
    settings.config.set<int>("fs", fs);
    settings.config.set<int>("Bandwidth", fs / 2);
    std::unique_ptr<Lyrane> core = createCore(settings.config);
    if (!core || !checkCore(*core, fs, recording.mics)) {
        return false;
    }
    core->notifyMasterVolumeLevel(settings.clientVolumeLevel, kVolumeNotification);
    registerPlaybackChain(fs);
    timedBatch(*core, recording.signals, recording.events, recording.duration);
    if (!writeOutput(outputPath, fs, recording.signals.out)) {
        return false;
    }
    core.reset();
    LOG4CXX_INFO(logger, "benchmark completed");
    return true;
}

int run(int argc, char** argv) {
    log4cxx::BasicConfigurator::configure();
    const std::string program = argc > 0 ? argv[0] : "LyraneBenchmark";
    const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    Settings settings;
    settings.config = importDeviceConfig();
    if (!readSettingsFile(settings.input)) {
        return kExitFailure;
    }
    const Walk walk = walkCommandLine(arguments, program, settings);
    if (walk != Walk::run) {
        return walk == Walk::help ? EXIT_SUCCESS : kExitFailure;
    }
    if (settings.input.empty()) {
        LOG4CXX_FATAL(logger, "Parameter input_wavefile not specified. Exit.");
        return kExitFailure;
    }
    return simulate(settings) ? EXIT_SUCCESS : kExitFailure;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        // Out of memory for a long recording, or a core that refuses the
        // signals: one message and the failure status rather than an abort.
        LOG4CXX_FATAL(logger, "Benchmark aborted: " << e.what());
        return kExitFailure;
    }
}
