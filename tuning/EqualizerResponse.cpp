#include "EqualizerResponse.h"

#include <ZIZO_Config>

#include "TuningError.h"
#include "ZIZO_equalizer.h"

namespace {

// Appears in the sections' own records ("Biquad equalizer biquad 1 ...").
const char* const kEqualizerName = "equalizer";

template <typename Row>
BiquadResponse::Coefficients widen(const Row& row) {
    BiquadResponse::Coefficients c{};
    for (std::size_t k = 0; k < c.size() && k < row.size(); ++k) {
        c[k] = row[k];
    }
    return c;
}

// Compared bit for bit as doubles widened from float; a NaN coefficient
// counts as changed, and the library refuses such a section.
bool sameCoefficients(const BiquadResponse::Coefficients& a,
                      const BiquadResponse::Coefficients& b) {
    for (std::size_t k = 0; k < a.size(); ++k) {
        if (!(a[k] == b[k])) {
            return false;
        }
    }
    return true;
}

std::string loaderFailure(const std::string& path, const std::vector<CollectedRecord>& records) {
    for (const CollectedRecord& record : records) {
        if (record.level == "ERROR" || record.level == "FATAL") {
            if (record.message.find(path) != std::string::npos) {
                return record.message;
            }
            return path + ": " + record.message;
        }
    }
    return path + ": the equalizer did not load it";
}

// The section's own record, found by its name (followed by a blank, so that
// "biquad 1" does not match "biquad 10").
std::string reasonOf(const std::string& sectionName, const std::vector<CollectedRecord>& records) {
    for (const CollectedRecord& record : records) {
        if (record.logger == "ZIZO.Biquad" &&
            record.message.find(sectionName + " ") != std::string::npos) {
            return record.message;
        }
    }
    return "fell back to unity";
}

}  // namespace

EqualizerResponse::EqualizerResponse(const std::string& path, unsigned int fs,
                                     LogRecordCollector& log)
    : fs(fs) {
    ZIZO_Config config;
    config.set<std::string>("coeff_file", path);
    config.set<bool>("enabled", true);
    log.take();
    // One sample per block, as the plug-in runs it; the loader does not
    // depend on the block size.
    ZIZO_equalizer<float> equalizer(kEqualizerName, 1, fs, config);
    const std::vector<CollectedRecord> records = log.take();
    // Only a successful load switches the equalizer on.
    if (!equalizer.isEnabled()) {
        throw TuningError(loaderFailure(path, records));
    }
    gain = equalizer.getGain();
    const auto& rows = equalizer.getSectionRows();
    const auto& biquads = equalizer.getBiquads();
    for (std::size_t i = 0; i < biquads.size() && i < rows.size(); ++i) {
        Section section;
        section.file = widen(rows[i]);
        section.used = widen(biquads[i].getCoefficients());
        section.poleRadius = BiquadResponse::poleRadius(section.file);
        section.refused = !sameCoefficients(section.file, section.used);
        if (section.refused) {
            section.reason =
                reasonOf(std::string(kEqualizerName) + " biquad " + std::to_string(i), records);
        }
        sections.push_back(section);
    }
}

std::complex<double> EqualizerResponse::section(std::size_t i, double frequency_hz) const {
    return BiquadResponse::at(sections.at(i).used, frequency_hz, fs);
}

std::complex<double> EqualizerResponse::cascade(double frequency_hz) const {
    std::complex<double> h = gain;
    for (std::size_t i = 0; i < sections.size(); ++i) {
        h *= section(i, frequency_hz);
    }
    return h;
}
