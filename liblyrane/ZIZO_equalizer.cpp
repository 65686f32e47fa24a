#include "ZIZO_equalizer.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <memory>
#include <utility>

#include "ZIZO_ConfigImport.h"

template <typename T>
log4cxx::LoggerPtr ZIZO_equalizer<T>::AC_Equalizer_logger =
    log4cxx::Logger::getLogger("ZIZO.Equalizer");

namespace {

const char* const kGroupPrefix = "filter_fs_";
// Type label of float in the "Required vector" record: GCC's
// typeid(float).name(), written out so that the record's text does not
// depend on the compiler that builds the library.
const char* const kFloatTypeLabel = "f";

}  // namespace

template <typename T>
ZIZO_equalizer<T>::ZIZO_equalizer(const std::string& name, unsigned int Nblock, unsigned int fs,
                                  const ZIZO_Config& config)
    : name(name), Nblock(Nblock), fs(fs), live(new Cascade) {
    LOG4CXX_DEBUG(AC_Equalizer_logger, "Creating instance of ZIZO_equalizer (" << name << ").");

    ZIZO_Config parameters;
    parameters.set<bool>("enabled", false);
    parameters.set<std::string>("coeff_file", "");
    parameters.setGroup(config);
    const bool enableAfterLoad = parameters.get<bool>("enabled");
    filename = parameters.get<std::string>("coeff_file");

    if (filename.empty() || loadFilterCoefficients(filename) != 0) {
        live->gain = gain;  // a failed load may have replaced it
        setEnabled(false);
        return;
    }
    createBiquads();
    setEnabled(enableAfterLoad);
}

template <typename T>
ZIZO_equalizer<T>::~ZIZO_equalizer() {
    removeBiquads();
    delete live;
}

template <typename T>
void ZIZO_equalizer<T>::setEnabled(bool enable) {
    enabled.store(enable, std::memory_order_relaxed);
    // A reload hands run() fresh sections and its final state at its end;
    // its passing switch-off must not reach run().
    if (!reloading) {
        if (!enable) {
            resetRequested.store(true, std::memory_order_relaxed);
        }
        // Release: run() that sees this state also sees the reset request.
        runEnabled.store(enable, std::memory_order_release);
    }
    if (enable) {
        LOG4CXX_INFO(AC_Equalizer_logger, "Equalizer " << name << " enabled.");
        return;
    }
    LOG4CXX_INFO(AC_Equalizer_logger, "Equalizer " << name << " disabled.");
}

template <typename T>
void ZIZO_equalizer<T>::reload() {
    requestReload();
    live = handover.take(live);
}

template <typename T>
void ZIZO_equalizer<T>::requestReload() {
    LOG4CXX_INFO(AC_Equalizer_logger, "Reloading coefficients of ZIZO_equalizer (" << name << ").");
    const bool wasEnabled = isEnabled();
    reloading = true;
    if (wasEnabled) {
        setEnabled(false);
    }
    // Without sections unless the load succeeds; the gain is whatever the
    // load left, as a later switch-on applies it alone.
    std::unique_ptr<Cascade> next(new Cascade);
    const bool loaded = loadFilterCoefficients(filename) == 0;
    if (loaded) {
        buildSections(next->biquads);
    }
    next->gain = gain;
    if (loaded && wasEnabled) {
        setEnabled(true);
    }
    reloading = false;
    // Before the hand-over: run() that takes the new sections also sees
    // that a failed load left the equalizer off.
    runEnabled.store(isEnabled(), std::memory_order_release);
    handover.put(next.release());
}

template <typename T>
int ZIZO_equalizer<T>::loadFilterCoefficients(const std::string& path) {
    std::unique_ptr<ZIZO_ConfigImport> importer =
        ZIZO_ConfigImport::make_zizo_configimport(ZIZO_ConfigImport::LIBCONFIG);
    try {
        if (importer->import(path) != 0) {
            return -1;  // the importer has logged the cause
        }
    } catch (const std::exception& e) {
        LOG4CXX_ERROR(AC_Equalizer_logger,
                      "Exception while importing " << path << ": " << e.what());
        return -1;
    } catch (...) {
        LOG4CXX_ERROR(AC_Equalizer_logger, "Unknown exception while importing " << path << ".");
        return -1;
    }

    ZIZO_Config store = importer->getConfig();
    const int version = (store.exist<int>("fs") && store.exist<std::vector<T>>("b0")) ? 1 : 2;
    LOG4CXX_DEBUG(AC_Equalizer_logger, "Import: Detected file version " << version);
    if (version == 2) {
        store = store.getGroup(kGroupPrefix + std::to_string(fs) + ".");
        if (store.size() == 0) {
            LOG4CXX_ERROR(AC_Equalizer_logger, "Error while importing "
                                                   << path << ": No data found for sampling rate "
                                                   << fs);
            return -1;
        }
    }

    if (!store.exist<int>("fs")) {
        LOG4CXX_ERROR(AC_Equalizer_logger,
                      "Required field 'fs' of type int not found in file " << path << ".");
        return -1;
    }

    std::string missing;
    const bool hasValues = configHasCoefficientVectors<std::vector<T>>(store, missing);
    std::string missingEmpty;
    if (!hasValues && !configHasCoefficientVectors<ZIZO_Config::EmptyVector>(store, missingEmpty)) {
        LOG4CXX_ERROR(AC_Equalizer_logger, "Required vector '"
                                               << missing << "' of type " << kFloatTypeLabel
                                               << " not found in file " << path << ".");
        return -1;
    }

    const int fileFs = store.get<int>("fs");
    if (fileFs < 0 || static_cast<uint32_t>(fileFs) != fs) {
        LOG4CXX_ERROR(AC_Equalizer_logger, "Samplerate specified in file "
                                               << path << " (" << fileFs
                                               << ") does not match lyrane samplerate (" << fs
                                               << ").");
        return -1;
    }

    const T fileGain = store.exist<T>("gain") ? store.get<T>("gain") : T(1);
    std::vector<T> b0, b1, b2, a1, a2;
    if (hasValues) {
        b0 = store.get<std::vector<T>>("b0");
        b1 = store.get<std::vector<T>>("b1");
        b2 = store.get<std::vector<T>>("b2");
        a1 = store.get<std::vector<T>>("a1");
        a2 = store.get<std::vector<T>>("a2");
    }
    // Refused before anything is replaced: a non-finite gain or coefficient
    // would make every output sample non-finite.
    if (!std::isfinite(fileGain)) {
        LOG4CXX_ERROR(AC_Equalizer_logger,
                      "Gain " << fileGain << " of file " << path << " is not finite.");
        return -1;
    }
    const std::pair<const char*, const std::vector<T>*> columns[] = {
        {"b0", &b0}, {"b1", &b1}, {"b2", &b2}, {"a1", &a1}, {"a2", &a2}};
    for (const auto& [column, values] : columns) {
        const auto bad = std::find_if(values->begin(), values->end(),
                                      [](T value) { return !std::isfinite(value); });
        if (bad != values->end()) {
            LOG4CXX_ERROR(AC_Equalizer_logger,
                          "Coefficient " << column << "[" << bad - values->begin() << "] = " << *bad
                                         << " of file " << path << " is not finite.");
            return -1;
        }
    }

    // From here the stored rows and gain are replaced even if the load still
    // fails below; callers rebuild sections only after a success.
    sections.clear();
    gain = fileGain;
    const size_t count = b0.size();
    if (b1.size() != count || b2.size() != count || a1.size() != count || a2.size() != count) {
        LOG4CXX_ERROR(AC_Equalizer_logger, "Size of coefficient vectors is inconsistent.");
        return -1;
    }

    sections.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        sections.push_back({b0[i], b1[i], b2[i], a1[i], a2[i]});
    }
    LOG4CXX_INFO(AC_Equalizer_logger, "Successfully parsed " << path << ". Equalizer consists of "
                                                             << count << " biquads.");
    return 0;
}

template <typename T>
void ZIZO_equalizer<T>::createBiquads() {
    if (!live->biquads.empty()) {
        LOG4CXX_DEBUG(AC_Equalizer_logger,
                      "Implementation error? createBiquads() called, but existing biquad array "
                      "not empty.");
        removeBiquads();
    }
    buildSections(live->biquads);
    live->gain = gain;
}

template <typename T>
void ZIZO_equalizer<T>::buildSections(std::vector<ZIZO_biquad<T>>& into) const {
    into.reserve(sections.size());
    for (size_t i = 0; i < sections.size(); ++i) {
        into.emplace_back(name + " biquad " + std::to_string(i), sections[i]);
    }
}

template <typename T>
void ZIZO_equalizer<T>::removeBiquads() {
    live->biquads.clear();
    live->gain = gain;
}

template class ZIZO_equalizer<float>;
