// LyraneBenchmark run as a program: how it assembles its configuration from
// the configuration directory and walks the command line, and how each
// failure of that stage ends it.
#include <TempDir.h>
#include <gtest/gtest.h>

#include "BenchmarkHarness.h"

namespace {

using Lines = std::vector<std::string>;

// The usage text, written out here line by line.
Lines usage() {
    const std::string& program = benchmarkProgram();
    return {"USAGE:",
            program + " --input=<wav-filename> [OPTIONS]",
            "",
            "OPTIONS:",
            "\t--help",
            "\t\t\tPrint this help message.",
            "",
            "\t--client_volume_level",
            "\t\t\tSet playback level assumed to be used by client.",
            "",
            "\t--output_dir",
            "\t\t\tOutput directory.",
            "",
            "\t--no_farend",
            "\t\t\tSet to 1 if input file has no dedicated farend channel.",
            "",
            "\t--<FILE-OPTION>",
            "\t\t\tAny option specified in the Lyrane configuration files can be overridden.",
            "",
            "EXAMPLE:",
            "\t" + program +
                " --input=test_1ch.wav --Nmics=1 --client_volume_level=10 --AEC.enabled=0 "
                "--ANC.Gmin_db=-18.0",
            ""};
}

Lines concat(Lines first, const Lines& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

std::string unknown(const std::string& name) {
    return "ERROR: Parameter " + name + " does not exist in Lyrane configuration files.";
}

class BenchmarkOptions : public ::testing::Test {
  protected:
    ConfigDirectory config;
    TempDir scratch;
};

TEST_F(BenchmarkOptions, HelpPrintsTheUsageAndStopsTheWalkWhereItStands) {
    // Options before --help are applied and reported; the unknown name after
    // it is never looked at.
    BenchmarkRun run = runBenchmark({"--Nmics=2", "--help", "--no_such_parameter=1"});
    EXPECT_EQ(run.status, 0) << run.transcript();
    EXPECT_EQ(run.plainLines, concat({"Parameter Nmics set by user to 2"}, usage()));
    EXPECT_TRUE(run.records.empty()) << run.transcript();

    // Recognised by its name alone: a value makes no difference. Every line,
    // the last empty one included, ends in a newline.
    run = runBenchmark({"--help=yes"});
    EXPECT_EQ(run.status, 0);
    std::string text;
    for (const std::string& line : usage())
        text += line + "\n";
    EXPECT_EQ(run.stdoutText, text);
}

TEST_F(BenchmarkOptions, UnknownParameterEndsTheRunBeforeALaterHelp) {
    BenchmarkRun run = runBenchmark({"--Nmics=2", "--no_such_parameter=1", "--help", "--Nmics=3"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.plainLines,
              Lines({"Parameter Nmics set by user to 2", unknown("no_such_parameter")}));

    // Keys are case sensitive and need their full dotted name.
    EXPECT_EQ(runBenchmark({"--nmics=2"}).plainLines, Lines({unknown("nmics")}));
    EXPECT_EQ(runBenchmark({"--enabled=0"}).plainLines, Lines({unknown("enabled")}));

    // A bare word reaches the override with an empty name; "--input a.wav"
    // is an input option without value (skipped) followed by such a word.
    for (const Lines& arguments : {Lines{"stray"}, Lines{"--input", "a.wav"}}) {
        run = runBenchmark(arguments);
        EXPECT_EQ(run.status, 1) << arguments.back();
        EXPECT_EQ(run.plainLines, Lines({unknown("")})) << arguments.back();
    }
}

TEST_F(BenchmarkOptions, OverridesKeepTheStoredTypeAndEchoItsRendering) {
    config.write("Lyrane.cfg",
                 "fs = 16000; Nmics = 1; AEC = { enabled = true; }; ANC = { Gmin_db = -12.0; };\n"
                 "label = \"x\"; taps = [ 1.0, 2.5 ];\n");
    const BenchmarkRun run =
        runBenchmark({"--AEC.enabled=0", "--ANC.Gmin_db=-18.0", "--Nmics=+2", "--ANC.Gmin_db=0.1",
                      "--label=a b", "--taps=9 9", "--help"});
    EXPECT_EQ(run.status, 0) << run.transcript();
    const Lines expected = {
        "Parameter AEC.enabled set by user to 0",
        "Parameter ANC.Gmin_db set by user to -18",
        "Parameter Nmics set by user to 2",
        // 0.1 as the nearest float, written with nine significant digits.
        "Parameter ANC.Gmin_db set by user to 0.100000001",
        "Parameter label set by user to a b",
        // A vector is not overwritten.
        "Parameter taps set by user to 1 2.5 ",
    };
    EXPECT_EQ(run.plainLines, concat(expected, usage()));
}

// A 64-bit integer of the device files is a long. Where long has 64 bits it
// has no text form, so its override is echoed as such; where it has 32 (the
// device's ARM) libconfig refuses to convert it and the run ends at the import.
TEST_F(BenchmarkOptions, SixtyFourBitSettingIsALongOrEndsTheRunWhereLongHas32Bits) {
    config.write("Lyrane.cfg", "fs = 16000; Nmics = 1; frames = 5L;\n");
    const BenchmarkRun run = runBenchmark({"--frames=7", "--help"});
    if (sizeof(long) < 8) {
        EXPECT_EQ(run.status, 1) << run.transcript();
        EXPECT_EQ(run.log(), Lines({"FATAL Benchmark aborted: SettingTypeException"}));
        EXPECT_TRUE(run.plainLines.empty());
        return;
    }
    EXPECT_EQ(run.status, 0) << run.transcript();
    EXPECT_EQ(
        run.plainLines,
        concat({"Parameter frames set by user to Cannot display value of this type"}, usage()));
}

TEST_F(BenchmarkOptions, ShippedConfigurationTakesTheUsageExample) {
    config.restoreShipped();
    const BenchmarkRun run = runBenchmark({"--Nmics=1", "--client_volume_level=10",
                                           "--AEC.enabled=0", "--ANC.Gmin_db=-18.0", "--help"});
    EXPECT_EQ(run.status, 0) << run.transcript();
    EXPECT_EQ(run.plainLines,
              concat({"Parameter Nmics set by user to 1", "Parameter AEC.enabled set by user to 0",
                      "Parameter ANC.Gmin_db set by user to -18"},
                     usage()));
    EXPECT_TRUE(run.records.empty()) << run.transcript();
}

TEST_F(BenchmarkOptions, ValuesThatDoNotConvertEndTheRunWithOneMessage) {
    const std::string integerNeeded = " needs a decimal integer in the signed 32-bit range, got ";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"--AEC.enabled=true",
         "ERROR: Value \"true\" cannot be converted to the type of parameter AEC.enabled."},
        {"--Nmics=1.5", "ERROR: Value \"1.5\" cannot be converted to the type of parameter Nmics."},
        {"--ANC.Gmin_db=-18dB",
         "ERROR: Value \"-18dB\" cannot be converted to the type of parameter ANC.Gmin_db."},
        {"--client_volume_level=loud",
         "ERROR: Option client_volume_level" + integerNeeded + "\"loud\"."},
        {"--client_volume_level=2147483648",
         "ERROR: Option client_volume_level" + integerNeeded + "\"2147483648\"."},
        {"--no_farend=-", "ERROR: Option no_farend" + integerNeeded + "\"-\"."},
    };
    for (const auto& [argument, message] : cases) {
        // The walk stops at the bad option: the help after it is not reached.
        const BenchmarkRun run = runBenchmark({argument, "--help"});
        EXPECT_EQ(run.status, 1) << argument;
        EXPECT_EQ(run.plainLines, Lines({message})) << argument;
    }

    // Text the option parser itself refuses.
    const BenchmarkRun run = runBenchmark({"--Nmics=", "--help"});
    EXPECT_EQ(run.status, 1);
    ASSERT_EQ(run.plainLines.size(), 1u) << run.transcript();
    EXPECT_EQ(run.plainLines[0].rfind("ERROR: Invalid command line: ", 0), 0u);
    EXPECT_NE(run.plainLines[0].find("Nmics"), std::string::npos);
}

TEST_F(BenchmarkOptions, IntegerOptionsReadLeadingDigitsLikeStrtol) {
    // Leading blanks and a sign are allowed; reading stops at the first
    // non-digit. Every no_farend option prints its line, zero or not.
    const BenchmarkRun run = runBenchmark({"--client_volume_level= -5", "--client_volume_level=7dB",
                                           "--no_farend=0", "--no_farend=+1x", "--help"});
    EXPECT_EQ(run.status, 0) << run.transcript();
    EXPECT_EQ(run.plainLines, concat({"Input assumed to contain no farend channel",
                                      "Input assumed to contain no farend channel"},
                                     usage()));
}

TEST_F(BenchmarkOptions, SettingsFileIsRequiredAndMustParse) {
    const std::string path = ConfigDirectory::path("benchmark.cfg");
    config.remove("benchmark.cfg");
    BenchmarkRun run = runBenchmark({"--help"});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.plainLines.empty()) << run.transcript();
    EXPECT_EQ(run.log(), Lines({"FATAL I/O error while reading file " + path}));

    // libconfig would end the process reading an included directory.
    config.write("benchmark.cfg", "@include \"" + ConfigDirectory::path("") + "\"\n");
    run = runBenchmark({"--help"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.log(), Lines({"FATAL I/O error while reading file " + path}));

    config.write("benchmark.cfg", "# settings\n\ninput_wavefile = ;\n");
    run = runBenchmark({"--help"});
    EXPECT_EQ(run.status, 1);
    // Path and "at line" stand without a blank between them.
    EXPECT_EQ(run.log(), Lines({"FATAL Parse error in " + path + "at line 3 - syntax error"}));
}

TEST_F(BenchmarkOptions, WithoutAnInputPathTheRunEnds) {
    const Lines fatal = {"FATAL Parameter input_wavefile not specified. Exit."};
    // The test settings file names no input; an input option without value
    // is skipped.
    for (const Lines& arguments : {Lines{}, Lines{"--input"}}) {
        const BenchmarkRun run = runBenchmark(arguments);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.log(), fatal) << run.transcript();
    }
    // A setting of another type than string names no input either.
    config.write("benchmark.cfg", "input_wavefile = 5;\n");
    const BenchmarkRun run = runBenchmark({});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.log(), fatal) << run.transcript();
}

TEST_F(BenchmarkOptions, MissingDeviceFilesAreReportedAndTheRunGoesOn) {
    config.remove("Lyrane.cfg");
    config.remove("Lyrane_custom.cfg");
    const std::string input = scratch.file("rec.wav");
    writeWav(input, {std::vector<short>(512, 100), std::vector<short>(512, 0)}, 16000);

    const BenchmarkRun run = runBenchmark({"--input=" + input});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(
        run.log("ZIZO.ConfigImport_LIBCONFIG"),
        Lines({"ERROR I/O error while reading file " + ConfigDirectory::path("Lyrane.cfg") + ".",
               "ERROR I/O error while reading file " + ConfigDirectory::path("Lyrane_custom.cfg") +
                   "."}));
    // The run reaches the core, which has no microphone count to start with.
    ASSERT_FALSE(run.log().empty()) << run.transcript();
    EXPECT_EQ(run.log().back(),
              "FATAL Could not create Lyrane: Lyrane: parameter Nmics (int) is missing from the "
              "configuration");
    EXPECT_FALSE(fileExists(scratch.file("rec_out.wav")));
}

}  // namespace
