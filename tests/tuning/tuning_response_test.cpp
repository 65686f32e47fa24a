// Response figures of hand-derived sections, loaded through the equalizer's
// own loader. Expected values come from the closed forms:
//   one pole p:  |H|^2 = (1-p)^2 / (1 - 2p cos w + p^2),
//                arg H = -atan2(p sin w, 1 - p cos w);
//   notch 1 + z^-2 = 2 cos w e^(-jw), over 1 + 0.81 z^-2 for the resonant one;
//   peaking (cookbook, f0 = fs/4, +6 dB, Q 1): |H(f0)| = A^2 = 10^(6/20),
//                unity at 0 and fs/2.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "BiquadResponse.h"
#include "EqualizerResponse.h"
#include "LogRecordCollector.h"
#include "ResponseCurves.h"
#include "TempDir.h"
#include "TuningError.h"

namespace {

const double kDbTolerance = 1e-5;  // float coefficients, read from text
const double kDegTolerance = 1e-4;

// Three sections at 16000 Hz (one pole p = 0.5, notch at fs/4 with poles at
// radius 0.9, and an unstable one with poles at radius 1.1) with gain 0.5;
// one cookbook peaking section at 48000 Hz; a delay of two samples (phase
// -720 f / fs degrees) at 8000 Hz.
const char* const kCoefficients = R"(
filter_fs_16000 = {
    fs = 16000;
    gain = 0.5;
    b0 = [ 0.5, 1.0, 0.3 ];
    b1 = [ 0.0, 0.0, 0.2 ];
    b2 = [ 0.0, 1.0, 0.1 ];
    a1 = [ -0.5, 0.0, 0.0 ];
    a2 = [ 0.0, 0.81, 1.21 ];
};
filter_fs_8000 = {
    fs = 8000;
    b0 = [ 0.0 ];
    b1 = [ 0.0 ];
    b2 = [ 1.0 ];
    a1 = [ 0.0 ];
    a2 = [ 0.0 ];
};
filter_fs_48000 = {
    fs = 48000;
    b0 = [ 1.2601941901 ];
    b1 = [ 0.0 ];
    b2 = [ 0.21694025736 ];
    a1 = [ 0.0 ];
    a2 = [ 0.47713444747 ];
};
)";

class ResponseTest : public ::testing::Test {
  protected:
    TempDir dir;
    std::string file = dir.write("sections.cfg", kCoefficients);
    LogRecordCollector log;
};

void expectPoint(const std::complex<double>& h, double magnitudeDb, double phaseDeg) {
    EXPECT_NEAR(BiquadResponse::magnitudeDb(h), magnitudeDb, kDbTolerance);
    EXPECT_NEAR(BiquadResponse::phaseDeg(h), phaseDeg, kDegTolerance);
}

}  // namespace

TEST_F(ResponseTest, SectionsMatchTheirClosedFormsAtChosenFrequencies) {
    const EqualizerResponse eq(file, 16000, log);
    ASSERT_EQ(eq.getSections().size(), 3u);

    // One pole at fs/8, fs/6, fs/4 and fs/2.
    expectPoint(eq.section(0, 2000.0), -3.367744083, -28.6750501);
    expectPoint(eq.section(0, 16000.0 / 6.0), -4.771212547, -30.0);
    expectPoint(eq.section(0, 4000.0), -6.989700043, -26.5650512);
    EXPECT_NEAR(BiquadResponse::magnitudeDb(eq.section(0, 8000.0)), -9.542425094, kDbTolerance);
    EXPECT_NEAR(eq.getSections()[0].poleRadius, 0.5, 1e-7);

    // Resonant notch: nothing passes at fs/4.
    expectPoint(eq.section(1, 2000.0), 0.819434385, -5.9925274);
    expectPoint(eq.section(1, 16000.0 / 6.0), 0.725783049, -10.3048080);
    EXPECT_LT(BiquadResponse::magnitudeDb(eq.section(1, 4000.0)), -100.0);
    EXPECT_NEAR(eq.getSections()[1].poleRadius, 0.9, 1e-7);
}

TEST_F(ResponseTest, UnstableSectionIsMarkedAndActsAsUnityInTheCascade) {
    const EqualizerResponse eq(file, 16000, log);
    ASSERT_EQ(eq.getSections().size(), 3u);
    EXPECT_FALSE(eq.getSections()[0].refused);
    EXPECT_FALSE(eq.getSections()[1].refused);
    const EqualizerResponse::Section& unstable = eq.getSections()[2];
    EXPECT_TRUE(unstable.refused);
    EXPECT_NE(unstable.reason.find("biquad 2 unstable, fallback to unity"), std::string::npos)
        << unstable.reason;
    EXPECT_NEAR(unstable.poleRadius, 1.1, 1e-6);  // the file's poles, not unity's
    expectPoint(eq.section(2, 1234.5), 0.0, 0.0);

    // Gain 0.5 (-6.020599913 dB) plus the one pole plus the notch.
    expectPoint(eq.cascade(2000.0), -8.568909611, -34.6675775);
    expectPoint(eq.cascade(16000.0 / 6.0), -10.066029411, -40.3048080);
}

TEST_F(ResponseTest, PeakingSectionPeaksAtItsGainAndCentre) {
    const EqualizerResponse eq(file, 48000, log);
    ASSERT_EQ(eq.getSections().size(), 1u);
    expectPoint(eq.section(0, 12000.0), 6.0, 0.0);
    EXPECT_NEAR(BiquadResponse::magnitudeDb(eq.section(0, 24000.0)), 0.0, kDbTolerance);
    EXPECT_NEAR(eq.getSections()[0].poleRadius, 0.690749193, 1e-7);

    const ResponseCurves curves(eq);
    EXPECT_NEAR(curves.getPeak().gainDb, 6.0, kDbTolerance);
    EXPECT_NEAR(curves.getPeak().frequencyHz, 12000.0, 1.0);
    // The grid holds no point at 12000 Hz, so the peak came from the search.
    for (double f : curves.getFrequencies()) {
        EXPECT_GT(std::fabs(f - 12000.0), 1.0);
    }
}

TEST_F(ResponseTest, GridRunsFromTwentyHertzToHalfTheRateAt48PerOctave) {
    // 20 * 2^(k/48) < 8000 for k < 48 log2(400) = 414.9: k = 0 .. 414, then
    // 8000 itself.
    const std::vector<double> grid = ResponseCurves::logGrid(20.0, 8000.0, 48);
    ASSERT_EQ(grid.size(), 416u);
    EXPECT_DOUBLE_EQ(grid.front(), 20.0);
    EXPECT_DOUBLE_EQ(grid[48], 40.0);
    EXPECT_DOUBLE_EQ(grid.back(), 8000.0);

    // The delay's phase passes -180 degrees at fs/4 and is unwrapped down to
    // -360 at fs/2, in the cascade and in the section alike.
    const EqualizerResponse eq(file, 8000, log);
    const ResponseCurves curves(eq);
    ASSERT_EQ(curves.getCurves().size(), 2u);
    for (const ResponseCurves::Curve& curve : curves.getCurves()) {
        for (std::size_t k = 0; k < curves.getFrequencies().size(); ++k) {
            EXPECT_NEAR(curve.phaseDeg[k], -720.0 * curves.getFrequencies()[k] / 8000.0,
                        kDegTolerance);
            EXPECT_NEAR(curve.magnitudeDb[k], 0.0, kDbTolerance);
        }
    }
}

TEST_F(ResponseTest, MissingRateIsTheLoadersMessageNamingTheFile) {
    try {
        EqualizerResponse eq(file, 22050, log);
        FAIL() << "a rate the file lacks was accepted";
    } catch (const TuningError& e) {
        const std::string message = e.what();
        EXPECT_NE(message.find(file), std::string::npos) << message;
        EXPECT_NE(message.find("No data found for sampling rate 22050"), std::string::npos)
            << message;
    }
}
