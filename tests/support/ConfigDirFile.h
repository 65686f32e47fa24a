// The configuration directory the programs under test were built with
// (LYRANE_CONFIG_DIR): the plug-in reads its settings files there and
// LyraneBenchmark its configuration. Tests that change a file there hold the
// ctest resource lock "lyrane_config_dir", and are registered only when that
// directory is the build tree's own staged copy of config/.
#ifndef LYRANE_TEST_CONFIGDIRFILE_H
#define LYRANE_TEST_CONFIGDIRFILE_H

#include <string>

// Full path of name in the configuration directory.
std::string configDirFile(const std::string& name);

// One file of the configuration directory, rewritten or removed by the test
// while the object lives; its content (or its absence) from before is put
// back on destruction.
class ConfigFileOverride {
  public:
    explicit ConfigFileOverride(const std::string& name);
    ConfigFileOverride(const std::string& name, const std::string& text);
    ~ConfigFileOverride();
    ConfigFileOverride(const ConfigFileOverride&) = delete;
    ConfigFileOverride& operator=(const ConfigFileOverride&) = delete;

    const std::string& path() const { return file; }
    void write(const std::string& text) const;
    void remove() const;
    // Puts back the content from before, as the destructor does.
    void restore() const;

  private:
    std::string file;
    bool existed = false;
    std::string original;
};

#endif
