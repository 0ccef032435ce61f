// Kavit.ini as text, the one place its layout is spelled: one function turns a file's bytes into
// values, the other turns values into the exact bytes a save writes. Neither touches a file, the
// menu or a notice; LoadSettings and SaveSettings do that around them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "settings/presets.h"

struct TAppSettings {
    uint32_t interval = 5000; // polling period, ms
    int32_t secondPlayer = 0; // 1: pad 2 is scanned and taught too
    int32_t repeat = 0;       // 1: a held button sends key-down on every poll
    // The current preset is PresetTable.currentPreset.
};

// Everything Kavit.ini holds.
struct TSettingsValues {
    TAppSettings app;
    int32_t currentPreset = 0; // 0-based; the file holds it plus one
    std::vector<TCodes> presets;
};

// Reads the text as the positional format says, appending every preset to `values.presets`
// (header, caption, labels, keys). False at the first malformed number: what was read until then
// stays in `values`, the preset being read included, and the rest is left as it was. Nothing is
// validated and the current preset is taken as the file gives it.
bool ReadSettingsText(const std::string& text, TSettingsValues& values);

// The whole file as a save writes it.
std::string SettingsText(const TAppSettings& app, int32_t currentPreset,
                         const std::vector<TCodes>& presets);
inline std::string SettingsText(const TSettingsValues& values) {
    return SettingsText(values.app, values.currentPreset, values.presets);
}
