#include "InputFile.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "ConfigFileCheck.h"
#include "TuningError.h"

void InputFile::requireReadable(const std::string& kind, const std::string& path) {
    struct stat status;
    if (stat(path.c_str(), &status) != 0) {
        throw TuningError("cannot read " + kind + " " + path + ": " + std::strerror(errno));
    }
    if (!S_ISREG(status.st_mode)) {
        throw TuningError("cannot read " + kind + " " + path + ": not a regular file");
    }
    std::FILE* file = std::fopen(path.c_str(), "r");
    if (file == nullptr) {
        throw TuningError("cannot read " + kind + " " + path + ": " + std::strerror(errno));
    }
    std::fclose(file);
}

void InputFile::requireReadableConfig(const std::string& kind, const std::string& path) {
    requireReadable(kind, path);
    if (!lyraneConfigFileIsSafe(path.c_str())) {
        throw TuningError("cannot read " + kind + " " + path +
                          ": it includes a file that is not a regular readable file");
    }
}
