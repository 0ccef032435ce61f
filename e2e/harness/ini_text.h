// Kavit.ini as the program writes it, built from values by the program's own writer, so that a
// case can write the file it starts from and know byte for byte what the program must write back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TKey {
    int vk = 0;
    int scan = 0;
    int ext = 0;
};

struct TPresetValues {
    std::string header; // "[Name]"
    std::string name1[12], name2[12];
    TKey pad1[12], pad2[12];
    const TKey& Key(int pad, int button) const {
        return pad == 1 ? pad1[button - 1] : pad2[button - 1];
    }
    TKey& Key(int pad, int button) { return pad == 1 ? pad1[button - 1] : pad2[button - 1]; }
};

struct TIniValues {
    uint32_t interval = 10;
    int secondPlayer = 0;
    int repeat = 0;
    int preset = 1; // as written: 1-based
    std::vector<TPresetValues> presets;
};

std::string IniText(const TIniValues& ini);
// Kavit.ini read back by the program's own reader; false when the reader stopped early (what it
// read until then is in `ini`).
bool ReadIniText(const std::string& text, TIniValues& ini);

// Three presets with twelve distinct keys per pad, none of them a modifier:
//   0 "[Arrows]"   pad 1 arrows, letters, Home/End/Insert/Delete; pad 2 letters, PgUp/PgDn
//   1 "[Digits]"   pad 1 digits and F1/F2; pad 2 F3..F12, N, M
//   2 "[Wide]"     as [Arrows], but pad 1 button 1 is vk 321 scan 286 (sent as 'A', 0x1E)
TPresetValues ArrowsPreset();
TPresetValues DigitsPreset();
TPresetValues WidePreset();
TIniValues StandardIni(int presetCount = 3);
