// The settings profiles: which file is read, in which order its values reach
// the chain, and that the plug-in's output is exactly what the C interface
// gives for the same settings. These tests rewrite the settings files of the
// configuration directory and put the shipped ones back afterwards.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#if defined(__SSE__)
#include <xmmintrin.h>
#endif
#include <cstring>
#include <string>
#include <vector>

#include "ExternalModuleRegistry.h"
#include "LogCapture.h"
#include "PlaybackProcessing.h"
#include "PluginHost.h"
#include "SettingApplyOrder.h"
#include "TempDir.h"
#include "ladspa_settings.h"

namespace {

// Every key, with values that differ from every block default so a skipped
// key shows.
std::vector<Setting> fullSettings() {
    return {{"equalizer_coefficients_file", "\"" LYRANE_TEST_COEFFICIENT_FILE "\""},
            {"agc_target_level_db", "-14.5"},
            {"agc_max_gain_db", "21.0"},
            {"agc_max_amp", "0.7"},
            {"agc_nonspeech_hold_gain_time", "0.4"},
            {"agc_nonspeech_release_speed", "5.5"},
            {"volume_db", "-2.5"},
            {"agc_enabled", "true"},
            {"agc_decrease_max_gain", "true"},
            {"equalizer_enabled", "true"}};
}

std::vector<float> runPlugin(const PluginLibrary& library, unsigned fs, float mode,
                             const std::vector<float>& in) {
    ChainPlugin plugin(library, fs, mode);
    plugin.activate();
    return plugin.process(in);
}

bool allZero(const std::vector<float>& x) {
    return std::all_of(x.begin(), x.end(), [](float v) { return v == 0.0f; });
}

// Loud enough for the AGC to duck and clip, and for the maximum-gain
// reduction to act, then quiet enough for the gain to climb.
std::vector<float> testSignal(unsigned fs) {
    std::vector<float> x = speechLike(fs, 3.0, 1.0f);
    const std::vector<float> quiet = speechLike(fs, 4.0, 0.02f);
    x.insert(x.end(), quiet.begin(), quiet.end());
    return x;
}

}  // namespace

TEST(PluginSettings, KeysReachTheChainInTheFixedOrder) {
    const std::string coefficients = LYRANE_TEST_COEFFICIENT_FILE;
    // Written in reverse: the order of the file must not matter.
    std::vector<Setting> settings = fullSettings();
    std::reverse(settings.begin(), settings.end());
    ConfigFileOverride afil("ladspa_afil.cfg", settingsText(settings));

    PluginLibrary library;
    LogCapture log;
    ChainPlugin plugin(library, 48000, 1.0f);
    plugin.activate();

    // The C interface logs each of these setters with its value.
    const std::vector<std::string> expected = {
        "setEqualizerFilename called with filename " + coefficients,
        "setAGCTargetLevelDb called with target_level -14.5",
        "setAGCMaxGainDb called with max_gain 21",
        "setAGCMaxAmp called with max_amp 0.7",
        "setOutputGainDb called with gain -2.5",
        "setAGCDecreaseMaxGain called with enabled 1",
        "setEqualizerEnabled called with enabled 1"};
    std::vector<std::string> seen;
    for (const auto& r : log.records("ZIZO.PlaybackProcessingCWrapper", "DEBUG")) {
        if (r.message.find(" called with ") != std::string::npos) {
            seen.push_back(r.message);
        }
    }
    EXPECT_EQ(seen, expected);

    auto chain = ExternalModuleRegistry::getInstance()->getPlaybackProcessing(kAfilName);
    ASSERT_TRUE(chain);
    EXPECT_TRUE(chain->isAgcEnabled());
    EXPECT_TRUE(chain->isEqualizerEnabled());  // so the file loaded before switching on
    EXPECT_EQ(chain->getAgcMaxGainDb(), 21.0f);

    // The three unlogged setters: the plug-in applies its table from first to
    // last, so the table must hold every key in the order the references use.
    ASSERT_EQ(LADSPA_SETTING_COUNT, SETTING_APPLY_ORDER_COUNT);
    for (size_t i = 0; i < SETTING_APPLY_ORDER_COUNT; ++i) {
        EXPECT_STREQ(kLadspaSettings[i].key, kSettingApplyOrder[i]) << i;
    }
}

TEST(PluginSettings, OutputEqualsTheCInterfaceSampleForSample) {
    const std::vector<Setting> settings = fullSettings();
    // The acoustic profile gets a second set, so both files are shown to be
    // read by the profile they belong to.
    std::vector<Setting> acoustic = settings;
    acoustic[1].text = "-9.0";
    acoustic[6].text = "1.5";
    ConfigFileOverride afilFile("ladspa_afil.cfg", settingsText(settings));
    ConfigFileOverride acousticFile("ladspa_acoustic.cfg", settingsText(acoustic));

    PluginLibrary library;
    // 44100 Hz has no set in the coefficient file: the equalizer stays off in
    // both the plug-in and the reference.
    for (unsigned fs : {16000u, 48000u, 44100u}) {
        SCOPED_TRACE(fs);
        const std::vector<float> in = testSignal(fs);
        const std::vector<float> afilOut = runPlugin(library, fs, 1.0f, in);
        const std::vector<float> acousticOut = runPlugin(library, fs, 0.0f, in);
        const std::vector<float> afilRef = referenceRun(settings, fs, in);
        ASSERT_FALSE(allZero(afilRef));
        EXPECT_EQ(std::memcmp(afilOut.data(), afilRef.data(), in.size() * sizeof(float)), 0);
        EXPECT_EQ(std::memcmp(acousticOut.data(), referenceRun(acoustic, fs, in).data(),
                              in.size() * sizeof(float)),
                  0);
        EXPECT_NE(afilOut, acousticOut);
    }
}

TEST(PluginSettings, UnusableSettingsLeaveTheChainMuted) {
    PluginLibrary library;
    const std::vector<float> in = speechLike(16000, 1.0, 0.5f);
    TempDir dir;
    // libconfig would end the host's process reading the directory.
    const std::string includesDirectory = "volume_db = 0.0;\n@include \"" + dir.path() + "\"\n";
    struct Case {
        const char* what;
        const char* text;  // null: no file at all
    };
    const Case cases[] = {
        {"include of a directory", includesDirectory.c_str()},
        // libconfig reads 1e999 as infinity, which would give full-scale DC.
        {"infinite volume_db", "volume_db = 1e999;\n"},
        {"no file", nullptr},
        {"syntax error", "volume_db = = 0.0;\nagc_enabled = true;\n"},
        {"no volume_db", "agc_enabled = true;\nagc_max_gain_db = 10.0;\n"},
        // libconfig does not deliver an integer where a float is looked up.
        {"integer volume_db", "volume_db = 0;\n"},
        {"volume_db as a string", "volume_db = \"0.0\";\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ConfigFileOverride file("ladspa_acoustic.cfg", c.text ? c.text : "");
        if (c.text == nullptr) {
            file.remove();
        }
        EXPECT_TRUE(allZero(runPlugin(library, 16000, 0.0f, in)));
    }
}

TEST(PluginSettings, VolumeAloneGivesTheChainsPlainPath) {
    // Equalizer and AGC keep their defaults (off), so at 0 dB (factor
    // 10^0 = 1) the output is the input, bit for bit; at -6.0 dB it is the
    // input times the factor 10^(-6 * 0.05) = 0.5011872 in single precision.
    ConfigFileOverride file("ladspa_acoustic.cfg", "volume_db = 0.0;\n");
    PluginLibrary library;
    const std::vector<float> in = speechLike(48000, 0.5, 0.9f);
    EXPECT_EQ(runPlugin(library, 48000, 0.0f, in), in);

    // The same through an include.
    TempDir dir;
    const std::string volume = dir.write("volume.cfg", "volume_db = 0.0;\n");
    ConfigFileOverride included("ladspa_acoustic.cfg", "@include \"" + volume + "\"\n");
    EXPECT_EQ(runPlugin(library, 48000, 0.0f, in), in);

    ConfigFileOverride quieter("ladspa_acoustic.cfg", "volume_db = -6.0;\n");
    const std::vector<float> out = runPlugin(library, 48000, 0.0f, in);
    for (size_t i = 0; i < in.size(); i += 997) {
        EXPECT_EQ(out[i], in[i] * 0.5011872f) << i;
    }
}

TEST(PluginSettings, EachHostBufferRunsInFlushToZeroModeAndTheHostsModeIsKept) {
    // On the plain path at 0 dB a subnormal input comes out as it went in
    // under gradual underflow; in flush-to-zero mode it is read as zero.
    ConfigFileOverride file("ladspa_acoustic.cfg", "volume_db = 0.0;\n");
    PluginLibrary library;
    ChainPlugin plugin(library, 48000, 0.0f);
    plugin.activate();
    const std::vector<float> in(64, 1e-40f);
    ASSERT_EQ(std::fpclassify(in[0]), FP_SUBNORMAL);
#if defined(__SSE__)
    // The control bits; the low six are sticky exception flags.
    const unsigned int controlBits = ~0x3fu;
    const unsigned int hostMode = _mm_getcsr() & controlBits;
#endif
    EXPECT_TRUE(allZero(plugin.process(in, 16)));
#if defined(__SSE__)
    EXPECT_EQ(_mm_getcsr() & controlBits, hostMode);
#endif
    volatile float tiny = 1e-40f;
    EXPECT_EQ(std::fpclassify(tiny * 1.0f), FP_SUBNORMAL) << "the host keeps gradual underflow";
}

TEST(PluginSettings, NonFiniteValuesAreRefusedAndTheOthersApply) {
    // libconfig reads 1e999 as infinity. Each infinite AGC value is refused
    // and its default stays, so the output is that of the finite settings
    // alone, within the default clip level 0.95.
    const std::vector<Setting> finite = {{"volume_db", "0.0"}, {"agc_enabled", "true"}};
    std::vector<Setting> settings = {{"agc_target_level_db", "1e999"},
                                     {"agc_max_gain_db", "1e999"},
                                     {"agc_max_amp", "-1e999"},
                                     {"agc_nonspeech_hold_gain_time", "1e999"},
                                     {"agc_nonspeech_release_speed", "1e999"}};
    settings.insert(settings.end(), finite.begin(), finite.end());
    ConfigFileOverride file("ladspa_acoustic.cfg", settingsText(settings));
    PluginLibrary library;
    const std::vector<float> in = testSignal(16000);
    const std::vector<float> out = runPlugin(library, 16000, 0.0f, in);
    EXPECT_EQ(out, referenceRun(finite, 16000, in));
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](float v) { return std::fabs(v) <= 0.95f; }));
    EXPECT_FALSE(allZero(out));
}

TEST(PluginSettings, InPlaceBuffersGiveTheSameOutput) {
    const std::vector<Setting> settings = fullSettings();
    ConfigFileOverride afilFile("ladspa_afil.cfg", settingsText(settings));
    PluginLibrary library;
    const std::vector<float> in = testSignal(48000);
    ChainPlugin separate(library, 48000, 1.0f), shared(library, 48000, 1.0f);
    separate.activate();
    shared.activate();
    EXPECT_EQ(shared.process(in, 64, true), separate.process(in, 64, false));
}

TEST(PluginSettings, ManyInstancesOfBothProfilesSideBySide) {
    const std::vector<Setting> settings = fullSettings();
    std::vector<Setting> acoustic = settings;
    acoustic[9].text = "false";  // equalizer off
    ConfigFileOverride afilFile("ladspa_afil.cfg", settingsText(settings));
    ConfigFileOverride acousticFile("ladspa_acoustic.cfg", settingsText(acoustic));

    PluginLibrary library;
    const unsigned fs = 16000;
    const std::vector<float> in = testSignal(fs);
    const std::vector<float> afilRef = referenceRun(settings, fs, in);
    const std::vector<float> acousticRef = referenceRun(acoustic, fs, in);

    // 24 instances alive at once, profiles interleaved, run block by block in
    // turn as a host with several streams would; each keeps its own state.
    const size_t count = 24, block = 160;
    std::vector<std::unique_ptr<ChainPlugin>> plugins;
    for (size_t k = 0; k < count; ++k) {
        plugins.push_back(std::make_unique<ChainPlugin>(library, fs, k % 2 ? 1.0f : 0.0f));
        plugins.back()->activate();
    }
    EXPECT_TRUE(isRegistered(kAfilName));
    EXPECT_TRUE(isRegistered(kAcousticName));
    std::vector<std::vector<float>> outs(count);
    for (size_t start = 0; start < in.size(); start += block) {
        const std::vector<float> chunk(in.begin() + start,
                                       in.begin() + std::min(in.size(), start + block));
        for (size_t k = 0; k < count; ++k) {
            const std::vector<float> out = plugins[k]->process(chunk, block);
            outs[k].insert(outs[k].end(), out.begin(), out.end());
        }
    }
    for (size_t k = 0; k < count; ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(outs[k], k % 2 ? afilRef : acousticRef);
    }

    // Cleaned up in reverse creation order, as a host tearing down its graph:
    // the later instances' cleanup leaves the registered chains in place.
    while (plugins.size() > 2) {
        plugins.pop_back();
    }
    EXPECT_TRUE(isRegistered(kAfilName));
    EXPECT_TRUE(isRegistered(kAcousticName));
    plugins.clear();
    EXPECT_FALSE(isRegistered(kAfilName));
    EXPECT_FALSE(isRegistered(kAcousticName));
}
