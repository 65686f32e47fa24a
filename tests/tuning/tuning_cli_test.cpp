// Bad input to LyraneTuning: one line on standard error naming the file at
// fault, status 1, nothing written.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "ProgramRun.h"
#include "TempDir.h"

namespace {

struct BadInput {
    const char* what;
    std::vector<std::string> arguments;
    std::vector<std::string> expected;  // each must appear in the message
};

std::string shipped() {
    return std::string(LYRANE_TEST_CONFIG_DIR) + "/equalizer_coefficients.cfg";
}

std::string writeSilence(const TempDir& dir, const std::string& name, int rate) {
    const std::string path = dir.file(name);
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    const std::vector<short> silence(1000, 0);
    sf_write_short(file, silence.data(), static_cast<sf_count_t>(silence.size()));
    sf_close(file);
    return path;
}

bool exists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

void expectRefused(const TempDir& dir, const BadInput& bad) {
    SCOPED_TRACE(bad.what);
    const std::string prefix = dir.file("out");
    std::vector<std::string> arguments = bad.arguments;
    arguments.insert(arguments.begin() + 1, {"--output", prefix});
    const ProgramRun run = ProgramRun::run(LYRANE_TUNING_PROGRAM, arguments, dir.path());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.rfind("LyraneTuning: ", 0), 0u) << run.err;
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << "not one line: " << run.err;
    for (const std::string& text : bad.expected) {
        EXPECT_NE(run.err.find(text), std::string::npos) << "'" << text << "' not in " << run.err;
    }
    for (const char* suffix : {".response.csv", ".sections.csv", ".trace.csv", ".reductions.csv"}) {
        EXPECT_FALSE(exists(prefix + suffix)) << suffix;
    }
}

}  // namespace

TEST(TuningCli, BadCoefficientFilesAreNamedWithTheirFault) {
    TempDir dir;
    const std::string missing = dir.file("missing.cfg");
    const std::string garbled = dir.write("garbled.cfg", "fs = 16000;\nb0 = [ 1.0, ;\n");
    const std::string uneven =
        dir.write("uneven.cfg",
                  "fs = 16000; b0 = [1.0, 1.0]; b1 = [0.0, 0.0]; b2 = [0.0, 0.0];\n"
                  "a1 = [0.0, 0.0]; a2 = [0.0];\n");
    const std::string noA2 =
        dir.write("no_a2.cfg", "fs = 16000; b0 = [1.0]; b1 = [0.0]; b2 = [0.0]; a1 = [0.0];\n");
    const std::string empty = dir.write("empty.cfg", "gain = 1.0;\n");
    const std::string includesDirectory =
        dir.write("includes_directory.cfg", "fs = 16000;\n@include \"" + dir.path() + "\"\n");
    const BadInput cases[] = {
        {"missing file", {"response", missing}, {missing, "No such file or directory"}},
        {"syntax error", {"response", garbled}, {garbled, "parse error at line 2"}},
        {"rate missing from a version 2 file",
         {"response", "--rate", "22050", shipped()},
         {shipped(), "No data found for sampling rate 22050"}},
        {"vectors of unequal length", {"response", uneven}, {uneven, "inconsistent"}},
        {"vector missing", {"response", noA2}, {noA2, "'a2'"}},
        {"no filter set", {"response", empty}, {empty, "holds no filter set"}},
        {"a directory", {"response", dir.path()}, {dir.path(), "not a regular file"}},
        {"including a directory",
         {"response", includesDirectory},
         {includesDirectory, "includes a file that is not a regular readable file"}},
        {"rate not a number", {"response", "--rate", "16k", shipped()}, {"--rate", "16k"}},
    };
    for (const BadInput& bad : cases) {
        expectRefused(dir, bad);
    }
}

TEST(TuningCli, BadRecordingsAndProfilesAreNamedWithTheirFault) {
    TempDir dir;
    const std::string wav = writeSilence(dir, "speech.wav", 16000);
    const std::string wav8k = writeSilence(dir, "speech8k.wav", 8000);
    const std::string notWav = dir.write("text.wav", "this is no sound file\n");
    const std::string missingWav = dir.file("missing.wav");
    const std::string good = dir.write(
        "good.cfg", "equalizer_coefficients_file = \"" + shipped() + "\";\nvolume_db = 0.0;\n");
    const std::string missingProfile = dir.file("missing_profile.cfg");
    const std::string garbled = dir.write("garbled.cfg", "volume_db = = 0.0;\n");
    const std::string missingCoefficients = dir.file("missing_coefficients.cfg");
    const std::string badReference = dir.write(
        "bad_reference.cfg", "equalizer_coefficients_file = \"" + missingCoefficients + "\";\n");
    // libconfig would end the program reading the directory.
    const std::string includesDirectory =
        dir.write("includes_directory.cfg", "volume_db = 0.0;\n@include \"" + dir.path() + "\"\n");
    const BadInput cases[] = {
        {"missing recording",
         {"trace", missingWav, good},
         {missingWav, "No such file or directory"}},
        {"not a sound file", {"trace", notWav, good}, {notWav}},
        {"no such channel", {"trace", "--channel", "2", wav, good}, {wav, "no channel 2"}},
        {"missing profile",
         {"trace", wav, missingProfile},
         {missingProfile, "No such file or directory"}},
        {"profile syntax error", {"trace", wav, garbled}, {garbled, "parse error at line 1"}},
        {"profile a directory", {"trace", wav, dir.path()}, {dir.path(), "not a regular file"}},
        {"profile including a directory",
         {"trace", wav, includesDirectory},
         {includesDirectory, "includes a file that is not a regular readable file"}},
        {"coefficient file of the profile missing",
         {"trace", wav, badReference},
         {badReference, missingCoefficients}},
        {"recording's rate missing from the coefficient file",
         {"trace", wav8k, good},
         {good, shipped(), "No data found for sampling rate 8000"}},
        {"block of no samples", {"trace", "--block", "0", wav, good}, {"--block"}},
    };
    for (const BadInput& bad : cases) {
        expectRefused(dir, bad);
    }
}

TEST(TuningCli, UsageErrorsGiveTheUsageAndStatusOne) {
    TempDir dir;
    for (const std::vector<std::string>& arguments :
         std::vector<std::vector<std::string>>{{}, {"plot"}, {"trace", "only_one.wav"}}) {
        const ProgramRun run = ProgramRun::run(LYRANE_TUNING_PROGRAM, arguments, dir.path());
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find("LyraneTuning"), std::string::npos) << run.err;
    }
}
