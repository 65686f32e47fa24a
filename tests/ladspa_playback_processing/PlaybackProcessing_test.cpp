#include "PlaybackProcessing.h"

#include <gtest/gtest.h>

#include <Eigen/Core>
#include <ZIZO_Config>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "ExternalModuleRegistry.h"
#include "HeapCounter.h"
#include "LogCapture.h"
#include "SpeechLikeSignal.h"
#include "TempDir.h"
#include "ZIZO_agc.h"
#include "ZIZO_equalizer.h"
#include "ZIZO_sad.h"
#include "playbackprocessing_cwrapper.h"

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

namespace {

const std::string kCoefficientFile =
    std::string(LYRANE_TEST_CONFIG_DIR) + "/equalizer_coefficients.cfg";

// Value of stream sample k (from 0): distinct, exact in float, never 0.0 (the
// value a consumer receives while the FIFO is short).
float streamValue(std::size_t k) {
    return float(k + 1);
}

Eigen::ArrayXf streamBlock(std::size_t first, unsigned int Nblock) {
    Eigen::ArrayXf block(Nblock);
    for (unsigned int i = 0; i < Nblock; ++i)
        block[i] = streamValue(first + i);
    return block;
}

ZIZO_Config fullChainConfig() {
    ZIZO_Config config;
    config.set<bool>("AGC.enabled", true);
    config.set<bool>("AGC.decrease_max_gain", true);
    config.set<bool>("EQUALIZER.enabled", true);
    config.set<std::string>("EQUALIZER.coeff_file", kCoefficientFile);
    return config;
}

std::size_t indexOf(const std::vector<std::string>& messages, const std::string& text) {
    return std::find(messages.begin(), messages.end(), text) - messages.begin();
}

// fullChainConfig through the C interface, at unit output gain.
void configureFullChain(PlaybackProcessingData* handle) {
    PlaybackProcessing_setEqualizerFilename(handle, kCoefficientFile.c_str());
    PlaybackProcessing_setEqualizerEnabled(handle, 1);
    PlaybackProcessing_setAGCEnabled(handle, 1);
    PlaybackProcessing_setAGCDecreaseMaxGain(handle, 1);
    PlaybackProcessing_setOutputGainDb(handle, 0.0f);
}

}  // namespace

TEST(PlaybackProcessing, BuildsAgcEqualizerDetectorInOrderFromTheirGroups) {
    ZIZO_Config config = fullChainConfig();
    // Detector settings, under any prefix, never reach the detector.
    config.set<bool>("enabled", false);
    config.set<bool>("SAD.enabled", false);
    config.set<float>("SAD.thresh_open_db", 100.0f);
    LogCapture log;
    {
        PlaybackProcessing chain("P", 160, 16000, config);
        EXPECT_TRUE(chain.isAgcEnabled());
        EXPECT_TRUE(chain.isEqualizerEnabled());
        EXPECT_EQ(chain.getAgcMaxGainDb(), 35.0f);  // the AGC's default
    }
    const auto messages = log.messages();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.front(), "Creating instance of PlaybackProcessing (P).");
    const std::size_t agc = indexOf(messages, "AGC P_AGC enabled.");
    const std::size_t equalizer = indexOf(messages, "Equalizer P_EQUALIZER enabled.");
    const std::size_t detector = indexOf(messages, "SAD P_SAD enabled.");
    ASSERT_LT(detector, messages.size());
    EXPECT_LT(agc, equalizer);
    EXPECT_LT(equalizer, detector);
    EXPECT_EQ(log.count("SAD P_SAD disabled."), 0u);
    EXPECT_EQ(messages.back(), "Deleting instance of PlaybackProcessing (P).");

    const auto own = log.records("ZIZO.PlaybackProcessing");
    ASSERT_EQ(own.size(), 2u);
    EXPECT_EQ(own[0].level, "INFO");
    EXPECT_EQ(own[0].function, "PlaybackProcessing");
    EXPECT_EQ(own[0].file, "PlaybackProcessing.cpp");
    EXPECT_EQ(own[1].level, "TRACE");
    EXPECT_EQ(own[1].function, "~PlaybackProcessing");
}

TEST(PlaybackProcessing, RefusesEmptyBlocksAndZeroRateAtConstruction) {
    EXPECT_THROW(PlaybackProcessing("Z", 0, 16000, ZIZO_Config()), std::invalid_argument);
    EXPECT_THROW(PlaybackProcessing("Z", 160, 0, ZIZO_Config()), std::invalid_argument);
}

// Reference: the three blocks built and run by hand in the chain's order
// (detector on the input, equalizer input to output, AGC in place with that
// block's decision, then the output factor), outside any flush-to-zero mode.
// The chain must give the same bits, also when processing in place.
TEST(PlaybackProcessing, OutputEqualsBlocksComposedInOrderBitForBit) {
    const unsigned int fs = 16000;
    const Eigen::ArrayXf signal = speechLike(6 * fs, fs);
    for (unsigned int Nblock : {160u, 1u}) {
        SCOPED_TRACE("Nblock " + std::to_string(Nblock));
        ZIZO_Config config = fullChainConfig();
        config.set<float>("thresh_open_db", 100.0f);  // not for the detector
        PlaybackProcessing chain("C", Nblock, fs, config);
        PlaybackProcessing inPlace("D", Nblock, fs, config);
        chain.setOutputGainDb(-6.0f);
        inPlace.setOutputGainDb(-6.0f);

        ZIZO_agc agc("R_AGC", Nblock, fs, config.getGroup("AGC."));
        ZIZO_equalizer<float> equalizer("R_EQUALIZER", Nblock, fs, config.getGroup("EQUALIZER."));
        ZIZO_Config detectorConfig;
        detectorConfig.set<bool>("enabled", true);
        ZIZO_sad sad("R_SAD", Nblock, fs, detectorConfig);
        const float factor = 0.5011872f;  // 10^(-6/20) = 0.50118723, nearest float

        Eigen::ArrayXf in(Nblock), out(Nblock), own(Nblock), expected(Nblock);
        std::size_t speechBlocks = 0, pauseBlocks = 0;
        for (Eigen::Index start = 0; start + static_cast<Eigen::Index>(Nblock) <= signal.size();
             start += Nblock) {
            in = signal.segment(start, Nblock);
            ASSERT_TRUE(chain.run(in, out));
            own = in;
            ASSERT_TRUE(inPlace.run(own, own));

            sad.run(in);
            equalizer.run(in.data(), expected.data());
            agc.run(expected, expected, sad.isSpeech());
            expected *= factor;
            (sad.isSpeech() ? speechBlocks : pauseBlocks) += 1;

            for (unsigned int i = 0; i < Nblock; ++i) {
                ASSERT_EQ(out[i], expected[i]) << "sample " << start + i;
                ASSERT_EQ(own[i], expected[i]) << "in place, sample " << start + i;
            }
        }
        // Both decisions occur, so a decision from the wrong block would show.
        EXPECT_GT(speechBlocks, 0u);
        EXPECT_GT(pauseBlocks, 0u);
        EXPECT_EQ(chain.getAgcMaxGainDb(), agc.getMaxGainDb());
    }
}

TEST(PlaybackProcessing, StartsMutedAndAppliesOutputGainFactors) {
    PlaybackProcessing chain("G", 4, 16000, ZIZO_Config());
    Eigen::ArrayXf in(4), out(4);
    in << 0.5f, -0.25f, 0.75f, 0.125f;
    for (int block = 0; block < 3; ++block) {
        ASSERT_TRUE(chain.run(in, out));
        EXPECT_TRUE((out == 0.0f).all()) << "muted until the first setOutputGainDb";
    }

    LogCapture log;
    // Factors 10^(dB/20) worked out by hand, rounded to the nearest float:
    // 0 dB -> 1, -6 dB -> 0.501187234, -20 dB -> 0.1, -200 dB -> 1e-10.
    struct Case {
        float gainDb;
        float factor;
        const char* message;
    };
    const Case cases[] = {
        {0.0f, 1.0f, "(G): output gain set to 0dB (1)"},
        {-6.0f, 0.5011872f, "(G): output gain set to -6dB (0.501187)"},
        {-20.0f, 0.1f, "(G): output gain set to -20dB (0.1)"},
        {-200.0f, 1e-10f, "(G): output gain set to -200dB (1e-10)"},
    };
    for (const Case& c : cases) {
        chain.setOutputGainDb(c.gainDb);
        ASSERT_TRUE(chain.run(in, out));
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(out[i], in[i] * c.factor) << c.gainDb << " dB";
        EXPECT_EQ(log.count(c.message), 1u) << c.message;
    }
    const auto records = log.records("ZIZO.PlaybackProcessing", "INFO");
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[0].function, "setOutputGainDb");
}

TEST(PlaybackProcessing, ConsumerGetsSilenceUntilMoreThan682SamplesAreBuffered) {
    {
        PlaybackProcessing chain("F", 160, 16000, ZIZO_Config());
        Eigen::ArrayXf out(160);
        for (std::size_t block = 0; block < 4; ++block) {
            chain.run(streamBlock(block * 160, 160), out);
        }
        EXPECT_EQ(chain.getNextInputSample(), 0.0f) << "640 buffered";
        chain.run(streamBlock(4 * 160, 160), out);
        EXPECT_EQ(chain.getNextInputSample(), streamValue(0)) << "800 buffered";
        EXPECT_EQ(chain.getNextInputSample(), streamValue(1));
    }
    {
        PlaybackProcessing chain("F1", 1, 16000, ZIZO_Config());
        Eigen::ArrayXf out(1);
        for (std::size_t k = 0; k < 682; ++k)
            chain.run(streamBlock(k, 1), out);
        EXPECT_EQ(chain.getNextInputSample(), 0.0f) << "682 buffered";
        chain.run(streamBlock(682, 1), out);
        EXPECT_EQ(chain.getNextInputSample(), streamValue(0)) << "683 buffered";
        EXPECT_EQ(chain.getNextInputSample(), 0.0f) << "682 left";
        chain.run(streamBlock(683, 1), out);
        EXPECT_EQ(chain.getNextInputSample(), streamValue(1));
    }
}

TEST(PlaybackProcessing, FifoTakesWholeBlocksOnlyBelow2048Samples) {
    const unsigned int Nblock = 160;
    PlaybackProcessing chain("W", Nblock, 16000, ZIZO_Config());
    Eigen::ArrayXf out(Nblock);
    for (std::size_t block = 0; block < 13; ++block) {
        chain.run(streamBlock(block * Nblock, Nblock), out);  // 2080 buffered
    }
    for (std::size_t k = 0; k < 33; ++k)
        ASSERT_EQ(chain.getNextInputSample(), streamValue(k));
    // 2047 buffered: block 13 goes in whole (2207), block 14 not at all.
    chain.run(streamBlock(13 * Nblock, Nblock), out);
    chain.run(streamBlock(14 * Nblock, Nblock), out);

    // Served while more than 682 remain: 2207 - 682 = 1525 samples, in order.
    for (std::size_t k = 33; k < 33 + 1525; ++k) {
        ASSERT_EQ(chain.getNextInputSample(), streamValue(k)) << "sample " << k;
    }
    EXPECT_EQ(chain.getNextInputSample(), 0.0f);
    // Behind the 682 held back, block 15 follows block 13 directly: nothing
    // of block 14 was kept.
    for (std::size_t block = 15; block < 20; ++block) {
        chain.run(streamBlock(block * Nblock, Nblock), out);
    }
    for (std::size_t k = 33 + 1525; k < 14 * Nblock; ++k) {
        ASSERT_EQ(chain.getNextInputSample(), streamValue(k)) << "sample " << k;
    }
    EXPECT_EQ(chain.getNextInputSample(), streamValue(15 * Nblock));
}

TEST(PlaybackProcessing, PulledStreamIsTheInputDelayedAcrossWrapArounds) {
    // 7 does not divide the ring's 2054 slots, so blocks wrap at every offset.
    const unsigned int Nblock = 7;
    PlaybackProcessing chain("R", Nblock, 16000, ZIZO_Config());
    Eigen::ArrayXf out(Nblock);
    std::size_t produced = 0, received = 0, silent = 0;
    for (int round = 0; round < 3000; ++round) {
        chain.run(streamBlock(produced, Nblock), out);
        produced += Nblock;
        for (unsigned int i = 0; i < Nblock; ++i) {
            const float sample = chain.getNextInputSample();
            if (sample == 0.0f) {
                ++silent;
                continue;
            }
            ASSERT_EQ(sample, streamValue(received)) << "round " << round;
            ++received;
        }
    }
    // One pull per pushed sample, and the FIFO holds 682 samples back: so
    // exactly 682 pulls came back silent, all before the stream got going.
    EXPECT_EQ(silent, 682u);
    EXPECT_EQ(received, produced - silent);
}

TEST(PlaybackProcessing, SettersAndGettersReachTheBlocks) {
    PlaybackProcessing chain("S", 160, 16000, ZIZO_Config());
    EXPECT_FALSE(chain.isAgcEnabled());
    EXPECT_FALSE(chain.isEqualizerEnabled());
    chain.setOutputGainDb(0.0f);

    chain.setAgcMaxGainDb(-12.0f);
    EXPECT_EQ(chain.getAgcMaxGainDb(), 12.0f);

    // AGC on at 0 dB gain without speech: factor 0.9713478 (the AGC's own
    // power-of-two approximation), then clipped to |max_amp|.
    chain.setAgcEnabled(true);
    EXPECT_TRUE(chain.isAgcEnabled());
    chain.setAgcMaxAmp(-0.5f);
    Eigen::ArrayXf in = Eigen::ArrayXf::Zero(160), out(160);
    in[0] = 1.0f;
    in[1] = -0.4f;
    ASSERT_TRUE(chain.run(in, out));
    EXPECT_EQ(out[0], 0.5f);
    EXPECT_LT(out[1], 0.0f);
    EXPECT_GT(out[1], -0.4f);

    // A loud signal with the reduction on lowers the maximum gain within a
    // few seconds; the lock-free getter follows, and the reset restores 12.
    chain.setAgcDecreaseMaxGain(true);
    Eigen::ArrayXf loud(160);
    for (int i = 0; i < 160; ++i)
        loud[i] = (i % 20 < 10) ? 0.9f : -0.9f;
    for (int block = 0; block < 200; ++block)
        chain.run(loud, out);
    EXPECT_LT(chain.getAgcMaxGainDb(), 12.0f);
    chain.resetAgcMaxGain();
    EXPECT_EQ(chain.getAgcMaxGainDb(), 12.0f);

    chain.setEqualizerFilename(kCoefficientFile);
    EXPECT_FALSE(chain.isEqualizerEnabled()) << "a reload keeps the equalizer off";
    chain.setEqualizerEnabled(true);
    EXPECT_TRUE(chain.isEqualizerEnabled());
    {
        LogCapture log;
        chain.setEqualizerFilename("no-such-coefficient-file.cfg");
        EXPECT_FALSE(chain.isEqualizerEnabled()) << "a failed load leaves it off";
        bool errorLogged = false;
        for (const auto& record : log.records())
            errorLogged |= record.level == "ERROR";
        EXPECT_TRUE(errorLogged);
    }
    chain.setAgcEnabled(false);
    EXPECT_FALSE(chain.isAgcEnabled());
}

// Absurd settings given on top of good ones, in mid-stream, must leave the
// chain sounding exactly like one that got only the good ones: each is
// refused with one ERROR record naming it, and the output stays finite and
// within the clip level.
TEST(PlaybackProcessing, NonFiniteOrOverflowingSettingsAreRefusedAndChangeNothing) {
    const unsigned int fs = 16000;
    const unsigned int Nblock = 160;
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const auto configure = [](PlaybackProcessing& chain) {
        chain.setAgcEnabled(true);
        chain.setOutputGainDb(-3.0f);
        chain.setAgcTargetLevelDb(-12.0f);
        chain.setAgcMaxGainDb(18.0f);
        chain.setAgcMaxAmp(0.8f);
        chain.setAgcNonspeechHoldGainTime(0.25f);
        chain.setAgcNonspeechReleaseSpeed(6.0f);
    };
    PlaybackProcessing reference("R", Nblock, fs, fullChainConfig());
    PlaybackProcessing chain("N", Nblock, fs, fullChainConfig());
    configure(reference);
    configure(chain);

    // 10^(800/20) = 1e40 is past the largest float; the AGC's factor ends
    // near 770 dB, and 1.28e7 dB/s at 16 kHz is a release step of 800 dB.
    using Setter = void (PlaybackProcessing::*)(float);
    struct Refusal {
        Setter set;
        float value;
        const char* text;
    };
    const Refusal refusals[] = {
        {&PlaybackProcessing::setOutputGainDb, nan, "setOutputGainDb(nan)"},
        {&PlaybackProcessing::setOutputGainDb, inf, "setOutputGainDb(inf)"},
        {&PlaybackProcessing::setOutputGainDb, -inf, "setOutputGainDb(-inf)"},
        {&PlaybackProcessing::setOutputGainDb, 1e30f, "setOutputGainDb(1e+30)"},
        {&PlaybackProcessing::setOutputGainDb, 800.0f, "setOutputGainDb(800)"},
        {&PlaybackProcessing::setAgcTargetLevelDb, nan, "setAgcTargetLevelDb(nan)"},
        {&PlaybackProcessing::setAgcTargetLevelDb, -inf, "setAgcTargetLevelDb(-inf)"},
        {&PlaybackProcessing::setAgcMaxGainDb, nan, "setAgcMaxGainDb(nan)"},
        {&PlaybackProcessing::setAgcMaxGainDb, inf, "setAgcMaxGainDb(inf)"},
        {&PlaybackProcessing::setAgcMaxGainDb, -800.0f, "setAgcMaxGainDb(-800)"},
        {&PlaybackProcessing::setAgcMaxAmp, nan, "setAgcMaxAmp(nan)"},
        {&PlaybackProcessing::setAgcMaxAmp, -inf, "setAgcMaxAmp(-inf)"},
        {&PlaybackProcessing::setAgcNonspeechHoldGainTime, nan, "setAgcNonspeechHoldGainTime(nan)"},
        {&PlaybackProcessing::setAgcNonspeechHoldGainTime, inf, "setAgcNonspeechHoldGainTime(inf)"},
        {&PlaybackProcessing::setAgcNonspeechReleaseSpeed, nan, "setAgcNonspeechReleaseSpeed(nan)"},
        {&PlaybackProcessing::setAgcNonspeechReleaseSpeed, 1.28e7f,
         "setAgcNonspeechReleaseSpeed(1.28e+07)"},
    };

    const Eigen::ArrayXf signal = speechLike(5 * fs, fs, 0.5f);
    Eigen::ArrayXf in(Nblock), out(Nblock), expected(Nblock);
    LogCapture log;
    for (Eigen::Index start = 0; start + static_cast<Eigen::Index>(Nblock) <= signal.size();
         start += Nblock) {
        if (start == fs) {
            for (const Refusal& r : refusals)
                (chain.*r.set)(r.value);
        }
        in = signal.segment(start, Nblock);
        ASSERT_TRUE(chain.run(in, out));
        ASSERT_TRUE(reference.run(in, expected));
        for (unsigned int i = 0; i < Nblock; ++i) {
            ASSERT_EQ(out[i], expected[i]) << "sample " << start + i;
            ASSERT_LE(std::fabs(out[i]), 0.8f) << "sample " << start + i;
        }
    }
    EXPECT_EQ(chain.getAgcMaxGainDb(), reference.getAgcMaxGainDb());
    const auto errors = log.records("ZIZO.PlaybackProcessing", "ERROR");
    ASSERT_EQ(errors.size(), std::size(refusals));
    for (std::size_t k = 0; k < errors.size(); ++k) {
        EXPECT_EQ(errors[k].message, std::string("(N): ") + refusals[k].text +
                                         " refused: the value or the factor it gives is not "
                                         "finite; the previous value stays.");
    }

    // Large values whose factors still exist are taken as they are.
    log.clear();
    chain.setAgcMaxGainDb(-700.0f);
    EXPECT_EQ(chain.getAgcMaxGainDb(), 700.0f);
    chain.setOutputGainDb(700.0f);
    EXPECT_EQ(log.count("(N): output gain set to 700dB (1e+35)"), 1u);
    EXPECT_TRUE(log.records("ZIZO.PlaybackProcessing", "ERROR").empty());
}

TEST(PlaybackProcessing, RefusesBlocksOfTheWrongSizeWithOneError) {
    PlaybackProcessing chain("B", 160, 16000, ZIZO_Config());
    chain.setOutputGainDb(0.0f);
    LogCapture log;
    Eigen::ArrayXf shortIn = Eigen::ArrayXf::Constant(159, 1.0f);
    Eigen::ArrayXf in = Eigen::ArrayXf::Constant(160, 1.0f);
    Eigen::ArrayXf out = Eigen::ArrayXf::Constant(160, 7.0f);
    Eigen::ArrayXf shortOut = Eigen::ArrayXf::Constant(10, 7.0f);
    EXPECT_FALSE(chain.run(shortIn, out));
    EXPECT_FALSE(chain.run(in, shortOut));
    EXPECT_TRUE((out == 7.0f).all());
    EXPECT_TRUE((shortOut == 7.0f).all());
    const auto errors = log.records("ZIZO.PlaybackProcessing", "ERROR");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].message, "(B): block of 159 in, 160 out samples refused; expected 160.");
    // Nothing reached the FIFO: five good blocks make 800, and the first
    // sample served is the first of them.
    for (int block = 0; block < 5; ++block)
        ASSERT_TRUE(chain.run(in * float(block + 2), out));
    EXPECT_EQ(chain.getNextInputSample(), 2.0f);
}

namespace {

// Speech, then loud speech that ducks and lowers the maximum gain, with a
// NaN sample now and then.
Eigen::ArrayXf speechThenLoudSpeech(unsigned int fs) {
    Eigen::ArrayXf signal(6 * fs);
    signal << speechLike(2 * fs, fs), speechLike(4 * fs, fs, 0.9f);
    for (Eigen::Index k = fs / 3; k < signal.size(); k += fs)
        signal[k] = std::numeric_limits<float>::quiet_NaN();
    return signal;
}

// Between buffers, one of the settings a control thread may change.
void changeSetting(PlaybackProcessingData* handle, std::size_t buffer) {
    switch (buffer % 11) {
        case 0:
            PlaybackProcessing_setOutputGainDb(handle, -1.0f * float(buffer % 7));
            break;
        case 1:
            PlaybackProcessing_setAGCTargetLevelDb(handle, -6.0f - float(buffer % 5));
            break;
        case 2:
            PlaybackProcessing_setAGCMaxGainDb(handle, 20.0f + float(buffer % 17));
            break;
        case 3:
            PlaybackProcessing_setAGCDecreaseMaxGain(handle, buffer % 3 != 0);
            break;
        case 4:
            PlaybackProcessing_setEqualizerEnabled(handle, buffer % 4 != 0);
            break;
        case 5:
            PlaybackProcessing_setAGCEnabled(handle, buffer % 5 != 0);
            break;
        case 6:
            PlaybackProcessing_setAGCMaxAmp(handle, buffer % 2 ? 0.5f : 0.95f);
            break;
        case 7:
            PlaybackProcessing_setAGCNonspeechHoldGainTime(handle, 0.01f * float(buffer % 9));
            break;
        case 8:
            PlaybackProcessing_setAGCNonspeechReleaseSpeed(handle, 3.0f + float(buffer % 4));
            break;
        case 9:
            // Not between a switch-off and the next switch-on, which must
            // find the sections reset.
            if (buffer % 4 == 3)
                PlaybackProcessing_setEqualizerFilename(handle, kCoefficientFile.c_str());
            break;
        default:
            PlaybackProcessing_setAGCEnabled(handle, 1);
            PlaybackProcessing_setEqualizerEnabled(handle, 1);
            break;
    }
}

}  // namespace

// The plug-in's buffers through PlaybackProcessing_ProcessBuffer against the
// same samples one Process call each, on two chains alike: the outputs, the
// samples a consumer pulls between buffers, the maximum gain and the AGC's
// duck records must be the same, bit for bit, with settings changed between
// buffers, in place and apart.
TEST(PlaybackProcessing, BufferOfOneSampleBlocksEqualsOneProcessCallPerSample) {
    LogCapture log;
    const unsigned int fs = 16000;
    const Eigen::ArrayXf signal = speechThenLoudSpeech(fs);
    for (const std::size_t n :
         {std::size_t(1), std::size_t(7), std::size_t(160), std::size_t(4096)}) {
        SCOPED_TRACE("buffer of " + std::to_string(n));
        log.clear();
        PlaybackProcessingData* single = PlaybackProcessing_Init("ONE_BY_ONE", 1, fs);
        PlaybackProcessingData* buffered = PlaybackProcessing_Init("BUFFERED", 1, fs);
        ASSERT_NE(single, nullptr);
        ASSERT_NE(buffered, nullptr);
        const auto singleChain =
            ExternalModuleRegistry::getInstance()->getPlaybackProcessing("ONE_BY_ONE");
        const auto bufferedChain =
            ExternalModuleRegistry::getInstance()->getPlaybackProcessing("BUFFERED");
        configureFullChain(single);
        configureFullChain(buffered);
        // At n = 1 every sample is a buffer: a shorter stretch does.
        const std::size_t length = n == 1 ? std::size_t(fs) : std::size_t(signal.size()) / n * n;
        std::vector<float> expected(n), output(n), inPlace(n);
        for (std::size_t buffer = 0; buffer * n < length; ++buffer) {
            const float* in = &signal[Eigen::Index(buffer * n)];
            for (std::size_t i = 0; i < n; ++i)
                ASSERT_EQ(PlaybackProcessing_Process(single, in + i, &expected[i]), 0);
            float* out = output.data();
            if (buffer % 2 == 1) {
                std::copy(in, in + n, inPlace.begin());
                in = out = inPlace.data();
            }
            ASSERT_EQ(PlaybackProcessing_ProcessBuffer(buffered, in, out, n), 0);
            ASSERT_EQ(std::memcmp(out, expected.data(), n * sizeof(float)), 0)
                << "buffer " << buffer << (buffer % 2 ? ", in place" : ", apart");
            ASSERT_EQ(bufferedChain->getAgcMaxGainDb(), singleChain->getAgcMaxGainDb())
                << "buffer " << buffer;
            for (std::size_t pull = 0; pull < (buffer * 37) % (2 * n + 3); ++pull) {
                const float pulled = singleChain->getNextInputSample();
                const float bufferedPulled = bufferedChain->getNextInputSample();
                ASSERT_EQ(std::memcmp(&bufferedPulled, &pulled, sizeof(float)), 0)
                    << "buffer " << buffer << ", pull " << pull;
            }
            changeSetting(single, buffer);
            changeSetting(buffered, buffer);
        }
        float pulled = 0.0f, bufferedPulled = 0.0f;
        std::size_t left = 0;
        do {
            pulled = singleChain->getNextInputSample();
            bufferedPulled = bufferedChain->getNextInputSample();
            ASSERT_EQ(std::memcmp(&bufferedPulled, &pulled, sizeof(float)), 0)
                << "drained " << left;
            ++left;
        } while (pulled != 0.0f || bufferedPulled != 0.0f);
        PlaybackProcessing_Uninit(single);
        PlaybackProcessing_Uninit(buffered);

        // The same records, posted where the AGC's block posts them. A full
        // queue drops records, as the log thread happens to keep up, so the
        // counts compare only when neither dropped any.
        std::size_t singleDucks = 0, bufferedDucks = 0;
        bool dropped = false;
        const auto posted = [&dropped](const std::string& message) {
            dropped |= message.find(" dropped before this one") != std::string::npos;
            return 1u;
        };
        for (const LogRecord& record : log.records("ZIZO.Agc", "TRACE")) {
            if (record.message.find("ONE_BY_ONE_AGC: duck gain was applied.") != std::string::npos)
                singleDucks += posted(record.message);
            if (record.message.find("BUFFERED_AGC: duck gain was applied.") != std::string::npos) {
                bufferedDucks += posted(record.message);
                EXPECT_EQ(record.file, "ZIZO_agc.cpp");
                EXPECT_EQ(record.function, "run");
            }
        }
        if (!dropped) {
            EXPECT_EQ(bufferedDucks, singleDucks);
        }
        if (n > 1) {
            EXPECT_GT(bufferedDucks, 0u);
        }
    }
}

namespace {

// A coefficient file for 16 kHz with sections of the shipped kind (a
// high-pass, a peak and a shelf, in turn), as many as asked for.
std::string cascadeFile(const TempDir& dir, std::size_t sections) {
    const char* const rows[5][3] = {{"9.4759363226e-01", "9.7515945508e-01", "1.0946205854e+00"},
                                    {"-1.8951872645e+00", "-1.8073618724e+00", "4.0488124880e-01"},
                                    {"9.4759363226e-01", "8.5473141043e-01", "1.2307158625e-01"},
                                    {"-1.8935423413e+00", "-1.8073618724e+00", "4.8846737747e-01"},
                                    {"8.9683218774e-01", "8.2989086550e-01", "1.3410604303e-01"}};
    const char* const names[5] = {"b0", "b1", "b2", "a1", "a2"};
    std::string text = "filter_fs_16000 = {\n    fs = 16000;\n    gain = 0.8;\n";
    for (std::size_t r = 0; r < 5; ++r) {
        text += std::string("    ") + names[r] + " = [ ";
        for (std::size_t k = 0; k < sections; ++k)
            text += std::string(k ? ", " : "") + rows[r][k % 3];
        text += " ];\n";
    }
    text += "};\n";
    return dir.write("cascade_" + std::to_string(sections) + ".cfg", text);
}

}  // namespace

// Every length of cascade the buffer path runs its own way (side by side in
// vector lanes up to eight sections, in turn from nine to sixteen, block by
// block beyond) against one Process call per sample, on buffers shorter and
// longer than the lanes' delay.
TEST(PlaybackProcessing, BufferPathEqualsProcessCallsForEveryLengthOfCascade) {
    const unsigned int fs = 16000;
    const Eigen::ArrayXf signal = speechThenLoudSpeech(fs).head(fs);
    TempDir dir;
    for (const std::size_t sections : {1, 2, 4, 5, 6, 8, 9, 16, 17}) {
        const std::string file = cascadeFile(dir, sections);
        for (const std::size_t n : {std::size_t(3), std::size_t(250)}) {
            SCOPED_TRACE(std::to_string(sections) + " sections, buffers of " + std::to_string(n));
            PlaybackProcessingData* single = PlaybackProcessing_Init("ONE_BY_ONE", 1, fs);
            PlaybackProcessingData* buffered = PlaybackProcessing_Init("BUFFERED", 1, fs);
            ASSERT_NE(single, nullptr);
            ASSERT_NE(buffered, nullptr);
            for (PlaybackProcessingData* handle : {single, buffered}) {
                configureFullChain(handle);
                PlaybackProcessing_setEqualizerFilename(handle, file.c_str());
            }
            ASSERT_EQ(ExternalModuleRegistry::getInstance()
                          ->getPlaybackProcessing("BUFFERED")
                          ->isEqualizerEnabled(),
                      true);
            std::vector<float> expected(n), output(n);
            for (std::size_t start = 0; start + n <= std::size_t(signal.size()); start += n) {
                const float* in = &signal[Eigen::Index(start)];
                for (std::size_t i = 0; i < n; ++i)
                    ASSERT_EQ(PlaybackProcessing_Process(single, in + i, &expected[i]), 0);
                ASSERT_EQ(PlaybackProcessing_ProcessBuffer(buffered, in, output.data(), n), 0);
                ASSERT_EQ(std::memcmp(output.data(), expected.data(), n * sizeof(float)), 0)
                    << "buffer at " << start;
            }
            PlaybackProcessing_Uninit(single);
            PlaybackProcessing_Uninit(buffered);
        }
    }
}

TEST(PlaybackProcessing, SilenceAfterSpeechSettlesAtZeroUnderGradualUnderflow) {
    const unsigned int fs = 16000, Nblock = 160;
    {
        // The caller's floating-point mode is used and left as it was: with
        // gradual underflow, 1e-30 at -200 dB (factor 1e-10) stays subnormal.
        PlaybackProcessing chain("U", Nblock, fs, ZIZO_Config());
        chain.setOutputGainDb(-200.0f);
        Eigen::ArrayXf in = Eigen::ArrayXf::Constant(Nblock, 1e-30f), out(Nblock);
#if defined(__SSE__)
        // The control bits; the low six are sticky exception flags.
        const unsigned int controlBits = ~0x3fu;
        const unsigned int callerMode = _mm_getcsr() & controlBits;
#endif
        ASSERT_TRUE(chain.run(in, out));
#if defined(__SSE__)
        EXPECT_EQ(_mm_getcsr() & controlBits, callerMode);
#endif
        volatile float a = 1e-30f, b = 1e-10f;
        EXPECT_EQ(std::fpclassify(a * b), FP_SUBNORMAL);
        EXPECT_TRUE((out == a * b).all());
    }
    {
        // Speech, then a minute of digital silence through the equalizer and
        // the AGC: their states decay into the subnormal range and are set
        // to zero there, so after a few seconds no output sample is
        // subnormal and the output settles at exact zero.
        ZIZO_Config config;
        config.set<bool>("EQUALIZER.enabled", true);
        config.set<std::string>("EQUALIZER.coeff_file", kCoefficientFile);
        config.set<bool>("AGC.enabled", true);
        PlaybackProcessing chain("V", Nblock, fs, config);
        chain.setOutputGainDb(0.0f);
        const Eigen::ArrayXf speech = speechLike(fs, fs);
        Eigen::ArrayXf in(Nblock), out(Nblock);
        for (Eigen::Index start = 0; start < speech.size(); start += Nblock) {
            in = speech.segment(start, Nblock);
            chain.run(in, out);
        }
        in.setZero();
        const unsigned int settleBlocks = 10 * fs / Nblock;
        std::size_t subnormalAfterSettling = 0;
        for (unsigned int block = 0; block < 60 * fs / Nblock; ++block) {
            chain.run(in, out);
            for (unsigned int i = 0; block >= settleBlocks && i < Nblock; ++i) {
                subnormalAfterSettling += std::fpclassify(out[i]) == FP_SUBNORMAL;
            }
        }
        EXPECT_EQ(subnormalAfterSettling, 0u);
        EXPECT_TRUE((out == 0.0f).all());
    }
}

namespace {

// Pulls from the chain on its own thread until stopped, as the core
// library's consumer does, and counts the allocations of its pulls.
class PullingConsumer {
  public:
    explicit PullingConsumer(std::shared_ptr<PlaybackProcessing> chain)
        : chain(std::move(chain)), thread([this] { pull(); }) {}
    ~PullingConsumer() { stop(); }
    void stop() {
        stopRequested.store(true);
        if (thread.joinable())
            thread.join();
    }
    long pulled() const { return count.load(); }
    // Meaningful once stopped.
    long allocations() const { return pullAllocations.load(); }

  private:
    void pull() {
        long allocated = 0;
        while (!stopRequested.load()) {
            const long before = heap::threadAllocations();
            const float sample = chain->getNextInputSample();
            allocated += heap::threadAllocations() - before;
            if (sample != 0.0f)
                count.fetch_add(1);
            std::this_thread::yield();
        }
        pullAllocations.store(allocated);
    }
    std::shared_ptr<PlaybackProcessing> chain;
    std::atomic<bool> stopRequested{false};
    std::atomic<long> count{0};
    std::atomic<long> pullAllocations{0};
    std::thread thread;
};

// Heap allocations of the audio thread's calls after the warm-up.
struct AllocationsAfterWarmUp {
    void add(bool counted, long allocations, bool reduced) {
        if (!counted)
            return;
        total += allocations;
        reductions += reduced ? 1 : 0;
    }
    long total = 0;
    long reductions = 0;
};

// Speech, then louder speech that makes the AGC duck and lower its maximum
// gain after the warm-up, with a NaN sample every half second.
Eigen::ArrayXf loudSpeechWithNaN(unsigned int fs) {
    Eigen::ArrayXf signal(20 * fs);
    signal << speechLike(5 * fs, fs), speechLike(15 * fs, fs, 0.9f);
    for (Eigen::Index k = fs / 4; k < signal.size(); k += fs / 2)
        signal[k] = std::numeric_limits<float>::quiet_NaN();
    return signal;
}

// Whether some record of the AGC reports a duck (a record may carry a note
// of records dropped before it).
bool ducked(const LogCapture& log) {
    for (const auto& record : log.records("ZIZO.Agc", "TRACE")) {
        if (record.message.find(": duck gain was applied.") != std::string::npos)
            return true;
    }
    return false;
}

// Feeds signal to processBlock(start) block by block while a consumer
// pulls, and expects no allocation on either thread after warmUp, at least
// one reduction of the maximum gain and a duck record.
//
// The consumer is waited for, with a bound, before it stops: on a loaded
// machine it may not have run at all yet, and the FIFO then still holds more
// than the silence threshold. (The duck record needs no wait: reading the
// capture emits every deferred record first.)
template <typename ProcessBlock>
void expectNothingAllocated(const std::shared_ptr<PlaybackProcessing>& chain,
                            const Eigen::ArrayXf& signal, Eigen::Index warmUp,
                            const LogCapture& log, ProcessBlock processBlock) {
    const Eigen::Index Nblock = chain->getNblock();
    PullingConsumer consumer(chain);
    AllocationsAfterWarmUp count;
    for (Eigen::Index start = 0; start + Nblock <= signal.size(); start += Nblock) {
        const float maxGainBefore = chain->getAgcMaxGainDb();
        const long before = heap::threadAllocations();
        processBlock(start);
        count.add(start >= warmUp, heap::threadAllocations() - before,
                  chain->getAgcMaxGainDb() != maxGainBefore);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (consumer.pulled() == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    consumer.stop();
    EXPECT_EQ(count.total, 0);
    EXPECT_GE(count.reductions, 1);
    EXPECT_EQ(consumer.allocations(), 0);
    EXPECT_GT(consumer.pulled(), 0);
    EXPECT_TRUE(ducked(log));
}

}  // namespace

// Counted on the audio thread and on the consumer's; the library's log
// thread allocates as it emits the deferred records meanwhile.
TEST(PlaybackProcessingRealTime, SteadyStateAllocatesNothingWithAConsumerPulling) {
    {
        // The counter must see both kinds of allocation, or the check below
        // would pass for nothing.
        const long before = heap::threadAllocations();
        auto boxed = std::make_unique<int>(1);
        Eigen::ArrayXf array(1000);
        array.setZero();
        EXPECT_GE(heap::threadAllocations() - before, 2);
    }
    // Every level on, so that each record of run is posted.
    LogCapture log;
    const unsigned int fs = 16000;
    const Eigen::ArrayXf signal = loudSpeechWithNaN(fs);
    const Eigen::Index warmUp = 5 * fs;

    {
        SCOPED_TRACE("run, Nblock 160");
        const unsigned int Nblock = 160;
        auto chain = std::make_shared<PlaybackProcessing>("A160", Nblock, fs, fullChainConfig());
        chain->setOutputGainDb(0.0f);
        Eigen::ArrayXf in(Nblock), out(Nblock);
        expectNothingAllocated(chain, signal, warmUp, log, [&](Eigen::Index start) {
            in = signal.segment(start, Nblock);  // same size: no reallocation
            chain->run(in, out);
        });
    }
    log.clear();
    {
        SCOPED_TRACE("PlaybackProcessing_Process, Nblock 1");
        PlaybackProcessingData* handle = PlaybackProcessing_Init("A1", 1, fs);
        ASSERT_NE(handle, nullptr);
        configureFullChain(handle);
        const auto chain = ExternalModuleRegistry::getInstance()->getPlaybackProcessing("A1");
        expectNothingAllocated(chain, signal, warmUp, log, [&](Eigen::Index k) {
            float out;
            PlaybackProcessing_Process(handle, &signal[k], &out);
        });
        PlaybackProcessing_Uninit(handle);
    }
    log.clear();
    {
        SCOPED_TRACE("PlaybackProcessing_ProcessBuffer, Nblock 1, buffers of 256");
        PlaybackProcessingData* handle = PlaybackProcessing_Init("B1", 1, fs);
        ASSERT_NE(handle, nullptr);
        configureFullChain(handle);
        const auto chain = ExternalModuleRegistry::getInstance()->getPlaybackProcessing("B1");
        const Eigen::Index buffer = 256;
        std::vector<float> out(buffer);
        expectNothingAllocated(chain, signal, warmUp, log, [&](Eigen::Index k) {
            if (k % buffer == 0 && k + buffer <= signal.size())
                PlaybackProcessing_ProcessBuffer(handle, &signal[k], out.data(), buffer);
        });
        PlaybackProcessing_Uninit(handle);
    }
}

TEST(PlaybackProcessingRealTime, InitReportsAFailedHandleAllocationAtFatal) {
    LogCapture log;
    // Only FATAL records, so that building the INFO and DEBUG records does
    // not take the failing allocation: the handle's is the first one.
    const auto logger = log4cxx::Logger::getLogger("ZIZO.PlaybackProcessingCWrapper");
    const auto previous = logger->getLevel();
    logger->setLevel(log4cxx::Level::getFatal());
    heap::failNextNew();
    PlaybackProcessingData* handle = PlaybackProcessing_Init("NO_MEMORY", 1, 16000);
    heap::failNextNew(false);
    logger->setLevel(previous);

    EXPECT_EQ(handle, nullptr);
    const auto fatal = log.records("ZIZO.PlaybackProcessingCWrapper", "FATAL");
    ASSERT_EQ(fatal.size(), 1u);
    EXPECT_EQ(fatal[0].message, "Could not create PlaybackProcessingData: std::bad_alloc");
    EXPECT_EQ(ExternalModuleRegistry::getInstance()->getPlaybackProcessing("NO_MEMORY"), nullptr);
    EXPECT_EQ(log.count("Creating instance of PlaybackProcessing (NO_MEMORY)."), 0u);
}
