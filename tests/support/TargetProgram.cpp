#include "TargetProgram.h"

#include "TargetEmulator.h"

extern char** environ;

namespace {

std::vector<std::string> currentEnvironment() {
    std::vector<std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        env.push_back(*entry);
    }
    return env;
}

std::vector<std::string> emulatorWords() {
    std::vector<std::string> words;
    for (const char* const* word = kTargetEmulator; *word != nullptr; ++word) {
        words.push_back(*word);
    }
    return words;
}

}  // namespace

bool targetIsEmulated() {
    return kTargetEmulator[0] != nullptr;
}

TargetCommand targetCommand(const std::string& program, const std::vector<std::string>& argv,
                            const std::vector<std::string>& programEnv) {
    TargetCommand command;
    command.env = currentEnvironment();
    if (!targetIsEmulated()) {
        command.path = program;
        command.argv = argv;
        command.env.insert(command.env.end(), programEnv.begin(), programEnv.end());
        return command;
    }
    command.argv = emulatorWords();
    command.path = command.argv.front();
    if (!argv.empty()) {
        command.argv.insert(command.argv.end(), {"-0", argv.front()});
    }
    for (const std::string& setting : programEnv) {
        command.argv.insert(command.argv.end(), {"-E", setting});
    }
    command.argv.push_back(program);
    if (!argv.empty()) {
        command.argv.insert(command.argv.end(), argv.begin() + 1, argv.end());
    }
    return command;
}

std::vector<char*> cStrings(const std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (const std::string& s : strings) {
        pointers.push_back(const_cast<char*>(s.c_str()));
    }
    pointers.push_back(nullptr);
    return pointers;
}
