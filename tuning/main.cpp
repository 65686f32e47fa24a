// LyraneTuning: what an equalizer coefficient file and a settings profile do,
// computed by the playback chain's own code, written as CSV for
// lyrane_tuning_plot.py to draw.
#include <cstring>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "LogRecordCollector.h"
#include "ResponseCommand.h"
#include "TraceCommand.h"
#include "TuningError.h"

namespace {

void printUsage(std::ostream& out) {
    out << ResponseCommand::kUsage << "\n" << TraceCommand::kUsage << "\n";
}

int runCommand(const std::string& command, const std::vector<std::string>& arguments) {
    LogRecordCollector log;
    if (command == "response") {
        ResponseCommand(arguments).run(log, std::cout);
    } else if (command == "trace") {
        TraceCommand(arguments).run(log, std::cout);
    } else {
        throw TuningError("unknown subcommand '" + command + "'");
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0) {
        printUsage(argc < 2 ? std::cerr : std::cout);
        return argc < 2 ? 1 : 0;
    }
    try {
        return runCommand(argv[1], std::vector<std::string>(argv + 2, argv + argc));
    } catch (const std::exception& e) {  // TuningError, or allocation failure
        std::cerr << "LyraneTuning: " << e.what() << "\n";
    }
    return 1;
}
