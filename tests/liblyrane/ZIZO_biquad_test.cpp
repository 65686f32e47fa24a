#include "ZIZO_biquad.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "LogCapture.h"

namespace {

using Biquad = ZIZO_biquad<float>;

std::vector<float> filter(Biquad& biquad, const std::vector<float>& input) {
    std::vector<float> output;
    for (float x : input) {
        output.push_back(biquad.processSample(x));
    }
    return output;
}

std::vector<float> impulse(size_t n) {
    std::vector<float> x(n, 0.0f);
    x[0] = 1.0f;
    return x;
}

// Every value below is a short binary fraction, so the float results are
// exact and compared with ==.
TEST(ZIZO_biquad, ImpulseAndStepResponsesMatchTheDifferenceEquation) {
    Biquad pass("pass", {1, 0, 0, 0, 0});
    EXPECT_EQ(filter(pass, {0.25f, -0.75f, 3.0f}), (std::vector<float>{0.25f, -0.75f, 3.0f}));

    Biquad half("half", {0.5f, 0, 0, 0, 0});
    EXPECT_EQ(filter(half, {1.0f, -2.0f, 0.5f}), (std::vector<float>{0.5f, -1.0f, 0.25f}));

    // Pole at z = 0.5: h[n] = 0.5^n.
    Biquad pole("pole", {1, 0, 0, -0.5f, 0});
    EXPECT_EQ(filter(pole, impulse(4)), (std::vector<float>{1.0f, 0.5f, 0.25f, 0.125f}));

    // Second difference (1, -2, 1) of a unit step: 1, -1, then 0.
    Biquad diff2("diff2", {1, -2, 1, 0, 0});
    EXPECT_EQ(filter(diff2, {1, 1, 1, 1}), (std::vector<float>{1, -1, 0, 0}));

    // y[n] = 0.5 x[n] + 0.5 y[n-1] on a unit step: 1 - 0.5^(n+1).
    Biquad smooth("smooth", {0.5f, 0, 0, -0.5f, 0});
    EXPECT_EQ(filter(smooth, {1, 1, 1, 1}), (std::vector<float>{0.5f, 0.75f, 0.875f, 0.9375f}));

    // All five coefficients at work, b = (0.5, 0.25, 0.125), a = (-0.5, 0.25).
    // By hand: w[n] = x[n] + 0.5 w[n-1] - 0.25 w[n-2] = 1, 0.5, 0, -0.125,
    // -0.0625, 0, 0.015625; y[n] = 0.5 w[n] + 0.25 w[n-1] + 0.125 w[n-2].
    Biquad full("full", {0.5f, 0.25f, 0.125f, -0.5f, 0.25f});
    EXPECT_EQ(filter(full, impulse(7)),
              (std::vector<float>{0.5f, 0.5f, 0.25f, 0.0f, -0.0625f, -0.03125f, 0.0f}));
}

TEST(ZIZO_biquad, ResetMakesTheNextOutputB0TimesInput) {
    Biquad biquad("b", {0.5f, 0.25f, 0.125f, -0.5f, 0.25f});
    filter(biquad, {1.0f, -3.0f, 2.0f});
    biquad.reset();
    EXPECT_EQ(biquad.processSample(4.0f), 2.0f);
}

// Unstable poles turn the section into a pass-through with one WARN record.
TEST(ZIZO_biquad, OnlyPolesStrictlyInsideTheUnitCircleAreKept) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        float a1, a2;
        bool kept;
        const char* why;
    };
    const Case cases[] = {
        {-1.0f, 0.5f, true, "complex pair, radius 0.71"},
        {-1.9f, 0.9025f, true, "double real pole at 0.95"},
        {0.3f, -0.4f, true, "real poles 0.5 and -0.8"},
        {-1.0f, 0.99f, true, "complex pair, radius 0.995"},
        {0.0f, 1.5f, false, "poles +-1.22j"},
        {0.0f, 1.0f, false, "poles +-j on the circle"},
        {-1.0f, 1.1f, false, "poles 0.5 +- 0.92j, radius 1.05, real and imaginary part below 1"},
        {-2.0f, 1.0f, false, "double pole at 1"},
        {0.0f, -1.5f, false, "real poles +-1.22"},
        {0.5f, -0.5f, false, "real poles 0.5 and -1"},
        {nan, 0.0f, false, "not a number"},
        {0.0f, nan, false, "not a number"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        LogCapture log;
        Biquad biquad("EQ biquad 3", {0.5f, 0, 0, c.a1, c.a2});
        if (c.kept) {
            // Impulse response of 0.5 / (1 + a1 z^-1 + a2 z^-2): 0.5,
            // -0.5 a1, 0.5 (a1^2 - a2); the feedback coefficients are kept.
            EXPECT_EQ(filter(biquad, {1.0f, 0.0f, 0.0f}),
                      (std::vector<float>{0.5f, -0.5f * c.a1, 0.5f * (c.a1 * c.a1 - c.a2)}));
            EXPECT_TRUE(log.records("ZIZO.Biquad").empty());
        } else {
            EXPECT_EQ(filter(biquad, {1.0f, 0.0f, -2.0f}), (std::vector<float>{1.0f, 0.0f, -2.0f}));
            const auto records = log.records("ZIZO.Biquad");
            ASSERT_EQ(records.size(), 1u);
            EXPECT_EQ(records[0].level, "WARN");
            EXPECT_EQ(records[0].message, "Biquad EQ biquad 3 unstable, fallback to unity");
        }
    }
}

TEST(ZIZO_biquad, WrongCoefficientCountGivesUnityAndOneError) {
    for (size_t count : {0u, 4u, 6u}) {
        LogCapture log;
        Biquad biquad("b", std::vector<float>(count, 0.5f));
        EXPECT_EQ(filter(biquad, {0.3f, -0.7f}), (std::vector<float>{0.3f, -0.7f}));
        const auto records = log.records("ZIZO.Biquad");
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].level, "ERROR");
        EXPECT_EQ(records[0].message, "Biquad initialized with " + std::to_string(count) +
                                          "coefficients, but 5 expected.");
    }
}

// A non-finite internal value restarts the section from zero state: after
// the bad sample the output is that of a fresh section fed the same tail.
TEST(ZIZO_biquad, NonFiniteSampleDoesNotPoisonTheState) {
    const std::vector<float> coefficients{0.5f, 0.25f, 0.125f, -1.8f, 0.9f};
    const std::vector<float> tail{1.0f, -0.5f, 0.25f, 0.0f, 0.0f, 0.75f};
    const float inf = std::numeric_limits<float>::infinity();
    for (const std::vector<float>& bad :
         {std::vector<float>{std::nanf("")}, std::vector<float>{inf}, std::vector<float>{-inf},
          // Finite, but the recursion overflows float.
          std::vector<float>{3.0e38f, 3.0e38f}}) {
        Biquad biquad("b", coefficients);
        filter(biquad, {0.5f, 0.3f, -0.2f});
        const std::vector<float> during = filter(biquad, bad);
        EXPECT_FALSE(std::isfinite(during.back()));
        Biquad fresh("fresh", coefficients);
        EXPECT_EQ(filter(biquad, tail), filter(fresh, tail));
    }
}

}  // namespace
