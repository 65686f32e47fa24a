// Runs a program to its end and keeps what it printed, for end-to-end tests
// of command-line programs.
#ifndef LYRANE_TEST_TUNING_PROGRAMRUN_H
#define LYRANE_TEST_TUNING_PROGRAMRUN_H

#include <string>
#include <vector>

struct ProgramRun {
    int status = -1;  // exit status; -1 if it did not exit normally
    std::string out;
    std::string err;

    // program with arguments, standard input empty, in the current
    // directory; its output passes through files in scratchDir.
    static ProgramRun run(const std::string& program, const std::vector<std::string>& arguments,
                          const std::string& scratchDir);
};

#endif
