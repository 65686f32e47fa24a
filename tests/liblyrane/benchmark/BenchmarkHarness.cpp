#include "BenchmarkHarness.h"

#include <TargetProgram.h>
#include <TempDir.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>

namespace {

const char* const kTestDeviceConfig =
    "fs = 16000;\n"
    "Nmics = 1;\n"
    "AEC = { enabled = true; };\n"
    "ANC = { Gmin_db = -12.0; };\n";

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// BasicConfigurator's layout: "<ms> [<thread>] LEVEL logger <NDC> - message",
// the NDC empty or "null". Parsed by hand: std::regex recurses per character
// and overflows the stack on a line of some ten thousand characters.
bool parseRecord(const std::string& line, ConsoleRecord& record) {
    std::istringstream in(line);
    std::string time, thread, level, logger, next;
    if (!(in >> time >> thread >> level >> logger >> next) ||
        time.find_first_not_of("0123456789") != std::string::npos || thread.front() != '[' ||
        thread.back() != ']') {
        return false;
    }
    static const std::set<std::string> levels = {"TRACE", "DEBUG", "INFO",
                                                 "WARN",  "ERROR", "FATAL"};
    if (levels.count(level) == 0 || (next == "null" && !(in >> next)) || next != "-") {
        return false;
    }
    // The message starts after the one blank that follows the dash.
    const auto rest = static_cast<std::size_t>(in.tellg());
    record = {level, logger, rest < line.size() ? line.substr(rest + 1) : std::string()};
    return true;
}

void parseConsole(BenchmarkRun& run) {
    for (const std::string& line : splitLines(run.stdoutText)) {
        ConsoleRecord record;
        if (parseRecord(line, record)) {
            run.records.push_back(record);
        } else {
            run.plainLines.push_back(line);
        }
    }
}

std::string readAll(int fd) {
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) != 0;) {
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw std::runtime_error("cannot read the program's output");
        }
        text.append(buffer, static_cast<size_t>(n));
    }
    return text;
}

// Only async-signal-safe calls after fork: the command is prepared before.
[[noreturn]] void execInChild(const TargetCommand& command, char* const* argv, char* const* envp,
                              const std::string& cwd, int stdoutFd, const std::string& stderrPath) {
    const int stderrFd = open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (stderrFd < 0 || dup2(stdoutFd, 1) < 0 || dup2(stderrFd, 2) < 0 ||
        (!cwd.empty() && chdir(cwd.c_str()) != 0)) {
        _exit(127);
    }
    execve(command.path.c_str(), argv, envp);
    _exit(127);
}

}  // namespace

std::vector<std::string> BenchmarkRun::log(const std::string& logger) const {
    std::vector<std::string> lines;
    for (const ConsoleRecord& record : records) {
        if (record.logger == logger)
            lines.push_back(record.level + " " + record.message);
    }
    return lines;
}

const std::string& benchmarkProgram() {
    static const std::string program = LYRANE_BENCHMARK_PROGRAM;
    return program;
}

BenchmarkRun runBenchmark(const std::vector<std::string>& arguments, const std::string& cwd) {
    const TempDir scratch;
    const std::string stderrPath = scratch.file("stderr");
    std::vector<std::string> argv{benchmarkProgram()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const TargetCommand command = targetCommand(benchmarkProgram(), argv);
    const std::vector<char*> argvPointers = cStrings(command.argv);
    const std::vector<char*> envPointers = cStrings(command.env);
    int fds[2];
    if (pipe(fds) != 0)
        throw std::runtime_error("pipe failed");
    std::cout.flush();
    const pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        close(fds[0]);
        execInChild(command, argvPointers.data(), envPointers.data(), cwd, fds[1], stderrPath);
    }
    close(fds[1]);
    BenchmarkRun run;
    run.stdoutText = readAll(fds[0]);
    close(fds[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.stderrText = readText(stderrPath);
    parseConsole(run);
    return run;
}

FileSizeLimit::FileSizeLimit(rlim_t bytes) {
    if (getrlimit(RLIMIT_FSIZE, &previousLimit) != 0)
        throw std::runtime_error("getrlimit failed");
    struct rlimit limit = previousLimit;
    limit.rlim_cur = bytes;
    previousHandler = signal(SIGXFSZ, SIG_IGN);
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
        throw std::runtime_error("setrlimit failed");
}

FileSizeLimit::~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &previousLimit);
    signal(SIGXFSZ, previousHandler);
}

ConfigDirectory::ConfigDirectory() {
    deviceConfig.write(kTestDeviceConfig);
    customConfig.write("");
    benchmarkConfig.write("");
}

const ConfigFileOverride& ConfigDirectory::file(const std::string& name) const {
    for (const ConfigFileOverride* file : {&deviceConfig, &customConfig, &benchmarkConfig}) {
        if (file->path() == path(name))
            return *file;
    }
    throw std::invalid_argument(name + " is not a file of LyraneBenchmark");
}

void ConfigDirectory::write(const std::string& name, const std::string& text) const {
    file(name).write(text);
}

void ConfigDirectory::remove(const std::string& name) const {
    file(name).remove();
}

void ConfigDirectory::restoreShipped() const {
    deviceConfig.restore();
    customConfig.restore();
    benchmarkConfig.restore();
}

void writeWav(const std::string& path, const Channels& channels, int fs, const std::string& comment,
              int format) {
    SF_INFO info{};
    info.samplerate = fs;
    info.channels = static_cast<int>(channels.size());
    info.format = format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr)
        throw std::runtime_error("cannot create " + path + ": " + sf_strerror(nullptr));
    if (!comment.empty())
        sf_set_string(file, SF_STR_COMMENT, comment.c_str());
    const size_t frames = channels.empty() ? 0 : channels[0].size();
    std::vector<short> interleaved;
    for (size_t n = 0; n < frames; ++n) {
        for (const auto& channel : channels)
            interleaved.push_back(channel.at(n));
    }
    sf_write_short(file, interleaved.data(), static_cast<sf_count_t>(interleaved.size()));
    sf_close(file);
}

void writeFloatWav(const std::string& path, const std::vector<std::vector<float>>& channels,
                   int fs) {
    SF_INFO info{};
    info.samplerate = fs;
    info.channels = static_cast<int>(channels.size());
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr)
        throw std::runtime_error("cannot create " + path);
    std::vector<float> interleaved;
    for (size_t n = 0; n < channels.at(0).size(); ++n) {
        for (const auto& channel : channels)
            interleaved.push_back(channel.at(n));
    }
    sf_write_float(file, interleaved.data(), static_cast<sf_count_t>(interleaved.size()));
    sf_close(file);
}

WavContent readWav(const std::string& path) {
    WavContent content;
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &content.info);
    if (file == nullptr) {
        ADD_FAILURE() << "cannot open " << path;
        return content;
    }
    content.samples.resize(static_cast<size_t>(content.info.frames * content.info.channels));
    sf_read_short(file, content.samples.data(), static_cast<sf_count_t>(content.samples.size()));
    sf_close(file);
    return content;
}

bool fileExists(const std::string& path) {
    std::error_code error;
    return std::filesystem::exists(std::filesystem::symlink_status(path, error));
}

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}
