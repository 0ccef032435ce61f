// Kavit.ini texts for the settings tests, written by the program's own writer from known values,
// and the reset that starts every test from an empty table.
#pragma once

#include <string>
#include <vector>

#include "settings/settings.h"
#include "tests/fake/fake_win32.h"

namespace fake {
// Menu items compare field by field, so that a whole menu is one EXPECT_EQ.
inline bool operator==(const MenuItem& a, const MenuItem& b) {
    return a.flags == b.flags && a.id == b.id && a.text == b.text;
}
} // namespace fake

namespace settings_test {

const std::string IniPath = "C:\\Kavit\\Kavit.ini";
const std::string TempPath = IniPath.substr(0, IniPath.size() - 3) + "$$$";

// Fresh stand-in, empty PresetTable, AppSettings at their initial values.
void ResetAll();

// The preset of `seed`: button b (1..12) of pad 1 is labelled "Fire<b>" and sends
// seed*100+b, b+10, b%2; of pad 2 "Key<b>", seed*100+50+b, b+30, (b+1)%2.
TCodes BlockPreset(const std::string& header, int seed);
// Button b's (0..11) vk, scan and ext of pad 1, then of pad 2.
std::vector<int32_t> Keys(const TCodes& preset, int b);
// Checks a preset read from BlockPreset(header, seed).
void ExpectBlock(const TCodes& preset, const std::string& header, int seed);
// Appends BlockPreset(header, seed) to PresetTable, in memory.
void AddBlockPreset(const std::string& header, int seed);

// Kavit.ini as a save writes it: one BlockPreset per header with seeds 1, 2, ..., the given
// settings and current preset (0-based).
std::string File(const std::vector<std::string>& headers = {"[First]"},
                 const TAppSettings& app = {10, 1, 0}, int32_t current = 0);

// 1-based line `line` of a CR LF text replaced by `text` (which may hold line ends itself).
std::string WithLine(const std::string& file, size_t line, const std::string& text);

// The bytes of a file; `name` alone for a Kavit.ini kept beside these tests, written by hand:
//   first.ini  File({"[First]"}), as written out here, never by the program
//   odd.ini    File({"[A]", "", "[A]"}, {0, 0, 1}, 2), likewise
std::string FileBytes(const std::string& name);

// Puts `content` at IniPath and loads it.
bool LoadText(const std::string& content);

} // namespace settings_test
