#include "FakeFramebuffer.h"

#include <TargetProgram.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

Screen rgb565(unsigned xres, unsigned yres, unsigned xres_virtual, unsigned yres_virtual) {
    return {xres, yres, xres_virtual, yres_virtual, 16, {11, 5, 0}, {5, 6, 0}, {0, 5, 0}};
}

Screen pseudocolour(unsigned xres, unsigned yres, unsigned xres_virtual, unsigned yres_virtual,
                    unsigned red, unsigned green, unsigned blue) {
    return {xres, yres, xres_virtual, yres_virtual, 8, {0, red, 0}, {0, green, 0}, {0, blue, 0}};
}

static std::string deviceLines(const std::string& path, const std::string& kind, const Screen& s,
                               const std::string& backing) {
    std::ostringstream text;
    auto field = [&](const char* name, const Field& f) {
        text << name << ' ' << f.offset << ' ' << f.length << ' ' << f.msb_right << '\n';
    };
    text << "device " << path << ' ' << kind << '\n';
    if (!backing.empty())
        text << "backing " << backing << '\n';
    text << "xres " << s.xres << "\nyres " << s.yres << "\nxres_virtual " << s.xres_virtual
         << "\nyres_virtual " << s.yres_virtual << "\nbits_per_pixel " << s.bits_per_pixel << '\n';
    field("red", s.red);
    field("green", s.green);
    field("blue", s.blue);
    return text.str();
}

FakeFramebuffer::FakeFramebuffer(const Screen& s, const std::string& extra, const std::string& path)
    : memory(size_t(s.xres_virtual) * s.yres_virtual * s.bits_per_pixel / 8),
      backing(scratch.file("frame")) {
    config = deviceLines(path, "fb", s, backing) + extra;
}

void FakeFramebuffer::addDevice(const std::string& path, const std::string& kind, const Screen& s) {
    config += deviceLines(path, kind, s, "");
}

void FakeFramebuffer::fill(uint8_t fill) {
    std::fill(memory.begin(), memory.end(), fill);
}

std::string FakeFramebuffer::readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

static std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        result.push_back(line);
    return result;
}

Outcome FakeFramebuffer::run(const std::vector<std::string>& args, const std::string& stdin_path,
                             int closed_stream) {
    const std::string out = scratch.file("out"), err = scratch.file("err"),
                      log = scratch.file("log");
    scratch.write("frame", std::string(memory.begin(), memory.end()));
    const std::string config_path = scratch.write("config", config);
    unlink(log.c_str());

    const std::vector<std::string> env{"LD_PRELOAD=" LYRANE_FAKE_PRELOAD,
                                       "FAKE_DEVICES_CONFIG=" + config_path,
                                       "FAKE_DEVICES_LOG=" + log};
    std::vector<std::string> argv_text{FBPROBE};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    const TargetCommand command = targetCommand(FBPROBE, argv_text, env);
    std::vector<char*> argv = cStrings(command.argv), envp = cStrings(command.env);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, stdin_path.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (closed_stream >= 0)
        posix_spawn_file_actions_addclose(&actions, closed_stream);
    pid_t pid;
    int rc = posix_spawn(&pid, command.path.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        throw std::runtime_error("cannot start " FBPROBE);
    int wstatus;
    waitpid(pid, &wstatus, 0);

    Outcome result;
    result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    result.out = readFile(out);
    result.err = readFile(err);
    result.log = lines(readFile(log));
    const std::string frame = readFile(backing);
    memory.assign(frame.begin(), frame.end());
    return result;
}

std::vector<std::string> FakeFramebuffer::cmapLog(const Outcome& run) const {
    std::vector<std::string> result;
    for (const auto& line : run.log)
        if (line.rfind("cmap", 0) == 0)
            result.push_back(line);
    return result;
}
