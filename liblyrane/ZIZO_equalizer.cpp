#include "ZIZO_equalizer.h"

#include <memory>
#include <utility>

#include "EqualizerCoefficientFile.h"

template <typename T>
log4cxx::LoggerPtr ZIZO_equalizer<T>::AC_Equalizer_logger =
    log4cxx::Logger::getLogger("ZIZO.Equalizer");

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
    ZIZO_Config fields;
    std::string error;
    if (!lyrane::importCoefficientFile(path, fields, error)) {
        if (!error.empty()) {
            LOG4CXX_ERROR(AC_Equalizer_logger, error);
        }
        return -1;
    }
    const int version = lyrane::coefficientFileVersion<T>(fields);
    LOG4CXX_DEBUG(AC_Equalizer_logger, "Import: Detected file version " << version);
    if (!lyrane::selectFilterSet(fields, version, fs, path, error) ||
        !lyrane::checkFilterSetFields<T>(fields, fs, path, error)) {
        LOG4CXX_ERROR(AC_Equalizer_logger, error);
        return -1;
    }
    const lyrane::EqualizerFilterSet<T> set = lyrane::readFilterSet<T>(fields);
    if (!lyrane::checkFilterSetValues(set, path, error)) {
        LOG4CXX_ERROR(AC_Equalizer_logger, error);
        return -1;
    }

    // From here the stored rows and gain are replaced even if the load still
    // fails below; callers rebuild sections only after a success.
    sections.clear();
    gain = set.gain;
    if (!lyrane::buildSectionRows(set, sections)) {
        LOG4CXX_ERROR(AC_Equalizer_logger, "Size of coefficient vectors is inconsistent.");
        return -1;
    }
    LOG4CXX_INFO(AC_Equalizer_logger, "Successfully parsed " << path << ". Equalizer consists of "
                                                             << sections.size() << " biquads.");
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
