#include "ProfileSettings.h"

#include <libconfig.h>

#include "InputFile.h"
#include "TuningError.h"

namespace {

std::optional<float> lookupFloat(const config_t& settings, const char* key) {
    double value = 0.0;
    if (config_lookup_float(&settings, key, &value) == CONFIG_TRUE) {
        return static_cast<float>(value);
    }
    return std::nullopt;
}

std::optional<bool> lookupBool(const config_t& settings, const char* key) {
    int value = 0;
    if (config_lookup_bool(&settings, key, &value) == CONFIG_TRUE) {
        return value != 0;
    }
    return std::nullopt;
}

}  // namespace

ProfileSettings ProfileSettings::read(const std::string& path) {
    InputFile::requireReadableConfig("profile", path);
    config_t settings;
    config_init(&settings);
    if (config_read_file(&settings, path.c_str()) != CONFIG_TRUE) {
        const std::string message =
            "profile " + path + ": parse error at line " +
            std::to_string(config_error_line(&settings)) + ": " +
            (config_error_text(&settings) ? config_error_text(&settings) : "unreadable");
        config_destroy(&settings);
        throw TuningError(message);
    }
    ProfileSettings profile;
    const char* coefficientFile = nullptr;
    if (config_lookup_string(&settings, "equalizer_coefficients_file", &coefficientFile) ==
        CONFIG_TRUE) {
        profile.equalizerCoefficientsFile = coefficientFile;
    }
    profile.agcTargetLevelDb = lookupFloat(settings, "agc_target_level_db");
    profile.agcMaxGainDb = lookupFloat(settings, "agc_max_gain_db");
    profile.agcMaxAmp = lookupFloat(settings, "agc_max_amp");
    profile.agcNonspeechHoldGainTime = lookupFloat(settings, "agc_nonspeech_hold_gain_time");
    profile.agcNonspeechReleaseSpeed = lookupFloat(settings, "agc_nonspeech_release_speed");
    profile.volumeDb = lookupFloat(settings, "volume_db");
    profile.agcEnabled = lookupBool(settings, "agc_enabled");
    profile.agcDecreaseMaxGain = lookupBool(settings, "agc_decrease_max_gain");
    profile.equalizerEnabled = lookupBool(settings, "equalizer_enabled");
    config_destroy(&settings);
    return profile;
}
