// Kavit.ini: the global settings and every preset, in a positional text format, read once at
// start-up and rewritten whole on every save.
#pragma once

#include <cstdint>
#include <string>

#include "settings/presets.h"

struct TAppSettings {
    uint32_t interval = 5000; // polling period, ms
    int32_t secondPlayer = 0; // 1: pad 2 is scanned and taught too
    int32_t repeat = 0;       // 1: a held button sends key-down on every poll
    // The current preset is PresetTable.currentPreset.
};

extern TAppSettings AppSettings;

// Reads the file once at start-up: fills AppSettings, appends to PresetTable, builds the preset
// submenu. True when the file was read to its end and every value passed validation.
bool LoadSettings(const std::string& path);

// Rewrites the whole file from memory. Never leaves a shortened or mixed file: on failure it
// shows "Can not write file Kavit.ini", keeps the old file and returns false.
bool SaveSettings(const std::string& path);

// Rewrites Kavit.ini beside the program; after a failed save the user is also told "Save error:
// Kavit.ini", and the program goes on.
void SaveSettingsOrTell();
