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
};

#endif  // LYRANE_TUNING_INPUTFILE_H
