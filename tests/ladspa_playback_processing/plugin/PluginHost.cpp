#include "PluginHost.h"

#include <dlfcn.h>
#include <libconfig.h>

#include <stdexcept>

#include "ExternalModuleRegistry.h"
#include "PlaybackProcessing.h"
#include "SettingApplyOrder.h"
#include "ladspa_settings.h"

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

bool isRegistered(const char* name) {
    return static_cast<bool>(ExternalModuleRegistry::getInstance()->getPlaybackProcessing(name));
}

std::vector<float> speechLike(unsigned fs, double seconds, float peak) {
    return speechLikeSamples(static_cast<size_t>(seconds * fs), fs, peak);
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
    config_t file;
    config_init(&file);
    if (config_read_string(&file, settingsText(settings).c_str()) != CONFIG_TRUE) {
        config_destroy(&file);
        throw std::runtime_error("reference settings do not parse");
    }
    PlaybackProcessingData* chain = PlaybackProcessing_Init("PLUGIN_TEST_REFERENCE", 1, fs);
    if (chain == nullptr) {
        config_destroy(&file);
        throw std::runtime_error("reference chain not created");
    }
    for (const char* key : kSettingApplyOrder) {
        const LadspaSetting* setting = findLadspaSetting(key);
        if (setting == nullptr) {
            PlaybackProcessing_Uninit(chain);
            config_destroy(&file);
            throw std::runtime_error(std::string("the plug-in reads no key ") + key);
        }
        applyLadspaSetting(&file, setting, chain);
    }
    config_destroy(&file);
    std::vector<float> out(in.size());
    for (size_t i = 0; i < in.size(); ++i) {
        PlaybackProcessing_Process(chain, &in[i], &out[i]);
    }
    PlaybackProcessing_Uninit(chain);
    return out;
}
