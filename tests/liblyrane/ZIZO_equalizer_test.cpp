#include "ZIZO_equalizer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <functional>
#include <limits>
#include <vector>

#include "LogCapture.h"
#include "TempDir.h"
#include "ZIZO_ConfigImport.h"

namespace {

using Equalizer = ZIZO_equalizer<float>;

const std::string kShippedV2 = std::string(LYRANE_TEST_CONFIG_DIR) + "/equalizer_coefficients.cfg";
const std::string kShippedV1 =
    std::string(LYRANE_TEST_CONFIG_DIR) + "/equalizer_coefficients_v1.cfg";

// Two sections with exact binary coefficients: a pole at 0.5 and a halver.
const char* const kTwoSections =
    "fs = 16000; gain = 2.0;\n"
    "b0 = [ 1.0, 0.5 ]; b1 = [ 0.0, 0.0 ]; b2 = [ 0.0, 0.0 ];\n"
    "a1 = [ -0.5, 0.0 ]; a2 = [ 0.0, 0.0 ];\n";

ZIZO_Config eqConfig(const std::string& file, bool enabled) {
    ZIZO_Config config;
    config.set<std::string>("coeff_file", file);
    config.set<bool>("enabled", enabled);
    return config;
}

std::vector<float> runEach(Equalizer& eq, const std::vector<float>& input) {
    std::vector<float> output(input.size());
    for (size_t i = 0; i < input.size(); ++i) {
        eq.run(&input[i], &output[i]);
    }
    return output;
}

std::vector<float> scaled(std::vector<float> x, float factor) {
    for (float& v : x)
        v *= factor;
    return x;
}

const std::vector<float> kSignal{1.0f, 0.0f, -0.5f, 0.25f, 2.0f, 0.0f};

// Errors of the load, each the only ERROR record of the equalizer and each
// leaving a constructed equalizer disabled without sections.
TEST(ZIZO_equalizer, EveryLoadFailureLogsItsCauseAndLeavesItDisabled) {
    struct Case {
        const char* what;
        unsigned int fs;
        const char* text;
        std::function<std::string(const std::string&)> message;
    };
    const std::string twoRates =
        "filter_fs_16000 = { fs = 16000; b0 = []; b1 = []; b2 = []; a1 = []; a2 = []; };\n"
        "filter_fs_48000 = { fs = 48000; b0 = []; b1 = []; b2 = []; a1 = []; a2 = []; };\n";
    const Case cases[] = {
        {"no set for the rate", 8000, twoRates.c_str(),
         [](const std::string& p) {
             return "Error while importing " + p + ": No data found for sampling rate 8000";
         }},
        {"empty b0 at the top level reads as version 2", 16000,
         "fs = 16000; b0 = []; b1 = []; b2 = []; a1 = []; a2 = [];",
         [](const std::string& p) {
             return "Error while importing " + p + ": No data found for sampling rate 16000";
         }},
        // A 32-bit long (the device's ARM) makes libconfig refuse every
        // 64-bit setting while it is imported; elsewhere fs arrives as a long.
        {"64-bit fs", 16000,
         "filter_fs_16000 = { fs = 16000L; b0 = []; b1 = []; b2 = []; a1 = []; a2 = []; };",
         [](const std::string& p) {
             return sizeof(long) < 8
                        ? "Exception while importing " + p + ": SettingTypeException"
                        : "Required field 'fs' of type int not found in file " + p + ".";
         }},
        {"a2 and b0 missing", 16000,
         "filter_fs_16000 = { fs = 16000; b1 = [1.0]; b2 = [1.0]; a1 = [0.0]; };",
         [](const std::string& p) {
             return "Required vector 'a2' of type f not found in file " + p + ".";
         }},
        {"integer array", 16000,
         "fs = 16000; b0 = [1.0]; b1 = [1, 2]; b2 = [1.0]; a1 = [0.0]; a2 = [0.0];",
         [](const std::string& p) {
             return "Required vector 'b1' of type f not found in file " + p + ".";
         }},
        {"empty and filled arrays mixed", 16000,
         "filter_fs_16000 = { fs = 16000; b0 = []; b1 = [1.0]; b2 = [1.0]; a1 = [0.0]; a2 = "
         "[0.0]; };",
         [](const std::string& p) {
             return "Required vector 'b0' of type f not found in file " + p + ".";
         }},
        {"group of another rate's design", 48000,
         "filter_fs_48000 = { fs = 16000; b0 = []; b1 = []; b2 = []; a1 = []; a2 = []; };",
         [](const std::string& p) {
             return "Samplerate specified in file " + p +
                    " (16000) does not match lyrane samplerate (48000).";
         }},
        // libconfig reads 1e999 as infinity; 1e300 becomes one in single
        // precision.
        {"infinite gain", 16000,
         "fs = 16000; gain = 1e999; b0 = [1.0]; b1 = [0.0]; b2 = [0.0]; a1 = [0.0]; a2 = [0.0];",
         [](const std::string& p) { return "Gain inf of file " + p + " is not finite."; }},
        {"infinite coefficient", 16000,
         "filter_fs_16000 = { fs = 16000; b0 = [1.0, 1.0]; b1 = [0.0, 0.0]; b2 = [0.0, 0.0];"
         "a1 = [0.0, -1e300]; a2 = [0.0, 0.0]; };",
         [](const std::string& p) {
             return "Coefficient a1[1] = -inf of file " + p + " is not finite.";
         }},
        {"lengths 3, 3, 3, 3, 2", 16000,
         "fs = 16000; b0 = [1.0, 1.0, 1.0]; b1 = [0.0, 0.0, 0.0]; b2 = [0.0, 0.0, 0.0];"
         "a1 = [0.0, 0.0, 0.0]; a2 = [0.0, 0.0];",
         [](const std::string&) {
             return std::string("Size of coefficient vectors is inconsistent.");
         }},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = dir.write("coefficients.cfg", c.text);
        LogCapture log;
        Equalizer eq("EQ", 1, c.fs, eqConfig(path, true));
        EXPECT_FALSE(eq.isEnabled());
        EXPECT_EQ(eq.getNumBiquads(), 0u);
        const auto errors = log.records("ZIZO.Equalizer", "ERROR");
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0].message, c.message(path));
        EXPECT_EQ(errors[0].function, "loadFilterCoefficients");
        EXPECT_EQ(log.count("Equalizer EQ disabled."), 1u);
        EXPECT_EQ(eq.loadFilterCoefficients(path), -1);
    }

    // Unreadable and unparsable files: the importer names the cause. An
    // include of a directory counts as unreadable (libconfig would end the
    // process reading it).
    for (const std::string& path :
         {dir.file("absent.cfg"), dir.write("bad.cfg", "fs = ;"),
          dir.write("include.cfg", "fs = 16000;\n@include \"" + dir.path() + "\"\n")}) {
        LogCapture log;
        Equalizer eq("EQ", 1, 16000, eqConfig(path, true));
        EXPECT_FALSE(eq.isEnabled());
        EXPECT_EQ(eq.loadFilterCoefficients(path), -1);
        EXPECT_TRUE(log.records("ZIZO.Equalizer", "ERROR").empty());
        EXPECT_EQ(log.records("ZIZO.ConfigImport_LIBCONFIG", "ERROR").size(), 2u);
    }
}

TEST(ZIZO_equalizer, LoadsBothVersionsAndFiltersWithTheRightSet) {
    TempDir dir;
    {
        const std::string path = dir.write("v1.cfg", kTwoSections);
        LogCapture log;
        Equalizer eq("EQ", 1, 16000, eqConfig(path, true));
        EXPECT_TRUE(eq.isEnabled());
        EXPECT_EQ(eq.getNumBiquads(), 2u);
        EXPECT_EQ(log.count("Import: Detected file version 1"), 1u);
        EXPECT_EQ(log.count("Successfully parsed " + path + ". Equalizer consists of 2 biquads."),
                  1u);
        EXPECT_EQ(log.count("Equalizer EQ enabled."), 1u);
        // Impulse: pole at 0.5 gives 0.5^n, halved, doubled by gain.
        EXPECT_EQ(runEach(eq, {1, 0, 0, 0}), (std::vector<float>{1.0f, 0.5f, 0.25f, 0.125f}));
    }
    {
        // Gain only; the set of the equalizer's rate decides it. An integer
        // gain is not a float and leaves 1.0; other top-level keys are ignored.
        const std::string path = dir.write(
            "v2.cfg",
            "comment = \"ignored\";\n"
            "filter_fs_16000 = { fs = 16000; gain = 0.5; b0 = []; b1 = []; b2 = []; a1 = []; a2 "
            "= []; };\n"
            "filter_fs_48000 = { fs = 48000; gain = 0.25; b0 = []; b1 = []; b2 = []; a1 = []; "
            "a2 = []; };\n"
            "filter_fs_8000 = { fs = 8000; gain = 2; b0 = []; b1 = []; b2 = []; a1 = []; a2 = []; "
            "};\n");
        for (const auto& [fs, gain] :
             {std::pair<unsigned, float>{16000, 0.5f}, {48000, 0.25f}, {8000, 1.0f}}) {
            LogCapture log;
            Equalizer eq("EQ", 1, fs, eqConfig(path, true));
            EXPECT_TRUE(eq.isEnabled());
            EXPECT_EQ(log.count("Import: Detected file version 2"), 1u);
            EXPECT_EQ(
                log.count("Successfully parsed " + path + ". Equalizer consists of 0 biquads."),
                1u);
            EXPECT_EQ(runEach(eq, kSignal), scaled(kSignal, gain)) << fs;
        }
    }
}

TEST(ZIZO_equalizer, WithoutFileItIsDisabledAndCopiesBlocksEvenInPlace) {
    for (bool enabled : {false, true}) {
        LogCapture log;
        Equalizer eq("EQ", 6, 16000, eqConfig("", enabled));
        EXPECT_FALSE(eq.isEnabled());
        EXPECT_EQ(log.messages("ZIZO.Equalizer"),
                  (std::vector<std::string>{"Creating instance of ZIZO_equalizer (EQ).",
                                            "Equalizer EQ disabled."}));
        std::vector<float> block = kSignal;
        eq.run(block.data(), block.data());
        EXPECT_EQ(block, kSignal);
    }
    // A key of another type reads as the default.
    ZIZO_Config wrongType;
    wrongType.set<int>("coeff_file", 1);
    Equalizer eq("EQ", 1, 16000, wrongType);
    EXPECT_FALSE(eq.isEnabled());
    EXPECT_EQ(eq.getFilename(), "");
}

TEST(ZIZO_equalizer, SwitchingOffMidStreamCopiesAndSwitchingOnStartsFromZeroState) {
    TempDir dir;
    const std::string path = dir.write("eq.cfg", kTwoSections);
    Equalizer eq("EQ", 1, 16000, eqConfig(path, false));
    Equalizer reference("REF", 1, 16000, eqConfig(path, true));
    EXPECT_FALSE(eq.isEnabled());
    EXPECT_EQ(runEach(eq, kSignal), kSignal);

    eq.setEnabled(true);
    EXPECT_EQ(runEach(eq, kSignal), runEach(reference, kSignal));
    Equalizer fresh("FRESH", 1, 16000, eqConfig(path, true));
    LogCapture log;
    eq.setEnabled(false);
    EXPECT_EQ(runEach(eq, kSignal), kSignal);
    eq.setEnabled(true);
    EXPECT_EQ(runEach(eq, kSignal), runEach(fresh, kSignal));
    EXPECT_EQ(log.messages("ZIZO.Equalizer"),
              (std::vector<std::string>{"Equalizer EQ disabled.", "Equalizer EQ enabled."}));
}

TEST(ZIZO_equalizer, ReloadFollowsTheFileAndAFailedReloadLeavesItDisabled) {
    TempDir dir;
    const std::string path = dir.write("eq.cfg", kTwoSections);
    Equalizer eq("EQ", 1, 16000, eqConfig(path, true));
    runEach(eq, kSignal);

    // Changed file, enabled: new sections from zero state, still enabled.
    dir.write("eq.cfg",
              "fs = 16000; gain = 3.0; b0 = [0.5]; b1 = [0.5]; b2 = [0.0];"
              "a1 = [0.0]; a2 = [0.0];");
    {
        LogCapture log;
        eq.reload();
        EXPECT_EQ(log.messages("ZIZO.Equalizer"),
                  (std::vector<std::string>{
                      "Reloading coefficients of ZIZO_equalizer (EQ).", "Equalizer EQ disabled.",
                      "Import: Detected file version 1",
                      "Successfully parsed " + path + ". Equalizer consists of 1 biquads.",
                      "Equalizer EQ enabled."}));
    }
    EXPECT_TRUE(eq.isEnabled());
    EXPECT_EQ(runEach(eq, {1, 0, 0}), (std::vector<float>{1.5f, 1.5f, 0.0f}));

    // setFilename alone changes nothing; reload of a missing file disables.
    eq.setFilename(dir.file("gone.cfg"));
    EXPECT_EQ(eq.getFilename(), dir.file("gone.cfg"));
    EXPECT_TRUE(eq.isEnabled());
    EXPECT_EQ(eq.getNumBiquads(), 1u);
    eq.reload();
    EXPECT_FALSE(eq.isEnabled());
    EXPECT_EQ(eq.getNumBiquads(), 0u);
    EXPECT_EQ(runEach(eq, kSignal), kSignal);
    // Switched on again without sections it applies the last gain only.
    eq.setEnabled(true);
    EXPECT_EQ(runEach(eq, kSignal), scaled(kSignal, 3.0f));
    // A file with an infinite gain is refused before anything is replaced:
    // switched on again, the last good gain still applies.
    eq.setFilename(dir.write("inf.cfg",
                             "filter_fs_16000 = { fs = 16000; gain = 1e999;"
                             "b0 = []; b1 = []; b2 = []; a1 = []; a2 = []; };"));
    eq.reload();
    EXPECT_FALSE(eq.isEnabled());
    eq.setEnabled(true);
    EXPECT_EQ(runEach(eq, kSignal), scaled(kSignal, 3.0f));

    // A disabled equalizer reloads its sections and stays disabled.
    eq.setEnabled(false);
    eq.setFilename(path);
    eq.reload();
    EXPECT_FALSE(eq.isEnabled());
    EXPECT_EQ(eq.getNumBiquads(), 1u);
}

TEST(ZIZO_equalizer, SectionsAreRebuiltFromTheStoredRowsAndNamedByIndex) {
    TempDir dir;
    // Rows 0 and 2 are unstable and fall back to unity under their own names;
    // a2 = 1.1 is the complex pair of radius 1.05 that would otherwise diverge.
    const std::string path =
        dir.write("eq.cfg",
                  "fs = 16000; b0 = [1.0, 0.5, 1.0]; b1 = [0.0, 0.0, 0.0]; b2 = [0.0, 0.0, 0.0];"
                  "a1 = [0.0, 0.0, -1.0]; a2 = [1.5, 0.0, 1.1];");
    LogCapture log;
    Equalizer eq("EQ", 1, 16000, eqConfig(path, true));
    EXPECT_EQ(log.messages("ZIZO.Biquad"),
              (std::vector<std::string>{"Biquad EQ biquad 0 unstable, fallback to unity",
                                        "Biquad EQ biquad 2 unstable, fallback to unity"}));
    EXPECT_EQ(runEach(eq, kSignal), scaled(kSignal, 0.5f));

    log.clear();
    eq.createBiquads();
    EXPECT_EQ(log.count("Implementation error? createBiquads() called, but existing biquad array "
                        "not empty."),
              1u);
    EXPECT_EQ(eq.getNumBiquads(), 3u);
    EXPECT_EQ(runEach(eq, kSignal), scaled(kSignal, 0.5f));

    eq.removeBiquads();
    EXPECT_EQ(eq.getNumBiquads(), 0u);
    EXPECT_EQ(runEach(eq, kSignal), kSignal);
    eq.createBiquads();
    EXPECT_EQ(eq.getNumBiquads(), 3u);
}

TEST(ZIZO_equalizer, OneNonFiniteSampleIsForgottenOnceFiniteSamplesReturn) {
    Equalizer eq("EQ", 1, 48000, eqConfig(kShippedV2, true));
    Equalizer fresh("FRESH", 1, 48000, eqConfig(kShippedV2, true));
    runEach(eq, kSignal);
    const std::vector<float> bad{std::numeric_limits<float>::quiet_NaN()};
    EXPECT_TRUE(std::isnan(runEach(eq, bad)[0]));
    EXPECT_EQ(runEach(eq, kSignal), runEach(fresh, kSignal));
}

// Pole radius by the quadratic formula in double precision.
double poleRadius(double a1, double a2) {
    const std::complex<double> root = std::sqrt(std::complex<double>(a1 * a1 - 4.0 * a2));
    return std::max(std::abs((-a1 + root) / 2.0), std::abs((-a1 - root) / 2.0));
}

// The cascade's steady-state response to sines, measured by correlating one
// second of output with sin and cos after half a second of settling, against
// gain * prod (b0 + b1 z^-1 + b2 z^-2) / (1 + a1 z^-1 + a2 z^-2) at z = e^jw,
// evaluated in double from the coefficients as the importer reads them.
TEST(ZIZO_equalizer, ShippedFilesLoadAtBothRatesAndMatchTheirAnalyticResponse) {
    for (unsigned int fs : {16000u, 48000u}) {
        SCOPED_TRACE(fs);
        LogCapture log;
        Equalizer eq("EQ", 1, fs, eqConfig(kShippedV2, true));
        ASSERT_TRUE(eq.isEnabled());
        EXPECT_EQ(eq.getNumBiquads(), 6u);
        EXPECT_TRUE(log.records("ZIZO.Biquad").empty());

        auto importer = ZIZO_ConfigImport::make_zizo_configimport(ZIZO_ConfigImport::LIBCONFIG);
        ASSERT_EQ(importer->import(kShippedV2), 0);
        const ZIZO_Config set =
            importer->getConfig().getGroup("filter_fs_" + std::to_string(fs) + ".");
        const auto column = [&](const char* key) {
            const std::vector<float> values = set.get<std::vector<float>>(key);
            return std::vector<double>(values.begin(), values.end());
        };
        const auto b0 = column("b0"), b1 = column("b1"), b2 = column("b2");
        const auto a1 = column("a1"), a2 = column("a2");
        for (size_t k = 0; k < a1.size(); ++k) {
            EXPECT_LT(poleRadius(a1[k], a2[k]), 0.999) << "section " << k;
        }

        for (double f : {50.0, 150.0, 400.0, 1000.0, 3000.0, 5000.0, 7000.0}) {
            const double w = 2.0 * std::acos(-1.0) * f / fs;
            const std::complex<double> z1 = std::polar(1.0, -w);
            std::complex<double> h = set.get<float>("gain");
            for (size_t k = 0; k < b0.size(); ++k) {
                h *= (b0[k] + (b1[k] + b2[k] * z1) * z1) / (1.0 + (a1[k] + a2[k] * z1) * z1);
            }

            double sinSum = 0.0, cosSum = 0.0;
            for (unsigned int n = 0; n < fs + fs / 2; ++n) {
                const float x = static_cast<float>(std::sin(w * n));
                float y = 0.0f;
                eq.run(&x, &y);
                if (n >= fs / 2) {
                    sinSum += y * std::sin(w * n);
                    cosSum += y * std::cos(w * n);
                }
            }
            const double measuredDb = 20.0 * std::log10(2.0 / fs * std::hypot(sinSum, cosSum));
            const double phaseError = std::arg(std::polar(1.0, std::atan2(cosSum, sinSum)) / h);
            EXPECT_NEAR(measuredDb, 20.0 * std::log10(std::abs(h)), 0.02) << f << " Hz";
            EXPECT_NEAR(phaseError, 0.0, 0.002) << f << " Hz";
        }
    }
}

TEST(ZIZO_equalizer, ShippedVersionOneFileEqualsTheSixteenKilohertzSet) {
    Equalizer v1("V1", 1, 16000, eqConfig(kShippedV1, true));
    Equalizer v2("V2", 1, 16000, eqConfig(kShippedV2, true));
    ASSERT_TRUE(v1.isEnabled());
    EXPECT_EQ(v1.getNumBiquads(), 6u);
    std::vector<float> noise(512);
    for (size_t n = 0; n < noise.size(); ++n) {
        noise[n] = static_cast<float>(std::sin(0.37 * n * n));
    }
    EXPECT_EQ(runEach(v1, noise), runEach(v2, noise));

    LogCapture log;
    Equalizer wrongRate("EQ", 1, 48000, eqConfig(kShippedV1, true));
    EXPECT_FALSE(wrongRate.isEnabled());
    EXPECT_EQ(log.count("Samplerate specified in file " + kShippedV1 +
                        " (16000) does not match lyrane samplerate (48000)."),
              1u);
}

}  // namespace
