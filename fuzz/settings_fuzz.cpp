// libFuzzer target: any bytes as Kavit.ini. Whatever the file holds, LoadSettings must neither
// crash nor leave the table and the submenu at odds; what it accepts, with new keys taught to the
// current preset as Set keys does, must survive a save and a second load.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "settings/settings.h"
#include "settings/text_file.h"
#include "settings/text_reader.h"
#include "tests/fake/fake_win32.h"

namespace {

const std::string IniPath = "C:\\Kavit\\Kavit.ini";
size_t notices = 0;

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "settings_fuzz: %s\n", what);
        std::abort();
    }
}

bool Load(const std::string& content) {
    fake::Reset();
    fake::recording = false;
    notices = 0;
    fake::on.MessageBoxA = [](HWND, LPCSTR, LPCSTR, UINT) {
        ++notices;
        return IDOK;
    };
    PresetTable = TPresetTable{};
    AppSettings = TAppSettings{};
    fake::files[IniPath] = content;
    return LoadSettings(IniPath);
}

bool IsFlag(int32_t v) {
    return v == 0 || v == 1;
}

// What holds after any LoadSettings, and after a successful one.
void CheckTable(bool loaded) {
    const TPresetTable& table = PresetTable;
    Check(table.presetCount >= 0 && static_cast<size_t>(table.presetCount) == table.presets.size(),
          "presetCount is the number of presets");
    Check(notices <= 1, "at most one notice");
    Check(fake::OpenFileCount() == 0, "file closed");
    Check(table.presetSubmenuCreated == (table.presetCount > 0), "submenu with the first preset");
    if (table.presetSubmenuCreated) {
        const std::vector<fake::MenuItem>& items = fake::menus[table.PresetSubmenu];
        Check(items.size() == table.presets.size(), "one item per preset");
        for (size_t k = 0; k < items.size(); ++k) {
            Check(items[k].id == CmdPresetBase + k, "item id 900 + k");
            Check(items[k].text == table.presets[k].caption.c_str(), "item text is the caption");
            bool checked = (items[k].flags & MF_CHECKED) != 0;
            if (loaded)
                Check(checked == (static_cast<int32_t>(k) == table.currentPreset),
                      "exactly the current preset checked");
        }
    }
    for (const TCodes& preset : table.presets) {
        Check(preset.header.find('\n') == std::string::npos, "header is one line");
        Check(preset.caption.find_first_of("[]") == std::string::npos, "caption without [ ]");
        for (int b = 0; b < ButtonsPerPad; ++b)
            for (const std::string* name : {&preset.name1[b], &preset.name2[b]})
                Check(name->size() <= 12 && name->find('=') == std::string::npos,
                      "label of at most 12 characters without =");
    }
    if (!loaded)
        return;
    Check(table.presetCount >= 1, "a loaded file has a preset");
    Check(table.currentPreset >= 0 && table.currentPreset < table.presetCount,
          "current preset in range");
    Check(IsFlag(AppSettings.secondPlayer) && IsFlag(AppSettings.repeat), "flags validated");
    for (const TCodes& p : table.presets)
        for (int b = 0; b < ButtonsPerPad; ++b)
            Check(p.vk1[b] >= 0 && p.scan1[b] >= 0 && p.vk2[b] >= 0 && p.scan2[b] >= 0 &&
                      IsFlag(p.ext1[b]) && IsFlag(p.ext2[b]),
                  "key values validated");
}

// New keys for every button of the sequence (pad 2 only with a second player), stored as key
// assignment stores them: a virtual-key code, a scan code of 8 bits, an extended flag.
void TeachKeys(uint32_t r) {
    TCodes& preset = PresetTable.presets[static_cast<size_t>(PresetTable.currentPreset)];
    for (int n = 0; n < ButtonsPerPad * (1 + AppSettings.secondPlayer); ++n) {
        r = r * 1103515245u + 12345u;
        int b = n % ButtonsPerPad;
        (n < ButtonsPerPad ? preset.vk1 : preset.vk2)[b] = 1 + static_cast<int32_t>(r >> 8) % 254;
        (n < ButtonsPerPad ? preset.scan1 : preset.scan2)[b] = static_cast<int32_t>(r >> 16 & 0xFF);
        (n < ButtonsPerPad ? preset.ext1 : preset.ext2)[b] = static_cast<int32_t>(r >> 24 & 1);
    }
}

// A save leaves out the end-of-file bytes that the reader filled a short file's labels with.
std::string WithoutEnd(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), EndOfFileChar), text.end());
    return text;
}

bool Same(const TCodes& a, const TCodes& b) {
    if (a.header != b.header || a.caption != b.caption)
        return false;
    for (int i = 0; i < ButtonsPerPad; ++i)
        if (a.name1[i] != WithoutEnd(b.name1[i]) || a.name2[i] != WithoutEnd(b.name2[i]))
            return false;
    return std::memcmp(a.vk1, b.vk1, sizeof a.vk1) == 0 &&
           std::memcmp(a.scan1, b.scan1, sizeof a.scan1) == 0 &&
           std::memcmp(a.ext1, b.ext1, sizeof a.ext1) == 0 &&
           std::memcmp(a.vk2, b.vk2, sizeof a.vk2) == 0 &&
           std::memcmp(a.scan2, b.scan2, sizeof a.scan2) == 0 &&
           std::memcmp(a.ext2, b.ext2, sizeof a.ext2) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string content(reinterpret_cast<const char*>(data), size);
    bool loaded = Load(content);
    CheckTable(loaded);
    if (!loaded)
        return 0;

    TeachKeys(static_cast<uint32_t>(std::hash<std::string>()(content)));
    const TAppSettings settings = AppSettings;
    const int32_t current = PresetTable.currentPreset;
    const std::vector<TCodes> presets = PresetTable.presets;
    Check(SaveSettings(IniPath), "save");
    const std::string saved = fake::files[IniPath];
    Check(fake::files.count(TemporaryPath(IniPath)) == 0, "no temporary file left");

    bool reloaded = Load(saved);
    CheckTable(reloaded);
    Check(reloaded && notices == 0, "a saved file loads without notice");
    Check(AppSettings.interval == settings.interval &&
              AppSettings.secondPlayer == settings.secondPlayer &&
              AppSettings.repeat == settings.repeat && PresetTable.currentPreset == current,
          "settings survive");
    Check(PresetTable.presets.size() == presets.size(), "preset count survives");
    for (size_t k = 0; k < presets.size(); ++k)
        Check(Same(PresetTable.presets[k], presets[k]), "preset survives");
    Check(SaveSettings(IniPath) && fake::files[IniPath] == saved, "second save identical");
    return 0;
}
