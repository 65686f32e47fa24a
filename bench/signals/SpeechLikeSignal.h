// The one speech-like signal that the measurements run on, and the tests
// with them, so that all of them look at the same kind of input;
// deterministic. Not installed: the target lyrane_speech_like_signal hands
// it to the measurement programs and the tests.
#ifndef LYRANE_BENCH_SPEECHLIKESIGNAL_H
#define LYRANE_BENCH_SPEECHLIKESIGNAL_H

#include <Eigen/Core>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

// Speech-like test signal, all samples in the normal float range: voiced
// syllables (harmonics of 140 Hz, 180 ms on in every 250 ms) in phrases of
// 1.5 s followed by 1 s of pause, over a noise floor near -66 dBFS that never
// lets the signal become digital silence.
inline Eigen::ArrayXf speechLike(std::size_t n, unsigned int fs, float peak = 0.25f) {
    Eigen::ArrayXf x(n);
    std::uint32_t noiseState = 12345u;
    const double pi = 3.14159265358979323846;
    for (std::size_t i = 0; i < n; ++i) {
        const double t = double(i) / fs;
        const double inPhrase = std::fmod(t, 2.5);
        const double inSyllable = std::fmod(t, 0.25);
        double envelope = 0.0;
        if (inPhrase < 1.5 && inSyllable < 0.18) {
            const double s = std::sin(pi * inSyllable / 0.18);
            envelope = s * s;
        }
        double voiced = 0.0;
        for (int k = 1; k <= 8; ++k)
            voiced += std::sin(2.0 * pi * 140.0 * k * t) / k;
        noiseState = noiseState * 1664525u + 1013904223u;
        const double noise = (double(noiseState >> 8) / double(1u << 24) - 0.5) * 1e-3;
        x[i] = float(peak * envelope * voiced / 2.0 + noise + (noise >= 0 ? 1e-4 : -1e-4));
    }
    return x;
}

// The same signal as plain samples, for callers that hand buffers to a host.
inline std::vector<float> speechLikeSamples(std::size_t n, unsigned int fs, float peak) {
    const Eigen::ArrayXf x = speechLike(n, fs, peak);
    return std::vector<float>(x.data(), x.data() + x.size());
}

#endif
