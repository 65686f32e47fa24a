// LyraneBenchmark run as a program over WAV recordings: the report, the
// split into microphones and far-end, the annotations, the output file and
// the failures of the run stage. The stand-in core's output is the mean of
// the microphone rows over whole 16 ms frames (silence after the last one),
// so every expected output sample below is that mean, computed here on the
// 16-bit sample values; the values are chosen so that the mean is an exact
// 16-bit value and the WAV round trip is lossless.
#include <TempDir.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "BenchmarkHarness.h"
#include "Regex.h"

namespace {

using Lines = std::vector<std::string>;

bool contains(const Lines& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

Lines matchLines(const BenchmarkRun& run) {
    Lines matches;
    for (const std::string& line : run.plainLines) {
        if (line.rfind("match: ", 0) == 0)
            matches.push_back(line);
    }
    return matches;
}

std::vector<short> ramp(size_t length, int period, int step) {
    std::vector<short> samples(length);
    for (size_t n = 0; n < length; ++n) {
        samples[n] = static_cast<short>(step * (static_cast<int>(n % period) - period / 2));
    }
    return samples;
}

class BenchmarkRunTest : public ::testing::Test {
  protected:
    ConfigDirectory config;
    TempDir scratch;
};

TEST_F(BenchmarkRunTest, TwoChannelRecordingIsReportedAndItsMicrophoneWritten) {
    // 10 s at 16 kHz: 625 frames of 256 samples, no remainder.
    const size_t frames = 160000;
    const std::vector<short> mic = ramp(frames, 2000, 3);
    const std::string input = scratch.file("rec_2ch.wav");
    writeWav(input, {mic, std::vector<short>(frames, 20000)}, 16000, "f 100 v 5 a 2 f 200 v 7 x 3");

    const BenchmarkRun run = runBenchmark({"--input=" + input});
    ASSERT_EQ(run.status, 0) << run.transcript();
    EXPECT_EQ(run.plainLines, Lines({"match: f 100", "match: v 5", "match: a 2", "match: f 200",
                                     "match: v 7", "match: x 3"}));
    const Lines log = run.log();
    ASSERT_EQ(log.size(), 14u) << run.transcript();
    const Lines head = {"INFO Input file: " + input, "INFO Fs = 16000Hz", "INFO channels = 1",
                        "INFO samples = 160000 per channel", "INFO duration = 10s",
                        "INFO frame size = 0.016 seconds",
                        // 10 x 62.499996f is 624.99994 in single precision, truncated.
                        "INFO Using 624 frames for simulation",
                        "INFO Lyrane initialized with fs 16000"};
    EXPECT_EQ(Lines(log.begin(), log.begin() + 8), head);
    std::smatch time;
    std::smatch load;
    ASSERT_TRUE(std::regex_match(log[8], time, std::regex(R"(INFO CPU time = (\S+) seconds\.)")))
        << log[8];
    ASSERT_TRUE(std::regex_match(log[9], load, std::regex(R"(INFO CPU load = (\S+)%\.)")))
        << log[9];
    // Load in percent of 10 s of audio is ten times the time in seconds.
    EXPECT_NEAR(std::stod(load[1]), 10.0 * std::stod(time[1]), 1e-3 + 1e-4 * std::stod(load[1]));
    const Lines tail = {"INFO executed 625 Lyrane frames", "INFO executed 625 DOA[0] frames",
                        "INFO Written file: " + scratch.file("rec_2ch_out.wav"),
                        "INFO benchmark completed"};
    EXPECT_EQ(Lines(log.begin() + 10, log.end()), tail);
    // The chain the core pulls the far-end from is registered under the
    // acoustic chain's name before the run.
    EXPECT_TRUE(contains(run.log("ZIZO.External_Module_Registry"),
                         "INFO Registered LADSPA_PLAYBACKPROCESSING_ACOUSTIC."))
        << run.transcript();

    const WavContent output = readWav(scratch.file("rec_2ch_out.wav"));
    EXPECT_EQ(output.info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    EXPECT_EQ(output.info.channels, 1);
    EXPECT_EQ(output.info.samplerate, 16000);
    EXPECT_EQ(output.info.frames, 160000);
    EXPECT_EQ(output.samples, mic);
}

TEST_F(BenchmarkRunTest, ChannelsSplitIntoMicrophonesAndFarEnd) {
    // 8 kHz: frames of 128 samples; 16050 samples are 125 whole frames and
    // 50 samples after them, which stay silent.
    const size_t frames = 16050;
    const size_t executed = 125 * 128;
    const std::vector<short> c0 = ramp(frames, 100, 6);
    const std::vector<short> c1 = ramp(frames, 37, -6);
    const std::vector<short> c2 = ramp(frames, 11, 3000);
    const std::string input = scratch.file("rec_3ch.wav");
    writeWav(input, {c0, c1, c2}, 8000);

    // Default: the last channel is the far-end; the mean covers c0 and c1.
    BenchmarkRun run = runBenchmark({"--input=" + input, "--Nmics=2"});
    ASSERT_EQ(run.status, 0) << run.transcript();
    EXPECT_TRUE(contains(run.log(), "INFO channels = 2"));
    EXPECT_TRUE(contains(run.log(), "INFO executed 125 Lyrane frames"));
    WavContent output = readWav(scratch.file("rec_3ch_out.wav"));
    ASSERT_EQ(output.samples.size(), frames);
    for (size_t n = 0; n < frames; ++n) {
        const short expected = n < executed ? static_cast<short>((c0[n] + c1[n]) / 2) : 0;
        ASSERT_EQ(output.samples[n], expected) << "sample " << n;
    }

    // With the flag all three channels are microphones; a later zero does
    // not clear it, and each no_farend option prints its line.
    run = runBenchmark({"--input=" + input, "--Nmics=3", "--no_farend=1", "--no_farend=0"});
    ASSERT_EQ(run.status, 0) << run.transcript();
    EXPECT_EQ(run.plainLines, Lines({"Parameter Nmics set by user to 3",
                                     "Input assumed to contain no farend channel",
                                     "Input assumed to contain no farend channel"}));
    EXPECT_TRUE(contains(run.log(), "INFO channels = 3"));
    output = readWav(scratch.file("rec_3ch_out.wav"));
    ASSERT_EQ(output.samples.size(), frames);
    for (size_t n = 0; n < frames; ++n) {
        const short expected = n < executed ? static_cast<short>((c0[n] + c1[n] + c2[n]) / 3) : 0;
        ASSERT_EQ(output.samples[n], expected) << "sample " << n;
    }
}

TEST_F(BenchmarkRunTest, ChannelCountsTheCoreCannotTakeEndTheRun) {
    const std::string mono = scratch.file("mono.wav");
    writeWav(mono, {ramp(1024, 64, 10)}, 16000, "f 1 v 2");
    // One channel is the far-end alone: refused before the annotations are read.
    BenchmarkRun run = runBenchmark({"--input=" + mono});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.plainLines.empty()) << run.transcript();
    EXPECT_EQ(run.log(), Lines({"FATAL Input must contain at least one microphone channel."}));
    EXPECT_FALSE(fileExists(scratch.file("mono_out.wav")));
    // Declared as microphone only, it runs.
    EXPECT_EQ(runBenchmark({"--input=" + mono, "--no_farend=1"}).status, 0);

    const std::string three = scratch.file("three.wav");
    writeWav(three, {ramp(1024, 64, 10), ramp(1024, 32, 10), ramp(1024, 16, 10)}, 16000);
    run = runBenchmark({"--input=" + three});
    EXPECT_EQ(run.status, 1);
    ASSERT_FALSE(run.log().empty());
    EXPECT_EQ(run.log().back(),
              "FATAL Input file has 2 channels, but Lyrane initialized with 1 channels");
    EXPECT_FALSE(fileExists(scratch.file("three_out.wav")));

    // The custom file's value replaces the base file's.
    config.write("Lyrane_custom.cfg", "Nmics = 2;\n");
    run = runBenchmark({"--input=" + three});
    EXPECT_EQ(run.status, 0) << run.transcript();
    EXPECT_TRUE(fileExists(scratch.file("three_out.wav")));
}

TEST_F(BenchmarkRunTest, OutputPathFollowsTheInputOrTheOutputDirectory) {
    std::filesystem::create_directories(scratch.file("in"));
    std::filesystem::create_directories(scratch.file("out"));
    const std::string input = scratch.file("in/rec.wav");
    writeWav(input, {ramp(512, 8, 2), ramp(512, 4, 2)}, 16000);

    // Given without a trailing slash, with one, or not at all.
    const std::vector<std::pair<Lines, std::string>> cases = {
        {{"--input=" + input}, scratch.file("in/rec_out.wav")},
        {{"--input=" + input, "--output_dir=" + scratch.file("out")},
         scratch.file("out/rec_out.wav")},
        {{"--input=" + input, "--output_dir=" + scratch.path() + "/"}, scratch.file("rec_out.wav")},
        // The later input option wins.
        {{"--input=" + scratch.file("missing.wav"), "--input=" + input,
          "--output_dir=" + scratch.file("out/")},
         scratch.file("out/rec_out.wav")},
    };
    for (const auto& [arguments, expected] : cases) {
        std::filesystem::remove(expected);
        const BenchmarkRun run = runBenchmark(arguments);
        EXPECT_EQ(run.status, 0) << run.transcript();
        EXPECT_TRUE(contains(run.log(), "INFO Written file: " + expected)) << run.transcript();
        EXPECT_EQ(readWav(expected).info.frames, 512) << expected;
    }

    // A relative input from the settings file: output in the current directory.
    config.write("benchmark.cfg", "input_wavefile = \"rec.wav\";\n");
    BenchmarkRun run = runBenchmark({}, scratch.file("in"));
    EXPECT_EQ(run.status, 0) << run.transcript();
    EXPECT_TRUE(contains(run.log(), "INFO Input file: rec.wav"));
    EXPECT_TRUE(contains(run.log(), "INFO Written file: rec_out.wav"));

    // A name of exactly four characters gets "_out" in front.
    writeWav(scratch.file(".wav"), {ramp(512, 8, 2), ramp(512, 4, 2)}, 16000);
    run = runBenchmark({"--input=" + scratch.file(".wav")});
    EXPECT_EQ(run.status, 0) << run.transcript();
    EXPECT_TRUE(fileExists(scratch.file("_out.wav")));
}

TEST_F(BenchmarkRunTest, BadPathsEndTheRunAndNeverReplaceTheInput) {
    const std::string missing = scratch.file("missing.wav");
    BenchmarkRun run = runBenchmark({"--input=" + missing});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.log(), Lines({"FATAL Failed to open the WAV file " + missing}));

    const std::string text = scratch.write("notes.wav", "not audio\n");
    run = runBenchmark({"--input=" + text});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.log(), Lines({"FATAL Failed to open the WAV file " + text}));

    // Fewer than four characters leave no place for "_out".
    run = runBenchmark({"--input=" + scratch.file("a.w")});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.log(), Lines({"FATAL Input file name \"a.w\" of " + scratch.file("a.w") +
                                " is shorter than four characters; cannot derive the output "
                                "file name."}));

    // The output is opened only after the core has run.
    const std::string input = scratch.file("rec.wav");
    writeWav(input, {ramp(512, 8, 2), ramp(512, 4, 2)}, 16000);
    run = runBenchmark({"--input=" + input, "--output_dir=" + scratch.file("absent")});
    EXPECT_EQ(run.status, 1);
    ASSERT_GE(run.log().size(), 2u);
    EXPECT_EQ(run.log()[run.log().size() - 2], "INFO executed 2 DOA[0] frames");
    EXPECT_EQ(run.log().back(), "FATAL Failed to open the WAV file.");

    // An output name that is a link to the input would overwrite the recording.
    const std::string before = readText(input);
    std::filesystem::create_symlink(input, scratch.file("rec_out.wav"));
    run = runBenchmark({"--input=" + input});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.log(), Lines({"FATAL Output file " + scratch.file("rec_out.wav") +
                                " is the input file; not overwriting it."}));
    EXPECT_EQ(readText(input), before);
}

TEST_F(BenchmarkRunTest, AnnotationsAreOneLowerCaseLetterABlankAndDigits) {
    // "V 5" and "v5" are no tokens, "ab 12" holds "b 12", "v  3" has two
    // blanks; a number beyond 32 bits is shown and then ignored.
    const std::string input = scratch.file("notes_2ch.wav");
    writeWav(input, {ramp(512, 8, 2), ramp(512, 4, 2)}, 16000,
             "V 5 v5 ab 12 v  3 x 3 f 4294967296 v 1");
    const BenchmarkRun run = runBenchmark({"--input=" + input});
    EXPECT_EQ(run.status, 0) << run.transcript();
    EXPECT_EQ(matchLines(run),
              Lines({"match: b 12", "match: x 3", "match: f 4294967296", "match: v 1"}));
    EXPECT_TRUE(contains(run.log(), "WARN Annotation f 4294967296 ignored: number out of range"));

    // A recording without comment prints no match.
    writeWav(input, {ramp(512, 8, 2), ramp(512, 4, 2)}, 16000);
    EXPECT_TRUE(matchLines(runBenchmark({"--input=" + input})).empty());
}

TEST_F(BenchmarkRunTest, AnnotationOfFiftyThousandDigitsIsScannedLikeAShortOne) {
    // A FLAC comment reaches the program whole, however long. The long
    // token is shown and, being beyond 32 bits, ignored; the tokens around
    // it act as usual.
    const std::string digits(50000, '7');
    const std::string input = scratch.file("long.flac");
    writeWav(input, {ramp(512, 8, 2), ramp(512, 4, 2)}, 16000, "f 3 v " + digits + " a 9 v 1",
             SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
    const BenchmarkRun run = runBenchmark({"--input=" + input});
    ASSERT_EQ(run.status, 0) << run.stderrText.substr(0, 2000);
    EXPECT_EQ(matchLines(run),
              Lines({"match: f 3", "match: v " + digits, "match: a 9", "match: v 1"}));
    EXPECT_TRUE(
        contains(run.log(), "WARN Annotation v " + digits + " ignored: number out of range"));
}

TEST_F(BenchmarkRunTest, FailedWriteLeavesNoOutputFile) {
    // 16000 samples of 16 bits need 32 kB; the file size limit stops the
    // write after 8 kB, with the header already written.
    const std::string input = scratch.file("big.wav");
    writeWav(input, {ramp(16000, 8, 2), ramp(16000, 4, 2)}, 16000);
    BenchmarkRun run;
    {
        const FileSizeLimit limit(8192);
        run = runBenchmark({"--input=" + input});
    }
    EXPECT_EQ(run.status, 1) << run.transcript();
    ASSERT_FALSE(run.log().empty()) << run.transcript();
    EXPECT_EQ(run.log().back().rfind(
                  "FATAL Failed to write the WAV file " + scratch.file("big_out.wav") + ": ", 0),
              0u)
        << run.log().back();
    EXPECT_FALSE(fileExists(scratch.file("big_out.wav")));
}

TEST_F(BenchmarkRunTest, SamplesBeyondFullScaleSaturateInTheOutput) {
    // A float recording may exceed full scale; 16-bit output clips rather
    // than wrapping around. 512 samples are two whole frames.
    std::vector<float> mic(512, 0.25f);
    mic[0] = 1.5f;
    mic[1] = -1.5f;
    const std::string input = scratch.file("loud.wav");
    writeFloatWav(input, {mic}, 16000);
    const BenchmarkRun run = runBenchmark({"--input=" + input, "--no_farend=1"});
    ASSERT_EQ(run.status, 0) << run.transcript();
    const WavContent output = readWav(scratch.file("loud_out.wav"));
    ASSERT_EQ(output.samples.size(), 512u);
    EXPECT_EQ(output.samples[0], 32767);
    EXPECT_EQ(output.samples[1], -32768);
    EXPECT_EQ(output.samples[2], 8192);  // 0.25 x 32768
}

}  // namespace
