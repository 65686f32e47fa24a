#include "BiquadLanePipeline.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

using lyrane::BiquadCoefficients;
using lyrane::BiquadLanePipeline;
using lyrane::BiquadState;

// The device's six sections at 48 kHz, then a resonant peak and a near notch,
// so that every lane of both vectors holds a section of its own.
const std::vector<BiquadCoefficients<float>> kCoefficients = {
    {9.8208933810e-01f, -1.9641786762e+00f, 9.8208933810e-01f, -1.9639893509e+00f,
     9.6436800152e-01f},
    {9.9244688166e-01f, -1.9848937633e+00f, 9.9244688166e-01f, -1.9847024413e+00f,
     9.8508508535e-01f},
    {9.9119087920e-01f, -1.9370164999e+00f, 9.4848387754e-01f, -1.9370164999e+00f,
     9.3967475674e-01f},
    {1.0657526641e+00f, -1.6400372405e+00f, 7.0941085321e-01f, -1.6400372405e+00f,
     7.7516351729e-01f},
    {1.1917272767e+00f, -1.3001696167e+00f, 4.0605675182e-01f, -1.0021559957e+00f,
     2.9977040761e-01f},
    {1.2531780854e-01f, 2.5063561708e-01f, 1.2531780854e-01f, -7.7997062521e-01f,
     2.8124185936e-01f},
    {1.3f, -1.5f, 0.7f, -1.8f, 0.97f},
    {0.5f, 0.0f, 0.5f, 0.0f, -0.49f},
};

// Speech-like noise with the values that test the arithmetic's edges: signed
// zeros, subnormals, values whose products overflow in the cascade, and the
// non-finite ones that restart a section.
std::vector<float> testSignal(std::size_t length) {
    std::mt19937 random(20261208);
    std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
    std::vector<float> signal(length);
    for (float& x : signal)
        x = uniform(random);
    const float specials[] = {0.0f,
                              -0.0f,
                              1e-40f,
                              -1e-41f,
                              3e38f,
                              -3e38f,
                              std::numeric_limits<float>::infinity(),
                              -std::numeric_limits<float>::infinity(),
                              std::numeric_limits<float>::quiet_NaN(),
                              1e30f};
    for (std::size_t k = 0; k < sizeof specials / sizeof specials[0]; ++k)
        signal.at(37 + 53 * k) = specials[k];
    return signal;
}

uint32_t bitsOf(float x) {
    uint32_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return bits;
}

// Runs of these lengths in turn, the shortest ones shorter than the delay.
const std::size_t kRunLengths[] = {1, 2, 3, 5, 7, 8, 13, 64, 1, 1, 200, 4, 6, 9, 300};

// The lanes, a new pipeline per run as a chain builds one per buffer, against
// the sections in turn: every output and every state after a run must have
// the same bits.
template <std::size_t kSections>
void expectLanesEqualSectionsInTurn(std::size_t count, bool inPlace) {
    SCOPED_TRACE(std::to_string(count) + " sections" + (inPlace ? ", in place" : ""));
    const float gain = 0.75f;
    std::vector<BiquadState<float>> inTurn(count, {0.0f, 0.0f});
    std::vector<BiquadState<float>> lanes(count, {0.0f, 0.0f});
    std::size_t length = 0;
    for (std::size_t n : kRunLengths)
        length += n;
    const std::vector<float> signal = testSignal(length);
    std::size_t start = 0;
    for (std::size_t n : kRunLengths) {
        std::vector<float> expected(n);
        for (std::size_t j = 0; j < n; ++j) {
            float x = signal[start + j];
            for (std::size_t k = 0; k < count; ++k)
                x = lyrane::biquadSample(kCoefficients[k], inTurn[k], x);
            expected[j] = gain * x;
        }
        std::vector<float> buffer(signal.begin() + long(start), signal.begin() + long(start + n));
        std::vector<float> out(n, 99.0f);
        std::vector<std::size_t> order;
        float* const target = inPlace ? buffer.data() : out.data();
        BiquadLanePipeline<kSections> pipeline(kCoefficients.data(), lanes.data(), count);
        pipeline.run(buffer.data(), n, gain, [&](std::size_t j, float y) {
            order.push_back(j);
            target[j] = y;
        });
        pipeline.store(lanes.data());
        for (std::size_t j = 0; j < n; ++j) {
            ASSERT_EQ(order.at(j), j) << "run at " << start;
            ASSERT_EQ(bitsOf(target[j]), bitsOf(expected[j]))
                << "sample " << start + j << ": " << target[j] << " instead of " << expected[j];
        }
        for (std::size_t k = 0; k < count; ++k) {
            ASSERT_EQ(bitsOf(lanes[k].w1), bitsOf(inTurn[k].w1)) << "section " << k;
            ASSERT_EQ(bitsOf(lanes[k].w2), bitsOf(inTurn[k].w2)) << "section " << k;
        }
        start += n;
    }
}

TEST(BiquadLanePipeline, EqualsTheSectionsInTurnBitForBitForEveryCountAndRunLength) {
    for (std::size_t count = 1; count <= lyrane::kBiquadLanePipelineMaxSections; ++count) {
        expectLanesEqualSectionsInTurn<0>(count, false);
        expectLanesEqualSectionsInTurn<0>(count, true);
    }
    expectLanesEqualSectionsInTurn<6>(6, false);
    expectLanesEqualSectionsInTurn<6>(6, true);
}

}  // namespace
