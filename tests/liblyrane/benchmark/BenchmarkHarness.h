// Runs the real LyraneBenchmark program and prepares what it reads: the
// configuration directory fixed at build time and WAV recordings.
#ifndef LYRANE_TEST_BENCHMARKHARNESS_H
#define LYRANE_TEST_BENCHMARKHARNESS_H

#include <sndfile.h>
#include <sys/resource.h>

#include <string>
#include <vector>

#include "ConfigDirFile.h"

// One record of the program's console log ("<ms> [<thread>] LEVEL logger ...
// - message").
struct ConsoleRecord {
    std::string level;
    std::string logger;
    std::string message;
};

struct BenchmarkRun {
    int status = -1;  // exit status; -1 when the program did not exit normally
    std::string stdoutText;
    std::string stderrText;
    std::vector<std::string> plainLines;  // stdout lines that are not log records
    std::vector<ConsoleRecord> records;   // log records, in order

    // "LEVEL message" of every record of logger, in order.
    std::vector<std::string> log(const std::string& logger = "LyraneBenchmark") const;
    // Everything on the console, for failure messages.
    std::string transcript() const { return stdoutText + stderrText; }
};

// The program's path; it is also the name the usage text shows.
const std::string& benchmarkProgram();

// Runs the program with arguments (without the program name), in directory
// cwd if one is given, and waits for it.
BenchmarkRun runBenchmark(const std::vector<std::string>& arguments, const std::string& cwd = "");

// While it lives, programs started by runBenchmark cannot grow a file past
// bytes: the write that would fails (EFBIG) instead of killing the program
// (SIGXFSZ is ignored meanwhile). Restores both on destruction.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

  private:
    struct rlimit previousLimit {};
    void (*previousHandler)(int) = nullptr;
};

// The program's three files in the configuration directory it was built
// with. The constructor writes test content into them; the destructor puts
// back what they held before, the build's staged copies of the shipped files.
// Tests that use it hold the ctest resource lock "lyrane_config_dir".
class ConfigDirectory {
  public:
    // Lyrane.cfg with fs, Nmics = 1, AEC.enabled (bool), ANC.Gmin_db (float);
    // an empty Lyrane_custom.cfg; benchmark.cfg without input_wavefile.
    ConfigDirectory();

    static std::string path(const std::string& name) { return configDirFile(name); }
    // name is one of the three files.
    void write(const std::string& name, const std::string& text) const;
    void remove(const std::string& name) const;
    // The shipped files, as they were before the test.
    void restoreShipped() const;

  private:
    const ConfigFileOverride& file(const std::string& name) const;

    ConfigFileOverride deviceConfig{"Lyrane.cfg"};
    ConfigFileOverride customConfig{"Lyrane_custom.cfg"};
    ConfigFileOverride benchmarkConfig{"benchmark.cfg"};
};

// Channels of 16-bit sample values; all channels have the same length.
using Channels = std::vector<std::vector<short>>;

// Writes a WAV file (16-bit PCM unless format says otherwise) with an
// optional comment. Float formats receive value / 32768.
void writeWav(const std::string& path, const Channels& channels, int fs,
              const std::string& comment = "", int format = SF_FORMAT_WAV | SF_FORMAT_PCM_16);
// Same for float samples, written as a 32-bit float WAV.
void writeFloatWav(const std::string& path, const std::vector<std::vector<float>>& channels,
                   int fs);

struct WavContent {
    SF_INFO info{};
    std::vector<short> samples;  // interleaved
};
// Reads a whole file; fails the calling test if it cannot be opened.
WavContent readWav(const std::string& path);

bool fileExists(const std::string& path);
std::string readText(const std::string& path);

#endif
