// A minimal LADSPA host for tests: loads the built plug-in module with
// dlopen() as real hosts do and drives its callbacks directly, plus the
// helpers the plug-in tests share (test signals, settings files in the
// configuration directory, a reference run through the C interface).
#ifndef LYRANE_TEST_PLUGINHOST_H
#define LYRANE_TEST_PLUGINHOST_H

#include <ladspa.h>

#include <string>
#include <utility>
#include <vector>

#include "playbackprocessing_cwrapper.h"

constexpr const char* kAcousticName = "LADSPA_PLAYBACKPROCESSING_ACOUSTIC";
constexpr const char* kAfilName = "LADSPA_PLAYBACKPROCESSING_AFIL";

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

// Replaces a file of the configuration directory for the object's lifetime
// and puts the shipped content (or absence) back afterwards. Tests using it
// hold the configuration directory's resource lock.
class SettingsOverride {
  public:
    SettingsOverride(const std::string& fileName, const std::string& text);
    ~SettingsOverride();
    SettingsOverride(const SettingsOverride&) = delete;
    SettingsOverride& operator=(const SettingsOverride&) = delete;

  private:
    std::string path;
    bool existed;
    std::string original;
};

std::string configDirFile(const std::string& fileName);

// Whether the process-wide registry holds a chain under name.
bool isRegistered(const char* name);

// A version-2 coefficient file with 16000 and 48000 Hz sets: a 150 Hz
// high-pass and a +6 dB peak at 2.5 kHz (Q 1), designed with the audio EQ
// cookbook formulas in double precision and rounded to 9 digits.
std::string testCoefficientFile();

// Speech-like test signal: voiced syllables (a 140 Hz pulse-like harmonic
// tone with a 4 Hz syllable envelope) at the given peak amplitude, separated
// by pauses of low noise; deterministic.
std::vector<float> speechLike(unsigned fs, double seconds, float peak);

// One setting of the plug-in's settings file, with the C interface call it
// becomes; applied in the order given.
struct Setting {
    std::string key;
    std::string text;  // as written in the settings file
};
std::string settingsText(const std::vector<Setting>& settings);

// The same settings applied by calling the C interface directly on a chain of
// its own (a different registry name), then the input run one sample per
// block as the plug-in does.
std::vector<float> referenceRun(const std::vector<Setting>& settings, unsigned fs,
                                const std::vector<float>& in);

#endif
