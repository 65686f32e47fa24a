#include "ResponseCurves.h"

#include <cmath>
#include <cstddef>

#include "BiquadResponse.h"

namespace {

// Golden-section steps: each keeps 0.618 of the bracket, so 80 of them narrow
// a bracket of two grid steps far below double resolution.
const int kPeakSearchSteps = 80;
const double kGoldenRatioConjugate = 0.6180339887498949;

// a - 360 k for the k that brings a within 180 degrees of reference.
double unwrapNear(double reference, double a) {
    if (!std::isfinite(a) || !std::isfinite(reference)) {
        return a;
    }
    return a - 360.0 * std::round((a - reference) / 360.0);
}

}  // namespace

ResponseCurves::ResponseCurves(const EqualizerResponse& equalizer)
    : frequencies(logGrid(kLowest_hz, equalizer.getFs() / 2.0, kPointsPerOctave)) {
    curves.push_back(sample("cascade", [&](double f) { return equalizer.cascade(f); }));
    for (std::size_t i = 0; i < equalizer.getSections().size(); ++i) {
        curves.push_back(sample("section " + std::to_string(i),
                                [&, i](double f) { return equalizer.section(i, f); }));
    }
    peak = findPeak([&](double f) { return BiquadResponse::magnitudeDb(equalizer.cascade(f)); },
                    frequencies);
}

std::vector<double> ResponseCurves::logGrid(double lowest_hz, double highest_hz,
                                            unsigned int perOctave) {
    std::vector<double> grid;
    // Points by index, not by repeated multiplication, so no error builds up.
    for (unsigned int k = 0;; ++k) {
        const double f = lowest_hz * std::pow(2.0, static_cast<double>(k) / perOctave);
        if (!(f < highest_hz)) {
            break;
        }
        grid.push_back(f);
    }
    grid.push_back(highest_hz);
    return grid;
}

ResponseCurves::Peak ResponseCurves::findPeak(const std::function<double(double)>& magnitudeDb,
                                              const std::vector<double>& grid) {
    Peak best;
    std::size_t at = grid.size();
    for (std::size_t k = 0; k < grid.size(); ++k) {
        const double value = magnitudeDb(grid[k]);
        if (!std::isnan(value) && (at == grid.size() || value > best.gainDb)) {
            best = {value, grid[k]};
            at = k;
        }
    }
    if (at == grid.size()) {
        return {std::nan(""), std::nan("")};
    }
    // Search in log frequency, where the grid is even.
    double low = std::log(grid[at == 0 ? 0 : at - 1]);
    double high = std::log(grid[at + 1 == grid.size() ? at : at + 1]);
    for (int step = 0; step < kPeakSearchSteps && high > low; ++step) {
        const double width = (high - low) * kGoldenRatioConjugate;
        const double left = high - width;
        const double right = low + width;
        if (magnitudeDb(std::exp(left)) >= magnitudeDb(std::exp(right))) {
            high = right;
        } else {
            low = left;
        }
    }
    const double refined_hz = std::exp(0.5 * (low + high));
    const double refined = magnitudeDb(refined_hz);
    if (refined > best.gainDb) {
        best = {refined, refined_hz};
    }
    return best;
}

ResponseCurves::Curve ResponseCurves::sample(
    const std::string& name, const std::function<std::complex<double>(double)>& response) const {
    Curve curve;
    curve.name = name;
    for (std::size_t k = 0; k < frequencies.size(); ++k) {
        const std::complex<double> h = response(frequencies[k]);
        curve.magnitudeDb.push_back(BiquadResponse::magnitudeDb(h));
        const double phase = BiquadResponse::phaseDeg(h);
        curve.phaseDeg.push_back(k == 0 ? phase : unwrapNear(curve.phaseDeg[k - 1], phase));
    }
    return curve;
}
