// Frequency response and pole radius of one second-order section
// H(z) = (b0 + b1 z^-1 + b2 z^-2) / (1 + a1 z^-1 + a2 z^-2), evaluated in
// double precision from the coefficients the section holds.
#ifndef LYRANE_TUNING_BIQUADRESPONSE_H
#define LYRANE_TUNING_BIQUADRESPONSE_H

#include <array>
#include <complex>

class BiquadResponse {
  public:
    // b0, b1, b2, a1, a2, in the order of the coefficient files.
    using Coefficients = std::array<double, 5>;

    // H(e^(j 2 pi f / fs)) for a frequency f in Hz at the sample rate fs in
    // Hz. A zero of the denominator (a pole on the unit circle at f) gives
    // an infinite or non-number value.
    static std::complex<double> at(const Coefficients& c, double frequency_hz, double fs_hz);

    // Largest magnitude of the two poles, the roots of z^2 + a1 z + a2: below
    // 1 for a stable section. NaN when a coefficient is not a number.
    static double poleRadius(const Coefficients& c);

    // 20 log10 |h| in dB (-inf for 0) and the phase of h in degrees, in
    // (-180, 180].
    static double magnitudeDb(std::complex<double> h);
    static double phaseDeg(std::complex<double> h);
};

#endif  // LYRANE_TUNING_BIQUADRESPONSE_H
