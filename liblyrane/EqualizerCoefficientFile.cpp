#include "EqualizerCoefficientFile.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <exception>
#include <memory>
#include <sstream>
#include <utility>

#include "ZIZO_ConfigImport.h"
#include "ZIZO_equalizer.h"

namespace lyrane {

namespace {

const char* const kGroupPrefix = "filter_fs_";
// Type label of float in the "Required vector" record: GCC's
// typeid(float).name(), written out so that the record's text does not
// depend on the compiler that builds the library.
const char* const kFloatTypeLabel = "f";

// The record's text as a log4cxx message stream would write it.
template <typename... Parts>
std::string text(const Parts&... parts) {
    std::ostringstream out;
    (out << ... << parts);
    return out.str();
}

}  // namespace

bool importCoefficientFile(const std::string& path, ZIZO_Config& store, std::string& error) {
    std::unique_ptr<ZIZO_ConfigImport> importer =
        ZIZO_ConfigImport::make_zizo_configimport(ZIZO_ConfigImport::LIBCONFIG);
    try {
        if (importer->import(path) != 0) {
            error.clear();  // the importer has logged the cause
            return false;
        }
    } catch (const std::exception& e) {
        error = text("Exception while importing ", path, ": ", e.what());
        return false;
    } catch (...) {
        error = text("Unknown exception while importing ", path, ".");
        return false;
    }
    store = importer->getConfig();
    return true;
}

template <typename T>
int coefficientFileVersion(const ZIZO_Config& store) {
    return (store.exist<int>("fs") && store.exist<std::vector<T>>("b0")) ? 1 : 2;
}

bool selectFilterSet(ZIZO_Config& store, int version, unsigned int fs, const std::string& path,
                     std::string& error) {
    if (version != 2) {
        return true;
    }
    store = store.getGroup(kGroupPrefix + std::to_string(fs) + ".");
    if (store.size() == 0) {
        error = text("Error while importing ", path, ": No data found for sampling rate ", fs);
        return false;
    }
    return true;
}

template <typename T>
EqualizerFilterSet<T> readFilterSet(const ZIZO_Config& fields) {
    EqualizerFilterSet<T> set;
    set.gain = fields.exist<T>("gain") ? fields.get<T>("gain") : T(1);
    std::string missing;
    if (ZIZO_equalizer<T>::template configHasCoefficientVectors<std::vector<T>>(fields, missing)) {
        set.b0 = fields.get<std::vector<T>>("b0");
        set.b1 = fields.get<std::vector<T>>("b1");
        set.b2 = fields.get<std::vector<T>>("b2");
        set.a1 = fields.get<std::vector<T>>("a1");
        set.a2 = fields.get<std::vector<T>>("a2");
    }
    return set;
}

template <typename T>
bool checkFilterSetFields(const ZIZO_Config& fields, unsigned int fs, const std::string& path,
                          std::string& error) {
    if (!fields.exist<int>("fs")) {
        error = text("Required field 'fs' of type int not found in file ", path, ".");
        return false;
    }
    std::string missing;
    std::string missingEmpty;
    if (!ZIZO_equalizer<T>::template configHasCoefficientVectors<std::vector<T>>(fields, missing) &&
        !ZIZO_equalizer<T>::template configHasCoefficientVectors<ZIZO_Config::EmptyVector>(
            fields, missingEmpty)) {
        error = text("Required vector '", missing, "' of type ", kFloatTypeLabel,
                     " not found in file ", path, ".");
        return false;
    }
    const int fileFs = fields.get<int>("fs");
    if (fileFs < 0 || static_cast<std::uint32_t>(fileFs) != fs) {
        error = text("Samplerate specified in file ", path, " (", fileFs,
                     ") does not match lyrane samplerate (", fs, ").");
        return false;
    }
    return true;
}

template <typename T>
bool checkFilterSetValues(const EqualizerFilterSet<T>& set, const std::string& path,
                          std::string& error) {
    // A non-finite gain or coefficient would make every output sample
    // non-finite.
    if (!std::isfinite(set.gain)) {
        error = text("Gain ", set.gain, " of file ", path, " is not finite.");
        return false;
    }
    const std::pair<const char*, const std::vector<T>*> columns[] = {
        {"b0", &set.b0}, {"b1", &set.b1}, {"b2", &set.b2}, {"a1", &set.a1}, {"a2", &set.a2}};
    for (const auto& [column, values] : columns) {
        const auto bad = std::find_if(values->begin(), values->end(),
                                      [](T value) { return !std::isfinite(value); });
        if (bad != values->end()) {
            error = text("Coefficient ", column, "[", bad - values->begin(), "] = ", *bad,
                         " of file ", path, " is not finite.");
            return false;
        }
    }
    return true;
}

template <typename T>
bool buildSectionRows(const EqualizerFilterSet<T>& set, std::vector<std::vector<T>>& rows) {
    const size_t count = set.b0.size();
    if (set.b1.size() != count || set.b2.size() != count || set.a1.size() != count ||
        set.a2.size() != count) {
        return false;
    }
    rows.reserve(rows.size() + count);
    for (size_t i = 0; i < count; ++i) {
        rows.push_back({set.b0[i], set.b1[i], set.b2[i], set.a1[i], set.a2[i]});
    }
    return true;
}

template int coefficientFileVersion<float>(const ZIZO_Config&);
template EqualizerFilterSet<float> readFilterSet<float>(const ZIZO_Config&);
template bool checkFilterSetFields<float>(const ZIZO_Config&, unsigned int, const std::string&,
                                          std::string&);
template bool checkFilterSetValues<float>(const EqualizerFilterSet<float>&, const std::string&,
                                          std::string&);
template bool buildSectionRows<float>(const EqualizerFilterSet<float>&,
                                      std::vector<std::vector<float>>&);

}  // namespace lyrane
