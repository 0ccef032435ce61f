// The preset table: every named key layout read from Kavit.ini, in file order, with the index of
// the current one and the "Preset" submenu whose items stand for them.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

const int ButtonsPerPad = 12;
const UINT CmdPresetBase = 900; // preset k has the command id 900 + k

// One preset. Button b (1..12) of a pad is element [b - 1] of its arrays.
struct TCodes {
    std::string header;  // header line exactly as read, normally "[Name]"
    std::string caption; // header without any "[" or "]": the submenu text
    int32_t vk1[ButtonsPerPad] = {};
    int32_t scan1[ButtonsPerPad] = {};
    int32_t ext1[ButtonsPerPad] = {}; // 0 or 1 = KEYEVENTF_EXTENDEDKEY
    int32_t vk2[ButtonsPerPad] = {};
    int32_t scan2[ButtonsPerPad] = {};
    int32_t ext2[ButtonsPerPad] = {};
    std::string name1[ButtonsPerPad]; // labels, at most 12 characters
    std::string name2[ButtonsPerPad];
};

struct TPresetTable {
    std::vector<TCodes> presets;
    int32_t presetCount = 0;
    int32_t currentPreset = 0; // also AppSettings' current preset: one value, kept here
    // The user's own choice while a program in the foreground has its preset current; -1 when
    // the current preset is the user's choice (settings/program_presets.h).
    int32_t chosenPreset = -1;
    HMENU PresetSubmenu = nullptr;
    bool presetSubmenuCreated = false;
};

extern TPresetTable PresetTable;

// The preset the user chose last, the one Kavit.ini keeps.
int32_t ChosenPreset();

// "[A]B[C]" -> "ABC".
std::string CaptionOf(const std::string& header);
