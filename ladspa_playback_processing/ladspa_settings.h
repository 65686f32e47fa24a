/*
 * The keys of the LADSPA plug-in's settings files (ladspa_acoustic.cfg,
 * ladspa_afil.cfg): for each, the libconfig lookup that reads it and the C
 * interface call it becomes. The plug-in applies them in the table's order:
 * the coefficient file is loaded before equalizer_enabled switches the
 * equalizer on, and the chain stays muted until volume_db is applied. The
 * plug-in's tests read the same table for the type and the call of a key.
 *
 * Plain C with internal linkage: the plug-in is a module of its own, and a
 * test program includes the header instead of linking the module.
 */
#ifndef LADSPA_SETTINGS_H
#define LADSPA_SETTINGS_H

#include <libconfig.h>
#include <stddef.h>
#include <string.h>

#include "playbackprocessing_cwrapper.h"

/* Exactly one setter is set; it names the lookup that reads the key. */
typedef struct {
    const char* key;
    int (*setString)(PlaybackProcessingData*, const char*); /* config_lookup_string */
    int (*setFloat)(PlaybackProcessingData*, float);        /* config_lookup_float */
    int (*setBool)(PlaybackProcessingData*, int);           /* config_lookup_bool */
} LadspaSetting;

static const LadspaSetting kLadspaSettings[] = {
    {"equalizer_coefficients_file", PlaybackProcessing_setEqualizerFilename, NULL, NULL},
    {"agc_target_level_db", NULL, PlaybackProcessing_setAGCTargetLevelDb, NULL},
    {"agc_max_gain_db", NULL, PlaybackProcessing_setAGCMaxGainDb, NULL},
    {"agc_max_amp", NULL, PlaybackProcessing_setAGCMaxAmp, NULL},
    {"agc_nonspeech_hold_gain_time", NULL, PlaybackProcessing_setAGCNonspeechHoldGainTime, NULL},
    {"agc_nonspeech_release_speed", NULL, PlaybackProcessing_setAGCNonspeechReleaseSpeed, NULL},
    {"volume_db", NULL, PlaybackProcessing_setOutputGainDb, NULL},
    {"agc_enabled", NULL, NULL, PlaybackProcessing_setAGCEnabled},
    {"agc_decrease_max_gain", NULL, NULL, PlaybackProcessing_setAGCDecreaseMaxGain},
    {"equalizer_enabled", NULL, NULL, PlaybackProcessing_setEqualizerEnabled},
};

#define LADSPA_SETTING_COUNT (sizeof(kLadspaSettings) / sizeof(kLadspaSettings[0]))

/* The table's entry for key, or null for a key the plug-in does not read. */
static inline const LadspaSetting* findLadspaSetting(const char* key) {
    for (unsigned long i = 0; i < LADSPA_SETTING_COUNT; ++i) {
        if (strcmp(kLadspaSettings[i].key, key) == 0) {
            return &kLadspaSettings[i];
        }
    }
    return NULL;
}

/* Makes the setting's C interface call when settings hold its key with the
 * lookup's type; a key that is absent, or of a type the lookup does not
 * deliver, is skipped. Floats are read as double and passed on as float,
 * flags as the 0 or 1 libconfig delivers. */
static inline void applyLadspaSetting(const config_t* settings, const LadspaSetting* setting,
                                      PlaybackProcessingData* chain) {
    const char* text = NULL;
    double number = 0.0;
    int flag = 0;
    if (setting->setString != NULL &&
        config_lookup_string(settings, setting->key, &text) == CONFIG_TRUE) {
        setting->setString(chain, text);
    } else if (setting->setFloat != NULL &&
               config_lookup_float(settings, setting->key, &number) == CONFIG_TRUE) {
        setting->setFloat(chain, (float)number);
    } else if (setting->setBool != NULL &&
               config_lookup_bool(settings, setting->key, &flag) == CONFIG_TRUE) {
        setting->setBool(chain, flag);
    }
}

#endif /* LADSPA_SETTINGS_H */
