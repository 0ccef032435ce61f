// Kavit.ini texts for the settings tests, written out by hand from the file's layout, and the
// reset that starts every test from an empty table.
#pragma once

#include <string>

#include "settings/settings.h"

namespace settings_test {

const std::string IniPath = "C:\\Kavit\\Kavit.ini";
const std::string TempPath = IniPath.substr(0, IniPath.size() - 3) + "$$$";
const std::string Title = "[Kavit settings]" + std::string(47, '=') + "\r\n";
const std::string Closing = "//" + std::string(61, '=') + "\r\n";

// Fresh stand-in, empty PresetTable, AppSettings at their initial values.
void ResetAll();

// Title and lines 2 to 5 with the given values as written.
std::string Head(const std::string& interval = "10", const std::string& secondPlayer = "1",
                 const std::string& repeat = "0", const std::string& preset = "1");

// A 27-line preset block. Button b (1..12) of pad 1 is "1P:Fire<b>=<seed*100+b> <b+10> <b%2>",
// of pad 2 "2P:Key<b>=<seed*100+50+b> <b+30> <(b+1)%2>".
std::string Block(const std::string& header, int seed);
// Checks a preset read from Block(header, seed).
void ExpectBlock(const TCodes& preset, const std::string& header, int seed);
// Appends to PresetTable, in memory, the preset that Block(header, seed) describes.
void AddBlockPreset(const std::string& header, int seed);

// Head() + one Block per header with seeds 1, 2, ... + Closing.
std::string File(std::initializer_list<std::string> headers = {"[First]"});

// 1-based line `line` of a CR LF text replaced by `text` (which may hold line ends itself).
std::string WithLine(const std::string& file, size_t line, const std::string& text);

// Puts `content` at IniPath and loads it.
bool LoadText(const std::string& content);

} // namespace settings_test
