#include "ProgramRun.h"

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
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        const int in = open("/dev/null", O_RDONLY);
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const std::string& a : arguments)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
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
