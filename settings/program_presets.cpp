#include "settings/program_presets.h"

#include "settings/presets.h"

namespace {

const char ProgramMark = '@';

bool PartsWords(char c) {
    return static_cast<unsigned char>(c) <= ' ' || c == '[' || c == ']';
}

char Folded(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Folded(a[i]) != Folded(b[i]))
            return false;
    return true;
}

// What follows the last backslash of a Win32 path, or of a device path such as
// "\Device\HarddiskVolume2\Games\doom.exe".
std::string FileNameOf(const std::string& path) {
    size_t slash = path.rfind('\\');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

std::vector<std::string> ProgramsNamed(const std::string& header) {
    std::vector<std::string> names;
    size_t i = 0;
    while (i < header.size()) {
        if (PartsWords(header[i])) {
            ++i;
            continue;
        }
        size_t start = i;
        while (i < header.size() && !PartsWords(header[i]))
            ++i;
        if (header[start] == ProgramMark && i - start > 1)
            names.push_back(header.substr(start + 1, i - start - 1));
    }
    return names;
}

bool AnyPresetFollowsPrograms() {
    for (const TCodes& preset : PresetTable.presets)
        if (!ProgramsNamed(preset.header).empty())
            return true;
    return false;
}

int32_t PresetForProgram(const std::string& path) {
    std::string file = FileNameOf(path);
    if (file.empty())
        return -1;
    for (size_t k = 0; k < PresetTable.presets.size(); ++k)
        for (const std::string& name : ProgramsNamed(PresetTable.presets[k].header))
            if (SameName(name, file))
                return static_cast<int32_t>(k);
    return -1;
}

bool FollowProgram(const std::string& path, int32_t& previous) {
    int32_t chosen = ChosenPreset();
    int32_t target = PresetForProgram(path);
    if (target < 0)
        target = chosen;
    previous = PresetTable.currentPreset;
    if (target == previous)
        return false;
    PresetTable.currentPreset = target;
    PresetTable.chosenPreset = target == chosen ? -1 : chosen;
    return true;
}
