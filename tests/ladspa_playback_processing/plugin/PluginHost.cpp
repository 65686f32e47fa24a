#include "PluginHost.h"

#include <dlfcn.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

#include "ExternalModuleRegistry.h"
#include "PlaybackProcessing.h"

PluginLibrary::PluginLibrary() {
    module = dlopen(LYRANE_PLUGIN_FILE, RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        throw std::runtime_error(std::string("dlopen failed: ") + dlerror());
    }
    discover = reinterpret_cast<LADSPA_Descriptor_Function>(dlsym(module, "ladspa_descriptor"));
    if (discover == nullptr) {
        dlclose(module);
        throw std::runtime_error("the module exports no ladspa_descriptor");
    }
}

PluginLibrary::~PluginLibrary() {
    dlclose(module);
}

const LADSPA_Descriptor* PluginLibrary::descriptor(unsigned long index) const {
    return discover(index);
}

const LADSPA_Descriptor& PluginLibrary::chain() const {
    const LADSPA_Descriptor* d = discover(1);
    if (d == nullptr) {
        throw std::runtime_error("no descriptor at index 1");
    }
    return *d;
}

ChainPlugin::ChainPlugin(const PluginLibrary& library, unsigned long fs, float modeValue)
    : descriptor(library.chain()), mode(modeValue) {
    handle = descriptor.instantiate(&descriptor, fs);
    if (handle == nullptr) {
        throw std::runtime_error("instantiate failed");
    }
    descriptor.connect_port(handle, 2, &mode);
}

ChainPlugin::~ChainPlugin() {
    descriptor.cleanup(handle);
}

void ChainPlugin::activate() {
    descriptor.activate(handle);
}

std::vector<float> ChainPlugin::process(const std::vector<float>& in, size_t blockSize,
                                        bool inPlace) {
    std::vector<float> out(in.size());
    inBuffer.resize(blockSize);
    outBuffer.resize(blockSize);
    // Hosts connect once and refill the same buffers for every run.
    descriptor.connect_port(handle, 0, inBuffer.data());
    descriptor.connect_port(handle, 1, inPlace ? inBuffer.data() : outBuffer.data());
    const std::vector<float>& result = inPlace ? inBuffer : outBuffer;
    for (size_t start = 0; start < in.size(); start += blockSize) {
        const size_t n = std::min(blockSize, in.size() - start);
        std::copy(in.begin() + start, in.begin() + start + n, inBuffer.begin());
        descriptor.run(handle, n);
        std::copy(result.begin(), result.begin() + n, out.begin() + start);
    }
    return out;
}

namespace {

std::string readFile(const std::string& path, bool& found) {
    std::ifstream in(path, std::ios::binary);
    found = static_cast<bool>(in);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

}  // namespace

std::string configDirFile(const std::string& fileName) {
    return std::string(LYRANE_CONFIG_DIR) + "/" + fileName;
}

bool isRegistered(const char* name) {
    return static_cast<bool>(ExternalModuleRegistry::getInstance()->getPlaybackProcessing(name));
}

SettingsOverride::SettingsOverride(const std::string& fileName, const std::string& text)
    : path(configDirFile(fileName)) {
    original = readFile(path, existed);
    writeFile(path, text);
}

SettingsOverride::~SettingsOverride() {
    if (existed) {
        writeFile(path, original);
    } else {
        std::remove(path.c_str());
    }
}

std::string testCoefficientFile() {
    return "filter_fs_16000 = {\n"
           "  fs = 16000;\n"
           "  gain = 0.9;\n"
           "  b0 = [0.959202782, 1.226314852];\n"
           "  b1 = [-1.918405564, -0.858475831];\n"
           "  b2 = [0.959202782, 0.318900821];\n"
           "  a1 = [-1.916740489, -0.858475831];\n"
           "  a2 = [0.920070640, 0.545215672];\n"
           "};\n"
           "filter_fs_48000 = {\n"
           "  fs = 48000;\n"
           "  gain = 0.9;\n"
           "  b0 = [0.986211795, 1.101673322];\n"
           "  b1 = [-1.972423590, -1.700388588];\n"
           "  b2 = [0.986211795, 0.694012057];\n"
           "  a1 = [-1.972233470, -1.700388588];\n"
           "  a2 = [0.972613710, 0.795685378];\n"
           "};\n";
}

std::vector<float> speechLike(unsigned fs, double seconds, float peak) {
    const double pi = 3.14159265358979323846;
    const size_t n = static_cast<size_t>(seconds * fs);
    std::vector<float> x(n);
    uint32_t noise = 12345u;
    for (size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / fs;
        // 1.5 s of syllables, then 0.75 s of pause.
        const double phrase = std::fmod(t, 2.25);
        const double syllable = phrase < 1.5 ? std::pow(std::sin(pi * 4.0 * phrase), 2.0) : 0.0;
        double voiced = 0.0;
        for (int h = 1; h <= 12; ++h) {
            // Harmonics falling off at 6 dB per octave, like a glottal source.
            voiced += std::sin(2.0 * pi * 140.0 * h * t + 0.3 * h) / h;
        }
        noise = noise * 1664525u + 1013904223u;
        const double hiss = (static_cast<double>(noise >> 8) / 16777216.0 - 0.5) * 0.002;
        x[i] = static_cast<float>(peak * 0.45 * syllable * voiced + hiss);
    }
    return x;
}

std::string settingsText(const std::vector<Setting>& settings) {
    std::string text;
    for (const auto& s : settings) {
        text += s.key + " = " + s.text + ";\n";
    }
    return text;
}

std::vector<float> referenceRun(const std::vector<Setting>& settings, unsigned fs,
                                const std::vector<float>& in) {
    using FloatSetter = int (*)(PlaybackProcessingData*, float);
    using FlagSetter = int (*)(PlaybackProcessingData*, int);
    const std::map<std::string, FloatSetter> floats = {
        {"agc_target_level_db", PlaybackProcessing_setAGCTargetLevelDb},
        {"agc_max_gain_db", PlaybackProcessing_setAGCMaxGainDb},
        {"agc_max_amp", PlaybackProcessing_setAGCMaxAmp},
        {"agc_nonspeech_hold_gain_time", PlaybackProcessing_setAGCNonspeechHoldGainTime},
        {"agc_nonspeech_release_speed", PlaybackProcessing_setAGCNonspeechReleaseSpeed},
        {"volume_db", PlaybackProcessing_setOutputGainDb}};
    const std::map<std::string, FlagSetter> flags = {
        {"agc_enabled", PlaybackProcessing_setAGCEnabled},
        {"agc_decrease_max_gain", PlaybackProcessing_setAGCDecreaseMaxGain},
        {"equalizer_enabled", PlaybackProcessing_setEqualizerEnabled}};

    PlaybackProcessingData* chain = PlaybackProcessing_Init("PLUGIN_TEST_REFERENCE", 1, fs);
    if (chain == nullptr) {
        throw std::runtime_error("reference chain not created");
    }
    for (const auto& s : settings) {
        if (s.key == "equalizer_coefficients_file") {
            // The text is a quoted string without escapes.
            PlaybackProcessing_setEqualizerFilename(chain,
                                                    s.text.substr(1, s.text.size() - 2).c_str());
        } else if (floats.count(s.key) != 0) {
            floats.at(s.key)(chain, static_cast<float>(std::strtod(s.text.c_str(), nullptr)));
        } else if (flags.count(s.key) != 0) {
            flags.at(s.key)(chain, s.text == "true" ? 1 : 0);
        } else {
            PlaybackProcessing_Uninit(chain);
            throw std::runtime_error("unknown setting " + s.key);
        }
    }
    std::vector<float> out(in.size());
    for (size_t i = 0; i < in.size(); ++i) {
        PlaybackProcessing_Process(chain, &in[i], &out[i]);
    }
    PlaybackProcessing_Uninit(chain);
    return out;
}
