#include "settings/settings.h"

#include <windows.h>

#include <utility>

#include "common/notice.h"
#include "common/program_dir.h"
#include "settings/text_file.h"

TAppSettings AppSettings;

namespace {

const char BadPresetNotice[] = "Bad Preset namber in Kavit.ini file, used first";
const char CannotWriteNotice[] = "Can not write file Kavit.ini";

// Appends the presets read to the table and each one's item to the submenu, in file order, the
// current one checked. True when the current preset is among them.
bool AppendPresets(std::vector<TCodes>& presets) {
    TPresetTable& table = PresetTable;
    bool currentFound = false;
    table.presets.reserve(table.presets.size() + presets.size());
    for (TCodes& preset : presets) {
        const int32_t k = table.presetCount;
        table.presetCount += 1;
        if (!table.presetSubmenuCreated) {
            table.PresetSubmenu = CreatePopupMenu();
            table.presetSubmenuCreated = true;
        }
        UINT flags = MF_STRING;
        if (k == table.currentPreset) {
            flags |= MF_CHECKED;
            currentFound = true;
        }
        AppendMenuA(table.PresetSubmenu, flags, CmdPresetBase + static_cast<UINT>(k),
                    preset.caption.c_str());
        table.presets.push_back(std::move(preset));
    }
    return currentFound;
}

bool IsFlag(int32_t value) {
    return value == 0 || value == 1;
}

// Every check runs, so that all of a bad file is looked at even after the first fault.
bool ValidSettings() {
    bool valid = true;
    for (const TCodes& preset : PresetTable.presets) {
        for (int b = 0; b < ButtonsPerPad; ++b) {
            if (preset.vk1[b] < 0 || preset.scan1[b] < 0 || preset.vk2[b] < 0 ||
                preset.scan2[b] < 0)
                valid = false;
            if (!IsFlag(preset.ext1[b]) || !IsFlag(preset.ext2[b]))
                valid = false;
        }
    }
    if (!IsFlag(AppSettings.secondPlayer))
        valid = false;
    if (!IsFlag(AppSettings.repeat))
        valid = false;
    return valid;
}

} // namespace

bool LoadSettings(const std::string& path) {
    std::string content;
    if (!ReadWholeFile(path, content))
        return false;
    // A malformed number ends the load, but what was read until then is kept, in memory and in
    // the submenu, as it would be by a reader that stores each value as it goes.
    TSettingsValues values;
    values.app = AppSettings;
    values.currentPreset = PresetTable.currentPreset;
    bool read = ReadSettingsText(content, values);
    AppSettings = values.app;
    PresetTable.currentPreset = values.currentPreset;
    bool currentFound = AppendPresets(values.presets);
    if (!read)
        return false;

    if (!currentFound) {
        PresetTable.currentPreset = 0;
        ShowNotice(BadPresetNotice);
        if (PresetTable.presetCount == 0)
            return false;
        ModifyMenuA(PresetTable.PresetSubmenu, 0, MF_BYPOSITION | MF_CHECKED, CmdPresetBase,
                    PresetTable.presets[0].caption.c_str());
    }
    return ValidSettings();
}

bool SaveSettings(const std::string& path) {
    if (ReplaceWholeFile(path, SettingsText(AppSettings, ChosenPreset(), PresetTable.presets)))
        return true;
    ShowNotice(CannotWriteNotice);
    return false;
}

void SaveSettingsOrTell() {
    if (!SaveSettings(programDir + SettingsFileName))
        ShowNotice("Save error: Kavit.ini");
}
