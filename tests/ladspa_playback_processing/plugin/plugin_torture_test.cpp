// Hostile input through the plug-in with the shipped acoustic profile:
// non-finite, denormal and absurdly large samples, long silences, full-scale
// square waves, nonsense Mode values, and a thousand instances. Run under the
// sanitizers too; a crash, a sanitizer report or a leak fails it there.
#include <gtest/gtest.h>
#include <libconfig.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "PluginHost.h"

namespace {

const unsigned kFs = 48000;
const float kNan = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

// The largest magnitude the shipped acoustic profile may output: the AGC's
// clip level times the output gain factor, each computed as the chain does
// (10^(dB * 0.05) in double, then single precision). Read here with
// libconfig directly, independently of the plug-in.
float shippedOutputBound() {
    config_t settings;
    config_init(&settings);
    double maxAmp = 0.0, volumeDb = 0.0;
    int agcEnabled = 0;
    const bool ok =
        config_read_file(&settings, configDirFile("ladspa_acoustic.cfg").c_str()) == CONFIG_TRUE &&
        config_lookup_float(&settings, "agc_max_amp", &maxAmp) == CONFIG_TRUE &&
        config_lookup_float(&settings, "volume_db", &volumeDb) == CONFIG_TRUE &&
        config_lookup_bool(&settings, "agc_enabled", &agcEnabled) == CONFIG_TRUE;
    config_destroy(&settings);
    if (!ok || !agcEnabled) {
        return -1.0f;  // the shipped profile must set all three, AGC on
    }
    const float gain = static_cast<float>(
        std::pow(10.0, static_cast<double>(static_cast<float>(volumeDb)) * 0.05));
    return std::fabs(static_cast<float>(maxAmp)) * gain;
}

void append(std::vector<float>& x, size_t n, float value) {
    x.insert(x.end(), n, value);
}

void appendSquare(std::vector<float>& x, double seconds, double hz, float amplitude) {
    const size_t n = static_cast<size_t>(seconds * kFs);
    const size_t half = static_cast<size_t>(kFs / hz / 2.0);
    for (size_t i = 0; i < n; ++i) {
        x.push_back((i / half) % 2 ? -amplitude : amplitude);
    }
}

void appendSpeech(std::vector<float>& x, double seconds, float peak) {
    const std::vector<float> s = speechLike(kFs, seconds, peak);
    x.insert(x.end(), s.begin(), s.end());
}

// Everything at once, in one stream of about 55 s.
std::vector<float> hostileStream() {
    std::vector<float> x;
    appendSpeech(x, 3.0, 0.3f);
    x.push_back(kNan);
    appendSpeech(x, 1.0, 0.3f);
    x.push_back(kInf);
    x.push_back(-kInf);
    appendSpeech(x, 1.0, 0.3f);
    for (unsigned i = 0; i < kFs; ++i) {
        x.push_back(i % 2 ? 1e-40f : -1e-42f);  // denormals
    }
    append(x, 480, 1e30f);
    append(x, 480, -1e30f);
    appendSpeech(x, 2.0, 0.3f);
    append(x, 30 * kFs, 0.0f);  // a long silence: the AGC's maximum gain
    appendSquare(x, 2.0, 200.0, 1.0f);
    appendSquare(x, 0.5, 1000.0, 1e30f);
    appendSquare(x, 0.5, 50.0, kInf);
    append(x, 4800, kNan);
    appendSpeech(x, 3.0, 1.0f);
    appendSquare(x, 3.0, 440.0, 1.0f);
    appendSpeech(x, 5.0, 0.01f);
    return x;
}

// Level of each 50 ms window in dB full scale (floor -200 dB).
std::vector<double> windowLevelsDb(const std::vector<float>& x, size_t from, size_t to) {
    const size_t window = kFs / 20;
    std::vector<double> levels;
    for (size_t start = from; start + window <= to; start += window) {
        double sum = 0.0;
        for (size_t i = start; i < start + window; ++i) {
            sum += static_cast<double>(x[i]) * x[i];
        }
        levels.push_back(10.0 * std::log10(sum / window + 1e-20));
    }
    return levels;
}

class PluginTorture : public ::testing::Test {
  protected:
    void SetUp() override {
        bound = shippedOutputBound();
        ASSERT_GT(bound, 0.0f) << "the shipped acoustic profile must set agc_max_amp, volume_db "
                                  "and agc_enabled = true";
    }
    float bound = 0.0f;
    PluginLibrary library;
};

}  // namespace

TEST_F(PluginTorture, OutputStaysFiniteAndWithinTheClipLevelForAnyInputAndMode) {
    const std::vector<float> in = hostileStream();
    // Mode values that all mean the acoustic profile.
    for (float mode : {0.0f, kNan, -kNan, -3.0f, 1e30f, -kInf, kInf, 7.0f}) {
        SCOPED_TRACE(mode);
        ChainPlugin plugin(library, kFs, mode);
        plugin.activate();
        const std::vector<float> out = plugin.process(in, 1024);
        size_t bad = 0, firstBad = 0;
        for (size_t i = 0; i < out.size(); ++i) {
            if (!std::isfinite(out[i]) || std::fabs(out[i]) > bound) {
                firstBad = bad++ == 0 ? i : firstBad;
            }
        }
        EXPECT_EQ(bad, 0u) << "first at sample " << firstBad << ": " << out[firstBad];
        // Not trivially bounded by silence: the square waves reach the clip.
        EXPECT_EQ(*std::max_element(out.begin(), out.end()), bound);
    }
}

TEST_F(PluginTorture, IsolatedNonFiniteSamplesLeaveNoTraceAfterOneSecond) {
    std::vector<float> clean;
    appendSpeech(clean, 20.0, 0.2f);
    std::vector<float> hit = clean;
    const std::vector<size_t> events = {2 * kFs, 6 * kFs, 10 * kFs, 14 * kFs};
    hit[events[0]] = kNan;
    hit[events[1]] = kInf;
    hit[events[2]] = -kInf;
    hit[events[3]] = kNan;
    hit[events[3] + 1] = kInf;

    ChainPlugin a(library, kFs, 0.0f), b(library, kFs, 0.0f);
    a.activate();
    b.activate();
    const std::vector<float> outHit = a.process(hit);
    const std::vector<float> outClean = b.process(clean);

    for (size_t e = 0; e < events.size(); ++e) {
        SCOPED_TRACE(e);
        const size_t from = events[e] + kFs;
        const size_t to = e + 1 < events.size() ? events[e + 1] : hit.size();
        const std::vector<double> got = windowLevelsDb(outHit, from, to);
        const std::vector<double> want = windowLevelsDb(outClean, from, to);
        ASSERT_EQ(got.size(), want.size());
        size_t speechWindows = 0;
        for (size_t w = 0; w < got.size(); ++w) {
            if (want[w] > -60.0) {
                ++speechWindows;
                EXPECT_NEAR(got[w], want[w], 1.0) << "window " << w;
            }
        }
        EXPECT_GT(speechWindows, 20u);  // the comparison covered real output
    }
}

TEST_F(PluginTorture, AThousandInstances) {
    const std::vector<float> burst = {0.5f, kNan, kInf, -kInf, 1e30f, 1e-40f, -1.0f, 0.0f};
    std::vector<float> in;
    for (int i = 0; i < 8; ++i) {
        in.insert(in.end(), burst.begin(), burst.end());
    }
    const float modes[] = {0.0f, 1.0f, kNan, -1.0f, 1e30f, 1.5f};

    // A thousand alive at once, of both profiles, some never activated.
    std::vector<std::unique_ptr<ChainPlugin>> plugins;
    for (int k = 0; k < 1000; ++k) {
        plugins.push_back(std::make_unique<ChainPlugin>(library, kFs, modes[k % 6]));
        if (k % 7 != 0) {
            plugins.back()->activate();
        }
        const std::vector<float> out = plugins.back()->process(in, 16);
        ASSERT_TRUE(std::all_of(out.begin(), out.end(), [](float v) { return std::isfinite(v); }))
            << k;
    }
    // Cleaned up from both ends towards the middle.
    while (!plugins.empty()) {
        plugins.erase(plugins.begin());
        if (!plugins.empty()) {
            plugins.pop_back();
        }
    }
    EXPECT_FALSE(isRegistered(kAcousticName));
    EXPECT_FALSE(isRegistered(kAfilName));

    // And a thousand one after the other, each through its whole life.
    for (int k = 0; k < 1000; ++k) {
        ChainPlugin plugin(library, k % 2 ? 16000 : kFs, modes[k % 6]);
        plugin.activate();
        plugin.process(in, 7);
    }
    EXPECT_FALSE(isRegistered(kAcousticName));
}
