// The level trace against the chain itself: a speech-like recording, quiet
// then loud, through LyraneTuning trace and through the chain's C interface
// set up as the plug-in sets it up.
#include <gtest/gtest.h>
#include <log4cxx/logger.h>
#include <sndfile.h>

#include <cmath>
#include <string>
#include <vector>

#include "CsvTable.h"
#include "LogCapture.h"
#include "ProgramRun.h"
#include "SpeechLikeSignal.h"
#include "TempDir.h"
#include "playbackprocessing_cwrapper.h"

namespace {

const unsigned int kFs = 16000;
const float kVolumeDb = -2.0f;
const float kMaxAmp = 0.9f;
const char* const kReducedText = "max_gain_db was reduced to ";

// 1.5 s of a quiet talker, then 2.5 s of a loud one whose peaks drive the
// high-passed input near full scale, so the maximum gain comes down.
std::vector<float> quietThenLoud() {
    const Eigen::ArrayXf quiet = speechLike(kFs * 3 / 2, kFs, 0.02f);
    const Eigen::ArrayXf loud = speechLike(kFs * 5 / 2, kFs, 0.9f);
    std::vector<float> x(quiet.data(), quiet.data() + quiet.size());
    x.insert(x.end(), loud.data(), loud.data() + loud.size());
    return x;
}

// Float samples, so the file holds exactly what the chain is given.
std::string writeWav(const TempDir& dir, const std::vector<float>& x) {
    const std::string path = dir.file("speech.wav");
    SF_INFO info{};
    info.samplerate = kFs;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    EXPECT_NE(file, nullptr);
    sf_writef_float(file, x.data(), static_cast<sf_count_t>(x.size()));
    sf_close(file);
    return path;
}

std::string coefficientFile() {
    return std::string(LYRANE_TEST_CONFIG_DIR) + "/equalizer_coefficients.cfg";
}

std::string profileText(bool equalizer) {
    return "equalizer_coefficients_file = \"" + coefficientFile() + "\";\n" +
           "equalizer_enabled = " + (equalizer ? "true" : "false") + ";\n" +
           "agc_enabled = true;\n"
           "agc_target_level_db = -12.0;\n"
           "agc_max_gain_db = 18.0;\n"
           "agc_decrease_max_gain = true;\n"
           "agc_max_amp = 0.9;\n"
           "agc_nonspeech_hold_gain_time = 1.0;\n"
           "agc_nonspeech_release_speed = 3.0;\n"
           "volume_db = -2.0;\n";
}

// The plug-in's set-up of the profile above, in its order: coefficient file,
// target, maximum gain, maximum amplitude, hold, release, volume, AGC switch,
// decrease switch, equalizer switch.
PlaybackProcessingData* chainLikeThePlugin(unsigned int Nblock, bool equalizer) {
    PlaybackProcessingData* chain = PlaybackProcessing_Init("TUNING_TEST", Nblock, kFs);
    PlaybackProcessing_setEqualizerFilename(chain, coefficientFile().c_str());
    PlaybackProcessing_setAGCTargetLevelDb(chain, -12.0f);
    PlaybackProcessing_setAGCMaxGainDb(chain, 18.0f);
    PlaybackProcessing_setAGCMaxAmp(chain, kMaxAmp);
    PlaybackProcessing_setAGCNonspeechHoldGainTime(chain, 1.0f);
    PlaybackProcessing_setAGCNonspeechReleaseSpeed(chain, 3.0f);
    PlaybackProcessing_setOutputGainDb(chain, kVolumeDb);
    PlaybackProcessing_setAGCEnabled(chain, 1);
    PlaybackProcessing_setAGCDecreaseMaxGain(chain, 1);
    PlaybackProcessing_setEqualizerEnabled(chain, equalizer ? 1 : 0);
    return chain;
}

struct ChainReduction {
    std::size_t sample;  // last sample of the block during which it was logged
    double toDb;
};

struct ChainRun {
    std::vector<float> output;
    std::vector<ChainReduction> reductions;
};

// Runs the chain block by block and notes the sample at which each reduction
// record appears.
ChainRun runChain(const std::vector<float>& x, unsigned int Nblock, bool equalizer) {
    LogCapture capture;
    PlaybackProcessingData* chain = chainLikeThePlugin(Nblock, equalizer);
    // Only the reduction records matter from here; the duck notices would
    // only fill the capture.
    log4cxx::Logger::getLogger("ZIZO.Agc")->setLevel(log4cxx::Level::getInfo());
    capture.clear();
    ChainRun run;
    run.output.resize(x.size());
    for (std::size_t first = 0; first + Nblock <= x.size(); first += Nblock) {
        PlaybackProcessing_Process(chain, &x[first], &run.output[first]);
        const std::vector<LogRecord> records = capture.records("ZIZO.Agc", "INFO");
        if (records.size() > run.reductions.size()) {
            const std::string& text = records.back().message;
            const std::size_t at = text.find(kReducedText);
            EXPECT_NE(at, std::string::npos) << text;
            run.reductions.push_back(
                {first + Nblock - 1,
                 std::stod(text.substr(at + std::string(kReducedText).size()))});
        }
    }
    PlaybackProcessing_Uninit(chain);
    log4cxx::Logger::getLogger("ZIZO.Agc")->setLevel(nullptr);
    return run;
}

double dbfs(double amplitude) {
    const double level = 20.0 * std::log10(std::fabs(amplitude));
    return level < -120.0 ? -120.0 : level;
}

class TraceTest : public ::testing::Test {
  protected:
    // Runs LyraneTuning trace with one row per block; returns the prefix.
    std::string trace(unsigned int block, bool equalizer) {
        const std::string prefix =
            dir.file(equalizer ? "with_eq" : "without_eq") + std::to_string(block);
        const std::string profile = dir.write("profile.cfg", profileText(equalizer));
        const ProgramRun run =
            ProgramRun::run(LYRANE_TUNING_PROGRAM,
                            {"trace", "--block", std::to_string(block), "--interval",
                             std::to_string(block), "--output", prefix, wav, profile},
                            dir.path());
        EXPECT_EQ(run.status, 0) << run.err;
        return prefix;
    }

    TempDir dir;
    std::vector<float> x = quietThenLoud();
    std::string wav = writeWav(dir, x);
};

}  // namespace

TEST_F(TraceTest, OutputLevelIsInputLevelPlusGainPlusOutputGainOnSpeech) {
    // Without the equalizer the AGC's input is the recording; with it, the
    // trace's AGC-input column is the equalizer's output.
    for (bool equalizer : {false, true}) {
        SCOPED_TRACE(equalizer ? "with equalizer" : "without equalizer");
        const CsvTable rows = CsvTable::read(trace(1, equalizer) + ".trace.csv");
        ASSERT_EQ(rows.rows.size(), x.size());
        const std::string agcInput = equalizer ? "agc_input_peak_dbfs" : "input_peak_dbfs";
        std::size_t checked = 0, equalized = 0;
        for (std::size_t i = 0; i < rows.rows.size(); ++i) {
            EXPECT_NEAR(rows.number(i, "input_peak_dbfs"), dbfs(x[i]), 1e-6);
            equalized += std::fabs(rows.number(i, "agc_input_peak_dbfs") - dbfs(x[i])) > 1.0;
            const double out = rows.number(i, "output_peak_dbfs");
            const double in = rows.number(i, agcInput);
            // Clipped samples and the silence floor do not follow the gain.
            const bool clipped = out > dbfs(kMaxAmp) + kVolumeDb - 0.01;
            if (rows.text(i, "speech") != "1" || clipped || in < -90.0)
                continue;
            ASSERT_NEAR(out, in + rows.number(i, "applied_gain_db") + kVolumeDb, 1e-4)
                << "sample " << i;
            ++checked;
        }
        EXPECT_GT(checked, x.size() / 2);
        EXPECT_EQ(equalized > x.size() / 2, equalizer);
    }
}

TEST_F(TraceTest, TraceOutputIsTheChainsOutputSampleForSample) {
    const CsvTable rows = CsvTable::read(trace(1, true) + ".trace.csv");
    const ChainRun chain = runChain(x, 1, true);
    ASSERT_EQ(rows.rows.size(), x.size());
    for (std::size_t i = 0; i < x.size(); ++i) {
        ASSERT_NEAR(rows.number(i, "output_peak_dbfs"), dbfs(chain.output[i]), 1e-6)
            << "sample " << i;
    }
}

TEST_F(TraceTest, EachReductionAppearsAtTheSampleOfTheChainsRecord) {
    for (unsigned int block : {1u, 160u}) {
        SCOPED_TRACE("block of " + std::to_string(block));
        const std::string prefix = trace(block, true);
        const CsvTable reductions = CsvTable::read(prefix + ".reductions.csv");
        const CsvTable rows = CsvTable::read(prefix + ".trace.csv");
        const ChainRun chain = runChain(x, block, true);
        ASSERT_GE(chain.reductions.size(), 2u);
        ASSERT_EQ(reductions.rows.size(), chain.reductions.size());
        for (std::size_t k = 0; k < chain.reductions.size(); ++k) {
            const std::size_t sample = chain.reductions[k].sample;
            EXPECT_EQ(reductions.text(k, "sample"), std::to_string(sample));
            EXPECT_DOUBLE_EQ(reductions.number(k, "to_db"), chain.reductions[k].toDb);
            // One row per block: the row of that block shows the new maximum,
            // the row before it the old one.
            const std::size_t row = sample / block;
            EXPECT_DOUBLE_EQ(rows.number(row, "max_gain_db"), chain.reductions[k].toDb);
            EXPECT_DOUBLE_EQ(rows.number(row - 1, "max_gain_db"), reductions.number(k, "from_db"));
        }
    }
}
