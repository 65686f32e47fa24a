// Magnitude and phase of an equalizer over frequency, on a logarithmic grid
// from 20 Hz to half the sample rate, for the whole cascade and for each
// section, and the cascade's peak gain.
//
// Contract:
// - The grid holds kPointsPerOctave points per octave from 20 Hz, and ends
//   exactly at fs / 2.
// - Phases are unwrapped along the grid (each step within +-180 degrees),
//   starting from the principal value at 20 Hz.
// - The peak is the grid's largest cascade magnitude refined between its
//   neighbours by golden-section search, so it is found to well below a hertz
//   between grid points. It never lies outside [20 Hz, fs / 2].
#ifndef LYRANE_TUNING_RESPONSECURVES_H
#define LYRANE_TUNING_RESPONSECURVES_H

#include <complex>
#include <functional>
#include <string>
#include <vector>

#include "EqualizerResponse.h"

class ResponseCurves {
  public:
    static constexpr double kLowest_hz = 20.0;
    static constexpr unsigned int kPointsPerOctave = 48;

    struct Curve {
        std::string name;  // "cascade", "section 0", ...
        std::vector<double> magnitudeDb;
        std::vector<double> phaseDeg;
    };
    struct Peak {
        double gainDb = 0.0;
        double frequencyHz = 0.0;
    };

    // Needs fs / 2 above 20 Hz.
    explicit ResponseCurves(const EqualizerResponse& equalizer);

    const std::vector<double>& getFrequencies() const { return frequencies; }
    // The cascade first, then the sections in cascade order.
    const std::vector<Curve>& getCurves() const { return curves; }
    const Peak& getPeak() const { return peak; }

    // Grid from lowest to highest (both included), perOctave points per
    // octave.
    static std::vector<double> logGrid(double lowest_hz, double highest_hz, unsigned int perOctave);
    // Largest value of magnitudeDb over the grid, refined between the
    // neighbours of the grid's best point. NaN values are passed over.
    static Peak findPeak(const std::function<double(double)>& magnitudeDb,
                         const std::vector<double>& grid);

  private:
    Curve sample(const std::string& name,
                 const std::function<std::complex<double>(double)>& response) const;

    std::vector<double> frequencies;
    std::vector<Curve> curves;
    Peak peak;
};

#endif  // LYRANE_TUNING_RESPONSECURVES_H
