#include "ConfigDirFile.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

std::string configDirFile(const std::string& name) {
    return std::string(LYRANE_CONFIG_DIR) + "/" + name;
}

ConfigFileOverride::ConfigFileOverride(const std::string& name) : file(configDirFile(name)) {
    std::ifstream in(file, std::ios::binary);
    existed = static_cast<bool>(in);
    std::ostringstream text;
    text << in.rdbuf();
    original = text.str();
}

ConfigFileOverride::ConfigFileOverride(const std::string& name, const std::string& text)
    : ConfigFileOverride(name) {
    write(text);
}

ConfigFileOverride::~ConfigFileOverride() {
    restore();
}

void ConfigFileOverride::restore() const {
    if (existed) {
        write(original);
    } else {
        remove();
    }
}

void ConfigFileOverride::write(const std::string& text) const {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out) {
        throw std::runtime_error("cannot write " + file);
    }
}

void ConfigFileOverride::remove() const {
    std::remove(file.c_str());
}
