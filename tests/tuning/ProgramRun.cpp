#include "ProgramRun.h"

#include <TargetProgram.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

std::string slurp(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A new empty file in dir.
std::string scratchFile(const std::string& dir) {
    std::string pattern = dir + "/programrun_XXXXXX";
    const int fd = mkstemp(&pattern[0]);
    if (fd >= 0)
        close(fd);
    return pattern;
}

}  // namespace

ProgramRun ProgramRun::run(const std::string& program, const std::vector<std::string>& arguments,
                           const std::string& scratchDir) {
    const std::string outPath = scratchFile(scratchDir);
    const std::string errPath = scratchFile(scratchDir);
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const TargetCommand command = targetCommand(program, argv);
    const std::vector<char*> argvPointers = cStrings(command.argv);
    const std::vector<char*> envPointers = cStrings(command.env);
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        const int in = open("/dev/null", O_RDONLY);
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        execve(command.path.c_str(), argvPointers.data(), envPointers.data());
        _exit(127);
    }
    ProgramRun result;
    int wstatus = 0;
    if (child > 0 && waitpid(child, &wstatus, 0) == child && WIFEXITED(wstatus)) {
        result.status = WEXITSTATUS(wstatus);
    }
    result.out = slurp(outPath);
    result.err = slurp(errPath);
    std::remove(outPath.c_str());
    std::remove(errPath.c_str());
    return result;
}
