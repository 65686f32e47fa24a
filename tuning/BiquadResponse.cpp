#include "BiquadResponse.h"

#include <algorithm>
#include <cmath>

namespace {
const double kPi = 3.14159265358979323846;
}

std::complex<double> BiquadResponse::at(const Coefficients& c, double frequency_hz, double fs_hz) {
    const double omega = 2.0 * kPi * frequency_hz / fs_hz;
    const std::complex<double> z1 = std::polar(1.0, -omega);  // z^-1
    const std::complex<double> z2 = z1 * z1;
    const std::complex<double> numerator = c[0] + c[1] * z1 + c[2] * z2;
    const std::complex<double> denominator = 1.0 + c[3] * z1 + c[4] * z2;
    return numerator / denominator;
}

double BiquadResponse::poleRadius(const Coefficients& c) {
    const double a1 = c[3];
    const double a2 = c[4];
    const double half = -0.5 * a1;
    const double discriminant = half * half - a2;
    if (std::isnan(discriminant)) {
        return std::nan("");
    }
    if (discriminant < 0.0) {
        // A complex pair: the product of the roots, a2, is the squared radius.
        return std::sqrt(a2);
    }
    const double root = std::sqrt(discriminant);
    return std::max(std::fabs(half + root), std::fabs(half - root));
}

double BiquadResponse::magnitudeDb(std::complex<double> h) {
    return 20.0 * std::log10(std::abs(h));
}

double BiquadResponse::phaseDeg(std::complex<double> h) {
    const double degrees = std::arg(h) * 180.0 / kPi;
    return degrees == -180.0 ? 180.0 : degrees;
}
