// Presets that follow programs. A word of a preset's header that begins with "@" names a program
// by its file name: "[Doom] @doom.exe @chocolate-doom.exe". When a window of such a program comes
// to the foreground, the first preset (in file order) that names it becomes current; when the
// foreground goes to a program that no preset names, the preset the user chose comes back.
// Kavit.ini keeps the chosen one: following the foreground never writes it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The file names that a header's "@" words name, in order. Words are parted by blanks and by
// "[" and "]", so "[Doom @doom.exe]" names doom.exe too; a lone "@" names nothing.
std::vector<std::string> ProgramsNamed(const std::string& header);

// True when some preset names a program: only then is the foreground looked at.
bool AnyPresetFollowsPrograms();

// Index of the first preset that names the program at `path` (a full path, a device path or a
// bare file name), its file name compared without case (ASCII letters); -1 when none does.
int32_t PresetForProgram(const std::string& path);

// The foreground went to the program at `path` ("" when it cannot be told): the preset that
// names it, or else the chosen one, becomes current. True when the current preset changed;
// `previous` is then the one current before.
bool FollowProgram(const std::string& path, int32_t& previous);
