// Kavit.ini: the global settings and every preset, in a positional text format, read once at
// start-up and rewritten whole on every save.
#pragma once

#include <string>

#include "settings/presets.h"
#include "settings/settings_text.h"

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
