// A scratch directory for files a test writes; removed with its content.
#ifndef LYRANE_TEST_TEMPDIR_H
#define LYRANE_TEST_TEMPDIR_H

#include <string>

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return dir; }
    // Full path of name inside the directory.
    std::string file(const std::string& name) const { return dir + "/" + name; }
    // Writes text to name and returns its full path.
    std::string write(const std::string& name, const std::string& text) const;

private:
    std::string dir;
};

#endif
