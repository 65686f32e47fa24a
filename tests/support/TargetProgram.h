// Starting a program this tree built, on the processor it was built for. In
// a cross build the program runs under the target emulator (the build's
// CMAKE_CROSSCOMPILING_EMULATOR), named explicitly so that no binfmt_misc
// registration is needed. Settings meant for the program alone (LD_PRELOAD
// of a preload library of the target's ABI above all) then go to the
// emulator's -E option: in the emulator's own environment the host loader
// would try to preload them into the emulator.
#ifndef LYRANE_TEST_TARGETPROGRAM_H
#define LYRANE_TEST_TARGETPROGRAM_H

#include <string>
#include <vector>

struct TargetCommand {
    std::string path;               // executable to hand to execve/posix_spawn
    std::vector<std::string> argv;  // its argument vector, argv[0] included
    std::vector<std::string> env;   // its whole environment, NAME=value each
};

// The command that runs program with the argument vector argv (argv[0]
// included: the name the program sees) and programEnv (NAME=value settings
// added for the program only) on top of the current environment. No value in
// programEnv may hold a comma when a cross build's emulator runs the program:
// its -E option splits at commas.
TargetCommand targetCommand(const std::string& program, const std::vector<std::string>& argv,
                            const std::vector<std::string>& programEnv = {});

// True when programs of this build run under an emulator.
bool targetIsEmulated();

// Pointer vectors, null-terminated, over strings that must outlive them.
std::vector<char*> cStrings(const std::vector<std::string>& strings);

#endif
