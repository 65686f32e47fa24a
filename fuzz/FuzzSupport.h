// What the fuzz targets share: quiet logging and a scratch file for inputs
// that the code under test reads by name.
#ifndef LYRANE_FUZZSUPPORT_H
#define LYRANE_FUZZSUPPORT_H

#include <log4cxx/logger.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace fuzz {

// Records cost time and would flood the fuzzer's own report.
inline void silenceLogging() {
    log4cxx::Logger::getRootLogger()->setLevel(log4cxx::Level::getOff());
}

// Writes size bytes of data to path, replacing the file; aborts if it cannot,
// since every later input would then test nothing.
inline void writeFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr || std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0) {
        std::perror(path.c_str());
        std::abort();
    }
}

// Where scratch files go: TMPDIR if set, else memory (/dev/shm), since every
// input is written and read back as a file and a disk costs most of the run.
inline std::string temporaryBase() {
    if (const char* base = std::getenv("TMPDIR"))
        return base;
    std::error_code ignored;
    if (std::filesystem::is_directory("/dev/shm", ignored))
        return "/dev/shm";
    return std::filesystem::temp_directory_path().string();
}

// A fresh directory under the temporary directory, removed at exit.
inline const std::string& scratchDirectory() {
    static const std::string path = [] {
        std::string pattern = temporaryBase() + "/lyrane-fuzz-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            std::perror("mkdtemp");
            std::abort();
        }
        return pattern;
    }();
    static const int removeAtExit = std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(scratchDirectory(), ignored);
    });
    (void)removeAtExit;
    return path;
}

}  // namespace fuzz

#endif
