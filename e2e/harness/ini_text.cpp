#include "e2e/harness/ini_text.h"

#include "settings/settings_text.h"

namespace {

struct TNamedKey {
    const char* name;
    TKey key;
};

// Key tables: virtual key, set-1 scan code, extended flag.
const TNamedKey ArrowsPad1[12] = {
    {"Up", {0x26, 0x48, 1}},    {"Down", {0x28, 0x50, 1}}, {"Left", {0x25, 0x4B, 1}},
    {"Right", {0x27, 0x4D, 1}}, {"Fire", {'Z', 0x2C, 0}},  {"Jump", {'X', 0x2D, 0}},
    {"Home", {0x24, 0x47, 1}},  {"End", {0x23, 0x4F, 1}},  {"A", {'A', 0x1E, 0}},
    {"S", {'S', 0x1F, 0}},      {"Ins", {0x2D, 0x52, 1}},  {"Del", {0x2E, 0x53, 1}},
};
const TNamedKey ArrowsPad2[12] = {
    {"I", {'I', 0x17, 0}}, {"K", {'K', 0x25, 0}},     {"J", {'J', 0x24, 0}},
    {"L", {'L', 0x26, 0}}, {"Q", {'Q', 0x10, 0}},     {"W", {'W', 0x11, 0}},
    {"E", {'E', 0x12, 0}}, {"R", {'R', 0x13, 0}},     {"T", {'T', 0x14, 0}},
    {"Y", {'Y', 0x15, 0}}, {"PgUp", {0x21, 0x49, 1}}, {"PgDn", {0x22, 0x51, 1}},
};
const TNamedKey DigitsPad1[12] = {
    {"One", {'1', 0x02, 0}},   {"Two", {'2', 0x03, 0}},   {"Three", {'3', 0x04, 0}},
    {"Four", {'4', 0x05, 0}},  {"Five", {'5', 0x06, 0}},  {"Six", {'6', 0x07, 0}},
    {"Seven", {'7', 0x08, 0}}, {"Eight", {'8', 0x09, 0}}, {"Nine", {'9', 0x0A, 0}},
    {"Zero", {'0', 0x0B, 0}},  {"F1", {0x70, 0x3B, 0}},   {"F2", {0x71, 0x3C, 0}},
};
const TNamedKey DigitsPad2[12] = {
    {"F3", {0x72, 0x3D, 0}},  {"F4", {0x73, 0x3E, 0}},  {"F5", {0x74, 0x3F, 0}},
    {"F6", {0x75, 0x40, 0}},  {"F7", {0x76, 0x41, 0}},  {"F8", {0x77, 0x42, 0}},
    {"F9", {0x78, 0x43, 0}},  {"F10", {0x79, 0x44, 0}}, {"F11", {0x7A, 0x57, 0}},
    {"F12", {0x7B, 0x58, 0}}, {"N", {'N', 0x31, 0}},    {"M", {'M', 0x32, 0}},
};

TPresetValues Build(const char* header, const TNamedKey* pad1, const TNamedKey* pad2) {
    TPresetValues preset;
    preset.header = header;
    for (int i = 0; i < 12; i++) {
        preset.name1[i] = pad1[i].name;
        preset.pad1[i] = pad1[i].key;
        preset.name2[i] = pad2[i].name;
        preset.pad2[i] = pad2[i].key;
    }
    return preset;
}

} // namespace

std::string IniText(const TIniValues& ini) {
    TSettingsValues values;
    values.app = {ini.interval, ini.secondPlayer, ini.repeat};
    values.currentPreset = ini.preset - 1;
    for (const TPresetValues& preset : ini.presets) {
        TCodes& codes = values.presets.emplace_back();
        codes.header = preset.header;
        for (int b = 0; b < 12; b++) {
            codes.name1[b] = preset.name1[b];
            codes.name2[b] = preset.name2[b];
            codes.vk1[b] = preset.pad1[b].vk;
            codes.scan1[b] = preset.pad1[b].scan;
            codes.ext1[b] = preset.pad1[b].ext;
            codes.vk2[b] = preset.pad2[b].vk;
            codes.scan2[b] = preset.pad2[b].scan;
            codes.ext2[b] = preset.pad2[b].ext;
        }
    }
    return SettingsText(values);
}

bool ReadIniText(const std::string& text, TIniValues& ini) {
    TSettingsValues values;
    bool whole = ReadSettingsText(text, values);
    ini.interval = values.app.interval;
    ini.secondPlayer = values.app.secondPlayer;
    ini.repeat = values.app.repeat;
    ini.preset = values.currentPreset + 1;
    ini.presets.clear();
    for (const TCodes& codes : values.presets) {
        TPresetValues& preset = ini.presets.emplace_back();
        preset.header = codes.header;
        for (int b = 0; b < 12; b++) {
            preset.name1[b] = codes.name1[b];
            preset.name2[b] = codes.name2[b];
            preset.pad1[b] = {codes.vk1[b], codes.scan1[b], codes.ext1[b]};
            preset.pad2[b] = {codes.vk2[b], codes.scan2[b], codes.ext2[b]};
        }
    }
    return whole;
}

TPresetValues ArrowsPreset() {
    return Build("[Arrows]", ArrowsPad1, ArrowsPad2);
}

TPresetValues DigitsPreset() {
    return Build("[Digits]", DigitsPad1, DigitsPad2);
}

TPresetValues WidePreset() {
    TPresetValues preset = Build("[Wide]", ArrowsPad1, ArrowsPad2);
    preset.name1[0] = "Wide";
    preset.pad1[0] = TKey{321, 286, 0};
    return preset;
}

TIniValues StandardIni(int presetCount) {
    TIniValues ini;
    const TPresetValues all[3] = {ArrowsPreset(), DigitsPreset(), WidePreset()};
    for (int i = 0; i < presetCount && i < 3; i++)
        ini.presets.push_back(all[i]);
    return ini;
}
