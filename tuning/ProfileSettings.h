// A plug-in settings profile (ladspa_acoustic.cfg, ladspa_afil.cfg): the
// keys the plug-in looks up, read with the same libconfig lookups, so a
// value the plug-in would skip (an integer where a float is looked up) is
// absent here too.
#ifndef LYRANE_TUNING_PROFILESETTINGS_H
#define LYRANE_TUNING_PROFILESETTINGS_H

#include <optional>
#include <string>

struct ProfileSettings {
    std::optional<std::string> equalizerCoefficientsFile;
    std::optional<float> agcTargetLevelDb;
    std::optional<float> agcMaxGainDb;
    std::optional<float> agcMaxAmp;
    std::optional<float> agcNonspeechHoldGainTime;
    std::optional<float> agcNonspeechReleaseSpeed;
    std::optional<float> volumeDb;
    std::optional<bool> agcEnabled;
    std::optional<bool> agcDecreaseMaxGain;
    std::optional<bool> equalizerEnabled;

    // Throws TuningError naming the file when it cannot be read or parsed
    // (the plug-in would then run muted with every block at its default).
    static ProfileSettings read(const std::string& path);
};

#endif  // LYRANE_TUNING_PROFILESETTINGS_H
