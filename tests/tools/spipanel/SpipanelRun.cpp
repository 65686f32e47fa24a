#include "SpipanelRun.h"

#include <TargetProgram.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

struct ScratchDir {
    std::string path;
    ScratchDir() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/spipanel-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("cannot create a scratch directory");
        }
        path = pattern;
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

int spawnAndWait(const TargetCommand& command, const std::string& outPath,
                 const std::string& errPath, int closedStream) {
    std::vector<char*> argvPtrs = cStrings(command.argv), envPtrs = cStrings(command.env);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT, 0644);
    if (closedStream >= 0) {
        posix_spawn_file_actions_addclose(&actions, closedStream);
    }
    pid_t pid;
    int rc =
        posix_spawn(&pid, command.path.c_str(), &actions, nullptr, argvPtrs.data(), envPtrs.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        throw std::runtime_error("cannot start " + command.path);
    }
    int wstatus;
    if (waitpid(pid, &wstatus, 0) != pid) {
        throw std::runtime_error("lost the spipanel process");
    }
    return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
}

}  // namespace

SpipanelRun runSpipanel(const std::vector<std::string>& args, const std::string& config,
                        int closedStream) {
    ScratchDir dir;
    const std::string configPath = dir.path + "/devices.cfg", logPath = dir.path + "/devices.log",
                      outPath = dir.path + "/out", errPath = dir.path + "/err";
    std::ofstream(configPath) << "sleep log\n" << config;

    const std::vector<std::string> env{std::string("LD_PRELOAD=") + FAKE_DEVICES_PRELOAD,
                                       "FAKE_DEVICES_CONFIG=" + configPath,
                                       "FAKE_DEVICES_LOG=" + logPath};
    std::vector<std::string> argv{"spipanel"};
    argv.insert(argv.end(), args.begin(), args.end());

    SpipanelRun run;
    run.status =
        spawnAndWait(targetCommand(SPIPANEL_PROGRAM, argv, env), outPath, errPath, closedStream);
    run.out = readFile(outPath);
    run.err = readFile(errPath);
    run.log = linesOf(readFile(logPath));
    return run;
}

std::vector<SpiTransfer> transfersIn(const std::vector<std::string>& log) {
    std::vector<SpiTransfer> transfers;
    for (const auto& line : log) {
        SpiTransfer t;
        if (std::sscanf(line.c_str(),
                        "spidev %*s transfer len=%u speed_hz=%u delay_usecs=%u bits_per_word=%u "
                        "cs_change=%u tx=0x%x",
                        &t.len, &t.speed_hz, &t.delay_usecs, &t.bits_per_word, &t.cs_change,
                        &t.tx) == 6) {
            transfers.push_back(t);
        }
    }
    return transfers;
}

std::vector<std::string> eventsIn(const std::vector<std::string>& log) {
    std::vector<std::string> events;
    for (const auto& line : log) {
        std::istringstream words(line);
        std::string first, path, rest;
        words >> first;
        if (first == "sleep" || first == "close") {
            events.push_back(line);
        } else if (first == "open") {
            words >> path;
            events.push_back("open " + path);
        } else if (first == "spidev") {
            words >> path;
            std::getline(words >> std::ws, rest);
            const auto tx = rest.find(" tx=");
            events.push_back(tx == std::string::npos ? rest : "tx " + rest.substr(tx + 4));
        }
    }
    return events;
}
