// The floor of bench/ against the chain: same input, same output bits.
#include "PlaybackFloor.h"

#include <gtest/gtest.h>

#include <Eigen/Core>
#include <ZIZO_Config>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "FlushToZeroMode.h"
#include "PlaybackProcessing.h"
#include "SpeechLikeSignal.h"
#include "playbackprocessing_cwrapper.h"

namespace {

using playback_floor::Arithmetic;
using playback_floor::PlaybackFloor;

const std::string kCoefficientFile =
    std::string(LYRANE_TEST_CONFIG_DIR) + "/equalizer_coefficients.cfg";

// Host buffers: a multiple of both block lengths, so state carries over
// between buffers as well as between blocks.
constexpr std::size_t kBuffer = 2080;

// Speech, a loud passage that ducks, clips and lowers the maximum gain, more
// speech, then digital silence long enough for the filter states to decay
// into the subnormal range.
std::vector<float> testSignal(unsigned int fs) {
    std::vector<float> x;
    auto append = [&x](const Eigen::ArrayXf& part) {
        x.insert(x.end(), part.data(), part.data() + part.size());
    };
    append(speechLike(3 * fs, fs));
    append(speechLike(2 * fs, fs, 1.0f));
    append(speechLike(2 * fs, fs));
    append(Eigen::ArrayXf::Zero(3 * fs));
    x.resize(x.size() / kBuffer * kBuffer);
    return x;
}

// The plug-in's way: the C interface, one sample per call, set up in the
// plug-in's order, flush-to-zero held over each host buffer.
std::vector<float> throughCInterface(const std::vector<float>& x, unsigned int fs) {
    PlaybackProcessingData* handle = PlaybackProcessing_Init("FLOOR_TEST", 1, fs);
    PlaybackProcessing_setEqualizerFilename(handle, kCoefficientFile.c_str());
    PlaybackProcessing_setAGCDecreaseMaxGain(handle, 1);
    PlaybackProcessing_setOutputGainDb(handle, 0.0f);
    PlaybackProcessing_setAGCEnabled(handle, 1);
    PlaybackProcessing_setEqualizerEnabled(handle, 1);
    std::vector<float> y(x.size());
    for (std::size_t start = 0; start < x.size(); start += kBuffer) {
        FlushToZeroMode flushSubnormals;
        for (std::size_t i = start; i < start + kBuffer; ++i) {
            PlaybackProcessing_Process(handle, &x[i], &y[i]);
        }
    }
    PlaybackProcessing_Uninit(handle);
    return y;
}

// PlaybackProcessing::run directly, as the off-line benchmark drives it.
std::vector<float> throughRun(const std::vector<float>& x, unsigned int Nblock, unsigned int fs,
                              float* maxGainDb) {
    ZIZO_Config config;
    config.set<bool>("AGC.enabled", true);
    config.set<bool>("AGC.decrease_max_gain", true);
    config.set<bool>("EQUALIZER.enabled", true);
    config.set<std::string>("EQUALIZER.coeff_file", kCoefficientFile);
    PlaybackProcessing chain("FLOOR_TEST", Nblock, fs, config);
    chain.setOutputGainDb(0.0f);
    Eigen::ArrayXf in(Nblock), out(Nblock);
    std::vector<float> y(x.size());
    for (std::size_t start = 0; start < x.size(); start += kBuffer) {
        FlushToZeroMode flushSubnormals;
        for (std::size_t b = start; b < start + kBuffer; b += Nblock) {
            in = Eigen::Map<const Eigen::ArrayXf>(&x[b], Nblock);
            chain.run(in, out);
            std::memcpy(&y[b], out.data(), Nblock * sizeof(float));
        }
    }
    *maxGainDb = chain.getAgcMaxGainDb();
    return y;
}

template <unsigned int Nblock, Arithmetic kind>
std::vector<float> throughFloor(const std::vector<float>& x, unsigned int fs, float* maxGainDb) {
    PlaybackFloor<Nblock> floor(fs, playback_floor::loadEqualizerSet(kCoefficientFile, fs));
    std::vector<float> y(x.size());
    for (std::size_t start = 0; start < x.size(); start += kBuffer) {
        floor.template process<kind>(&x[start], &y[start], kBuffer);
    }
    *maxGainDb = floor.maxGainDb();
    return y;
}

std::uint32_t sampleBits(float v) {
    std::uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return bits;
}

// Empty when equal bit for bit; otherwise the first sample that differs.
std::string firstDifference(const std::vector<float>& expected, const std::vector<float>& actual,
                            unsigned int fs) {
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if (sampleBits(expected[i]) != sampleBits(actual[i])) {
            char text[160];
            std::snprintf(text, sizeof text, "sample %zu (%.4f s): chain %a, floor %a", i,
                          double(i) / fs, double(expected[i]), double(actual[i]));
            return text;
        }
    }
    return "";
}

// What the comparison has to cover to mean something: the gate opening and
// closing (gain moving and released), clipping, the maximum gain lowered,
// and exact zeros once the silence has decayed through the subnormals.
void expectSignalCoversTheChain(const std::vector<float>& y, float maxGainDb, unsigned int fs) {
    std::size_t clipped = 0;
    for (float v : y) {
        clipped += (v == 0.95f || v == -0.95f);
    }
    EXPECT_GT(clipped, 0u);
    EXPECT_LT(maxGainDb, 35.0f);
    EXPECT_EQ(y.back(), 0.0f);
    const std::size_t silenceStart = 7 * fs;
    EXPECT_NE(y[silenceStart + 10], 0.0f);  // the filters' decay, not yet flushed
}

template <unsigned int Nblock>
void expectFloorMatches(const std::vector<float>& chain, const std::vector<float>& x,
                        unsigned int fs) {
    float maxGainFast = 0.0f, maxGainWritten = 0.0f;
    const std::vector<float> fast = throughFloor<Nblock, Arithmetic::Fast>(x, fs, &maxGainFast);
    const std::vector<float> written =
        throughFloor<Nblock, Arithmetic::Written>(x, fs, &maxGainWritten);
    EXPECT_EQ(firstDifference(chain, fast, fs), "") << "fast arithmetic, Nblock " << Nblock;
    EXPECT_EQ(firstDifference(chain, written, fs), "") << "written arithmetic, Nblock " << Nblock;
    expectSignalCoversTheChain(fast, maxGainFast, fs);
    EXPECT_EQ(maxGainWritten, maxGainFast);
}

TEST(PlaybackFloor, MatchesThePluginPathBitForBitAtOneSamplePerBlock) {
    const unsigned int fs = 48000;
    const std::vector<float> x = testSignal(fs);
    expectFloorMatches<1>(throughCInterface(x, fs), x, fs);
}

TEST(PlaybackFloor, MatchesRunBitForBitAtBlocksOf160) {
    for (unsigned int fs : {48000u, 16000u}) {
        SCOPED_TRACE(fs);
        const std::vector<float> x = testSignal(fs);
        float chainMaxGain = 0.0f;
        const std::vector<float> chain = throughRun(x, 160, fs, &chainMaxGain);
        expectFloorMatches<160>(chain, x, fs);
        EXPECT_LT(chainMaxGain, 35.0f);
    }
}

TEST(PlaybackFloor, RefusesAFileWithoutSixSectionsForTheRate) {
    EXPECT_THROW(playback_floor::loadEqualizerSet(kCoefficientFile, 8000), std::runtime_error);
    EXPECT_THROW(playback_floor::loadEqualizerSet("no/such/file.cfg", 48000), std::runtime_error);
}

}  // namespace
