#include "CoefficientFileRates.h"

#include <algorithm>
#include <libconfig.h++>
#include <limits>

#include "InputFile.h"
#include "TuningError.h"

namespace {

const std::string kGroupPrefix = "filter_fs_";

// The rate of a group name "filter_fs_<decimal digits>"; false for any
// other name or a rate beyond 32 bits.
bool groupRate(const std::string& name, unsigned int& rate) {
    if (name.compare(0, kGroupPrefix.size(), kGroupPrefix) != 0 ||
        name.size() == kGroupPrefix.size()) {
        return false;
    }
    unsigned long long value = 0;
    for (std::size_t k = kGroupPrefix.size(); k < name.size(); ++k) {
        if (name[k] < '0' || name[k] > '9') {
            return false;
        }
        value = value * 10 + static_cast<unsigned int>(name[k] - '0');
        if (value > std::numeric_limits<unsigned int>::max()) {
            return false;
        }
    }
    rate = static_cast<unsigned int>(value);
    return true;
}

}  // namespace

std::vector<unsigned int> CoefficientFileRates::read(const std::string& path) {
    InputFile::requireReadableConfig("coefficient file", path);
    libconfig::Config file;
    try {
        file.readFile(path.c_str());
    } catch (const libconfig::ParseException& e) {
        throw TuningError("coefficient file " + path + ": parse error at line " +
                          std::to_string(e.getLine()) + ": " + e.getError());
    } catch (const libconfig::FileIOException&) {
        throw TuningError("cannot read coefficient file " + path);
    }
    std::vector<unsigned int> rates;
    const libconfig::Setting& root = file.getRoot();
    if (root.exists("fs") && root["fs"].getType() == libconfig::Setting::TypeInt &&
        static_cast<int>(root["fs"]) > 0) {
        rates.push_back(static_cast<unsigned int>(static_cast<int>(root["fs"])));
    }
    for (int k = 0; k < root.getLength(); ++k) {
        unsigned int rate = 0;
        const char* name = root[k].getName();
        if (name != nullptr && root[k].isGroup() && groupRate(name, rate)) {
            rates.push_back(rate);
        }
    }
    std::sort(rates.begin(), rates.end());
    rates.erase(std::unique(rates.begin(), rates.end()), rates.end());
    if (rates.empty()) {
        throw TuningError("coefficient file " + path +
                          " holds no filter set: neither a top-level int 'fs' nor a group "
                          "'filter_fs_<rate>'");
    }
    return rates;
}
