// Kavit.ini as the cases write it and expect it back, its presets written out literally here and
// never by the program's own writer, so that a fault of the writer shows in the file's bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A preset as Kavit.ini spells it: the header line, then each pad's twelve button lines, CR LF
// after each ("1P:Up=38 72 1\r\n..."). The keys a case expects are read from these lines.
struct TPresetValues {
    std::string header, pad1, pad2; // header: "[Name]"
};

struct TIniValues {
    uint32_t interval = 10;
    int secondPlayer = 0, repeat = 0, preset = 1; // preset as written: 1-based
    std::vector<TPresetValues> presets;
};

std::string IniText(const TIniValues& ini);

// Three presets with twelve distinct keys per pad, none of them a modifier:
//   0 "[Arrows]"   pad 1 arrows, letters, Home/End/Insert/Delete; pad 2 letters, PgUp/PgDn
//   1 "[Digits]"   pad 1 digits and F1/F2; pad 2 F3..F12, N, M
//   2 "[Wide]"     as [Arrows], but pad 1 button 1 is vk 321 scan 286 (sent as 'A', 0x1E)
extern const TPresetValues Arrows, Digits;
TIniValues StandardIni(int presetCount = 3);

// `text` with its one `from` replaced by `to`; fails when `from` is not in it.
std::string Replaced(std::string text, const std::string& from, const std::string& to);
