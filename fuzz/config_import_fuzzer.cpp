// The configuration importer on any file text, then the rendering and
// overwrite of what it stored. Beyond the sanitizers it checks that every
// scalar and array of a file that imported is in the store under its path,
// and that overwriting a value with its own rendering changes nothing.
#include <ZIZO_ConfigImport.h>

#include <ZIZO_Config>
#include <boost/lexical_cast.hpp>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <libconfig.h++>
#include <memory>
#include <string>
#include <vector>

#include "FuzzSupport.h"

namespace {

const std::string& inputPath() {
    static const std::string path = fuzz::scratchDirectory() + "/input.cfg";
    return path;
}

bool isLeaf(const libconfig::Setting& setting) {
    return setting.isScalar() || setting.isArray();
}

// Paths of every scalar and array, read with libconfig itself.
void collectLeafPaths(const libconfig::Setting& setting, std::vector<std::string>& paths) {
    if (isLeaf(setting)) {
        paths.push_back(setting.getPath());
        return;
    }
    if (setting.isAggregate()) {
        for (int i = 0; i < setting.getLength(); ++i)
            collectLeafPaths(setting[i], paths);
    }
}

void fail(const std::string& what, const std::string& key) {
    std::fprintf(stderr, "config_import_fuzzer: %s: key \"%s\"\n", what.c_str(), key.c_str());
    std::abort();
}

void checkStore(ZIZO_Config config) {
    libconfig::Config file;
    file.readFile(inputPath().c_str());
    std::vector<std::string> paths;
    collectLeafPaths(file.getRoot(), paths);
    for (const std::string& key : paths) {
        const std::string text = config.getAsString(key);
        bool present = false;
        try {
            present = config.overwrite(key, text);
        } catch (const boost::bad_lexical_cast&) {
            // Types without a text form render a fixed message, which their
            // own conversion may refuse.
            continue;
        }
        if (!present)
            fail("imported setting missing from the store", key);
        if (config.getAsString(key) != text)
            fail("value changed by overwriting it with its own rendering", key);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::silenceLogging();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::writeFile(inputPath(), data, size);
    const auto importer = ZIZO_ConfigImport::make_zizo_configimport(ZIZO_ConfigImport::LIBCONFIG);
    try {
        if (importer->import(inputPath()) != 0)
            return 0;
    } catch (const libconfig::SettingException&) {
        return 0;  // a conversion libconfig refuses passes to the caller by design
    }
    checkStore(importer->getConfig());
    return 0;
}
