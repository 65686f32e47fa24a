// The first check of every file the tuning program reads: it must be a
// regular file that can be opened, so that the user reads the system's
// reason ("No such file or directory") rather than a parser's.
#ifndef LYRANE_TUNING_INPUTFILE_H
#define LYRANE_TUNING_INPUTFILE_H

#include <string>

class InputFile {
  public:
    // Throws TuningError "cannot read <kind> <path>: <reason>" otherwise.
    static void requireReadable(const std::string& kind, const std::string& path);
    // requireReadable for a libconfig file, and every file it pulls in with
    // @include too: libconfig ends the process on an include it cannot read.
    // Throws TuningError "cannot read <kind> <path>: ..." otherwise.
    static void requireReadableConfig(const std::string& kind, const std::string& path);
};

#endif  // LYRANE_TUNING_INPUTFILE_H
