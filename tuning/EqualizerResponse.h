// One sample rate of a coefficient file as the device's equalizer takes it:
// loaded by the library's own equalizer (its loader, its sections), then
// evaluated in the frequency domain.
//
// Contract:
// - The constructor loads path for fs; a file the loader refuses throws
//   TuningError with the loader's own reason, prefixed with the path when
//   that reason does not name the file.
// - A section the library refused (unstable, so it falls back to unity) is
//   kept, marked, with the section's own record as the reason; its response
//   is unity's, as on the device, and its pole radius is the file's.
// - Responses include nothing but the sections; cascade() adds the
//   broadband gain.
#ifndef LYRANE_TUNING_EQUALIZERRESPONSE_H
#define LYRANE_TUNING_EQUALIZERRESPONSE_H

#include <complex>
#include <cstddef>
#include <string>
#include <vector>

#include "BiquadResponse.h"
#include "LogRecordCollector.h"

class EqualizerResponse {
  public:
    struct Section {
        BiquadResponse::Coefficients file;  // as the file holds them
        BiquadResponse::Coefficients used;  // as the section filters with them
        double poleRadius = 0.0;            // of the file's coefficients
        bool refused = false;
        std::string reason;  // the library's record, when refused
    };

    EqualizerResponse(const std::string& path, unsigned int fs, LogRecordCollector& log);

    unsigned int getFs() const { return fs; }
    // Broadband gain as a factor.
    double getGain() const { return gain; }
    const std::vector<Section>& getSections() const { return sections; }

    // Response of section i (0-based; i below getSections().size()).
    std::complex<double> section(std::size_t i, double frequency_hz) const;
    // Response of the whole equalizer: every section times the gain.
    std::complex<double> cascade(double frequency_hz) const;

  private:
    unsigned int fs;
    double gain = 1.0;
    std::vector<Section> sections;
};

#endif  // LYRANE_TUNING_EQUALIZERRESPONSE_H
