#include "ZIZO_ConfigImport_Libconfig.h"

#include <exception>
#include <string>
#include <vector>

#include "ConfigFileCheck.h"

log4cxx::LoggerPtr ZIZO_ConfigImport_Libconfig::AC_ConfigImport_Libconfig_logger =
    log4cxx::Logger::getLogger("ZIZO.ConfigImport_LIBCONFIG");

namespace {

template <typename T>
std::vector<T> arrayElements(const libconfig::Setting& array) {
    std::vector<T> elements;
    const int length = array.getLength();
    elements.reserve(length);
    for (int i = 0; i < length; ++i) {
        elements.push_back(array[i]);
    }
    return elements;
}

// Strings are copied out of libconfig's storage, which dies with the file.
template <>
std::vector<std::string> arrayElements<std::string>(const libconfig::Setting& array) {
    std::vector<std::string> elements;
    const int length = array.getLength();
    elements.reserve(length);
    for (int i = 0; i < length; ++i) {
        elements.emplace_back(static_cast<const char*>(array[i]));
    }
    return elements;
}

}  // namespace

ZIZO_Config ZIZO_ConfigImport_Libconfig::getConfig() const {
    return config;
}

int ZIZO_ConfigImport_Libconfig::import(const std::string& filename) {
    libconfig::Config file;
    try {
        // libconfig would end the process on an include it cannot read.
        if (!lyraneConfigFileIsSafe(filename.c_str()))
            throw libconfig::FileIOException();
        file.readFile(filename.c_str());
    } catch (const libconfig::FileIOException&) {
        LOG4CXX_ERROR(AC_ConfigImport_Libconfig_logger,
                      "I/O error while reading file " << filename << ".");
        return -1;
    } catch (const libconfig::ParseException& e) {
        LOG4CXX_ERROR(AC_ConfigImport_Libconfig_logger,
                      "Config file " << filename << ": Parse error at line " << e.getLine() << " - "
                                     << e.getError());
        return -1;
    } catch (const std::exception& e) {
        LOG4CXX_ERROR(AC_ConfigImport_Libconfig_logger,
                      "Exception while importing config file " << filename << ": " << e.what());
        return -1;
    } catch (...) {
        LOG4CXX_ERROR(AC_ConfigImport_Libconfig_logger,
                      "Unknown exception while importing config file " << filename << ".");
        return -1;
    }
    traverse(file.getRoot());
    return 0;
}

void ZIZO_ConfigImport_Libconfig::traverse(const libconfig::Setting& setting) {
    switch (setting.getType()) {
        case libconfig::Setting::TypeInt:
        case libconfig::Setting::TypeInt64:
        case libconfig::Setting::TypeFloat:
        case libconfig::Setting::TypeString:
        case libconfig::Setting::TypeBoolean:
            addScalar(setting);
            break;
        case libconfig::Setting::TypeGroup:
        case libconfig::Setting::TypeList:
            // Index order is file order, so later duplicates win.
            for (int i = 0; i < setting.getLength(); ++i) {
                traverse(setting[i]);
            }
            break;
        case libconfig::Setting::TypeArray:
            addArray(setting);
            break;
        default:
            break;
    }
}

void ZIZO_ConfigImport_Libconfig::addScalar(const libconfig::Setting& setting) {
    switch (setting.getType()) {
        case libconfig::Setting::TypeInt:
            config.set<int>(setting.getPath(), setting);
            break;
        case libconfig::Setting::TypeInt64:
            config.set<long>(setting.getPath(), setting);
            break;
        case libconfig::Setting::TypeFloat:
            config.set<float>(setting.getPath(), setting);
            break;
        case libconfig::Setting::TypeString:
            config.set<std::string>(setting.getPath(),
                                    std::string(static_cast<const char*>(setting)));
            break;
        case libconfig::Setting::TypeBoolean:
            config.set<bool>(setting.getPath(), setting);
            break;
        default:
            break;
    }
}

void ZIZO_ConfigImport_Libconfig::addArray(const libconfig::Setting& setting) {
    if (setting.getType() != libconfig::Setting::TypeArray) {
        return;
    }
    const std::string key = setting.getPath();
    if (setting.getLength() == 0) {
        config.set(key, ZIZO_Config::EmptyVector());
        return;
    }
    switch (setting[0].getType()) {
        case libconfig::Setting::TypeInt:
            config.set(key, arrayElements<int>(setting));
            break;
        case libconfig::Setting::TypeInt64:
            config.set(key, arrayElements<long>(setting));
            break;
        case libconfig::Setting::TypeFloat:
            config.set(key, arrayElements<float>(setting));
            break;
        case libconfig::Setting::TypeString:
            config.set(key, arrayElements<std::string>(setting));
            break;
        case libconfig::Setting::TypeBoolean:
            config.set(key, arrayElements<bool>(setting));
            break;
        default:
            LOG4CXX_ERROR(AC_ConfigImport_Libconfig_logger, "Element " << key << ": unknown type");
            break;
    }
}
