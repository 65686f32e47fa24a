#include "CommandLine.h"

#include <limits>

#include "TuningError.h"

CommandLine::CommandLine(const std::vector<std::string>& arguments) : arguments(arguments) {}

bool CommandLine::nextOption(std::string& name, std::string& value) {
    if (next >= arguments.size() || arguments[next].compare(0, 2, "--") != 0) {
        return false;
    }
    name = arguments[next];
    if (next + 1 >= arguments.size()) {
        throw TuningError("option " + name + " needs a value");
    }
    value = arguments[next + 1];
    next += 2;
    return true;
}

std::vector<std::string> CommandLine::positionals(std::size_t count, const char* usage) const {
    const std::size_t remaining = arguments.size() - next;
    if (remaining != count) {
        throw TuningError(std::string("expected ") + std::to_string(count) +
                          " file argument(s), got " + std::to_string(remaining) + "\n" + usage);
    }
    return std::vector<std::string>(arguments.begin() + static_cast<std::ptrdiff_t>(next),
                                    arguments.end());
}

unsigned int CommandLine::count(const std::string& option, const std::string& text,
                                unsigned int lowest, unsigned int highest) {
    unsigned long long value = 0;
    bool valid = !text.empty() && text.size() <= 10;
    for (char c : text) {
        valid = valid && c >= '0' && c <= '9';
        if (valid) {
            value = value * 10 + static_cast<unsigned int>(c - '0');
        }
    }
    if (!valid || value < lowest || value > highest) {
        throw TuningError(option + " takes a whole number from " + std::to_string(lowest) + " to " +
                          std::to_string(highest) + ", not '" + text + "'");
    }
    return static_cast<unsigned int>(value);
}

std::string CommandLine::defaultPrefix(const std::string& input) {
    const std::size_t slash = input.find_last_of('/');
    std::string name = slash == std::string::npos ? input : input.substr(slash + 1);
    const std::size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) {
        name.erase(dot);
    }
    return name.empty() ? "tuning" : name;
}
