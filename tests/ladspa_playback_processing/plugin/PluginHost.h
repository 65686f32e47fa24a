// A minimal LADSPA host for tests: loads the built plug-in module with
// dlopen() as real hosts do and drives its callbacks directly, plus the
// helpers the plug-in tests share (settings files, a reference run through
// the C interface).
#ifndef LYRANE_TEST_PLUGINHOST_H
#define LYRANE_TEST_PLUGINHOST_H

#include <ladspa.h>

#include <string>
#include <utility>
#include <vector>

#include "ConfigDirFile.h"
#include "PlaybackChainNames.h"
#include "SpeechLikeSignal.h"
#include "playbackprocessing_cwrapper.h"

constexpr const char* kAcousticName = LYRANE_ACOUSTIC_CHAIN_NAME;
constexpr const char* kAfilName = LYRANE_AFIL_CHAIN_NAME;

// The plug-in module, loaded for the object's lifetime.
class PluginLibrary {
  public:
    PluginLibrary();
    ~PluginLibrary();
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    const LADSPA_Descriptor* descriptor(unsigned long index) const;
    const LADSPA_Descriptor& chain() const;  // index 1, must exist

  private:
    void* module;
    LADSPA_Descriptor_Function discover;
};

// One instance of the "PLAYBACKPROCESSING" plug-in with its own port
// buffers, connected like a host connects them. Cleaned up on destruction.
class ChainPlugin {
  public:
    ChainPlugin(const PluginLibrary& library, unsigned long fs, float mode);
    ~ChainPlugin();
    ChainPlugin(const ChainPlugin&) = delete;
    ChainPlugin& operator=(const ChainPlugin&) = delete;

    void setMode(float value) { mode = value; }
    void activate();
    // Runs the input through the plug-in in host blocks of blockSize samples,
    // input and output in separate buffers or, inPlace, in one buffer.
    std::vector<float> process(const std::vector<float>& in, size_t blockSize = 256,
                               bool inPlace = false);

  private:
    const LADSPA_Descriptor& descriptor;
    LADSPA_Handle handle;
    float mode;
    std::vector<float> inBuffer;
    std::vector<float> outBuffer;
};

// Whether the process-wide registry holds a chain under name.
bool isRegistered(const char* name);

// The speech-like test signal of the given length at fs Hz.
std::vector<float> speechLike(unsigned fs, double seconds, float peak);

// One setting of the plug-in's settings file.
struct Setting {
    std::string key;
    std::string text;  // as written in the settings file
};
std::string settingsText(const std::vector<Setting>& settings);

// The same settings applied by calling the C interface directly on a chain of
// its own (a different registry name), in the order of SettingApplyOrder.h
// whatever their order here, then the input run one sample per block as the
// plug-in does.
std::vector<float> referenceRun(const std::vector<Setting>& settings, unsigned fs,
                                const std::vector<float>& in);

#endif
