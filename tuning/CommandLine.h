// Small pieces of command-line handling shared by the subcommands.
#ifndef LYRANE_TUNING_COMMANDLINE_H
#define LYRANE_TUNING_COMMANDLINE_H

#include <string>
#include <vector>

class CommandLine {
  public:
    // Walks the arguments of one subcommand: options with a value ("--rate
    // 16000") and the remaining positional arguments, in order.
    explicit CommandLine(const std::vector<std::string>& arguments);

    // True while an option is next; sets name and value (the argument after
    // it). Throws TuningError for an option without its value.
    bool nextOption(std::string& name, std::string& value);
    // The positional arguments (everything after the options). Throws
    // TuningError with usage unless there are exactly count of them.
    std::vector<std::string> positionals(std::size_t count, const char* usage) const;

    // The decimal number in text, within [lowest, highest]; otherwise
    // TuningError naming option.
    static unsigned int count(const std::string& option, const std::string& text,
                              unsigned int lowest, unsigned int highest);
    // The output prefix used when none is given: the input's file name
    // without directory and extension, in the current directory.
    static std::string defaultPrefix(const std::string& input);

  private:
    std::vector<std::string> arguments;
    std::size_t next = 0;
};

#endif  // LYRANE_TUNING_COMMANDLINE_H
