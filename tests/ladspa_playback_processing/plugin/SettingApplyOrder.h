/*
 * The order in which the plug-in must apply the keys of its settings file,
 * written out here apart from the plug-in's own table: the references the
 * plug-in's output is compared with apply the keys a settings file holds in
 * this order, so a fault in the table's order shows up as a difference.
 * The coefficient file comes before equalizer_enabled switches the equalizer
 * on, and volume_db unmutes the chain. Plain C, for plugin_reference too.
 */
#ifndef LYRANE_TEST_SETTINGAPPLYORDER_H
#define LYRANE_TEST_SETTINGAPPLYORDER_H

static const char* const kSettingApplyOrder[] = {
    "equalizer_coefficients_file",  "agc_target_level_db",         "agc_max_gain_db", "agc_max_amp",
    "agc_nonspeech_hold_gain_time", "agc_nonspeech_release_speed", "volume_db",       "agc_enabled",
    "agc_decrease_max_gain",        "equalizer_enabled",
};

#define SETTING_APPLY_ORDER_COUNT (sizeof(kSettingApplyOrder) / sizeof(kSettingApplyOrder[0]))

#endif
