#include "FakeCamera.h"

#include <TargetProgram.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

FakeCamera::FakeCamera(const std::string& settings, const std::string& devicePath) {
    tmp.write("config", "device " + devicePath + " ap0100at\n" + settings);
    tmp.write("log", "");
}

std::string FakeCamera::applyProgram() {
    return AP0100AT_APPLY_PROGRAM;
}
std::string FakeCamera::runProgram() {
    return AP0100AT_RUN_PROGRAM;
}

ToolRun FakeCamera::apply(const std::string& script) {
    return program(applyProgram(), {kDevice, tmp.write("script", script)}, "");
}

ToolRun FakeCamera::run(const std::string& script) {
    return program(runProgram(), {kDevice, tmp.write("script", script)}, "");
}

static std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

static void redirect(const std::string& path, int flags, int fd) {
    int opened = open(path.c_str(), flags, 0644);
    if (opened < 0 || dup2(opened, fd) < 0)
        _exit(126);
    close(opened);
}

ToolRun FakeCamera::program(const std::string& program, const std::vector<std::string>& args,
                            const std::string& input, int closedStream) {
    const std::string in = tmp.write("stdin", input);
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    const TargetCommand command = targetCommand(
        program, argv,
        {std::string("LD_PRELOAD=") + AP0100AT_FAKE_PRELOAD,
         "FAKE_DEVICES_CONFIG=" + tmp.file("config"), "FAKE_DEVICES_LOG=" + tmp.file("log")});
    const std::vector<char*> argvPointers = cStrings(command.argv);
    const std::vector<char*> envPointers = cStrings(command.env);
    const std::string out = tmp.file("out"), err = tmp.file("err");
    pid_t child = fork();
    if (child < 0)
        throw std::runtime_error("fork failed");
    if (child == 0) {
        redirect(in, O_RDONLY, 0);
        redirect(out, O_WRONLY | O_CREAT | O_TRUNC, 1);
        redirect(err, O_WRONLY | O_CREAT | O_TRUNC, 2);
        if (closedStream >= 0)
            close(closedStream);
        execve(command.path.c_str(), argvPointers.data(), envPointers.data());
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return {code, slurp(tmp.file("out")), slurp(tmp.file("err"))};
}

std::string FakeCamera::log() const {
    return slurp(tmp.file("log"));
}

std::vector<std::string> FakeCamera::calls() const {
    std::vector<std::string> calls;
    std::istringstream lines(log());
    std::string line, record;
    while (std::getline(lines, line)) {
        if (line.rfind("ap0100at 0x", 0) == 0) {
            record = line.substr(line.find(' ', 9));
        } else if (line.rfind("ioctl ", 0) == 0) {
            std::istringstream words(line);
            std::string ioctl, path, request;
            words >> ioctl >> path >> request;
            std::string result = line.substr(line.find(" -> "));
            calls.push_back(request + record + result);
            record.clear();
        }
    }
    return calls;
}
