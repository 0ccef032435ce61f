#include "tests/settings/settings_files.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "tests/fake/fake_win32.h"

namespace settings_test {

void ResetAll() {
    fake::Reset();
    PresetTable = TPresetTable{};
    AppSettings = TAppSettings{};
}

TCodes BlockPreset(const std::string& header, int seed) {
    TCodes preset;
    preset.header = header;
    preset.caption = CaptionOf(header);
    for (int b = 1; b <= 12; ++b) {
        preset.name1[b - 1] = "Fire" + std::to_string(b);
        preset.vk1[b - 1] = seed * 100 + b;
        preset.scan1[b - 1] = b + 10;
        preset.ext1[b - 1] = b % 2;
        preset.name2[b - 1] = "Key" + std::to_string(b);
        preset.vk2[b - 1] = seed * 100 + 50 + b;
        preset.scan2[b - 1] = b + 30;
        preset.ext2[b - 1] = (b + 1) % 2;
    }
    return preset;
}

std::vector<int32_t> Keys(const TCodes& p, int b) {
    return {p.vk1[b], p.scan1[b], p.ext1[b], p.vk2[b], p.scan2[b], p.ext2[b]};
}

void ExpectBlock(const TCodes& preset, const std::string& header, int seed) {
    TCodes want = BlockPreset(header, seed);
    EXPECT_EQ(preset.header, header);
    for (int b = 0; b < 12; ++b) {
        SCOPED_TRACE("button " + std::to_string(b + 1));
        EXPECT_EQ(preset.name1[b], want.name1[b]);
        EXPECT_EQ(preset.name2[b], want.name2[b]);
        EXPECT_EQ(Keys(preset, b), Keys(want, b));
    }
}

void AddBlockPreset(const std::string& header, int seed) {
    PresetTable.presets.push_back(BlockPreset(header, seed));
    PresetTable.presetCount += 1;
}

std::string File(const std::vector<std::string>& headers, const TAppSettings& app,
                 int32_t current) {
    std::vector<TCodes> presets;
    int seed = 1;
    for (const std::string& header : headers)
        presets.push_back(BlockPreset(header, seed++));
    return SettingsText(app, current, presets);
}

std::string WithLine(const std::string& file, size_t line, const std::string& text) {
    size_t begin = 0;
    for (size_t i = 1; i < line; ++i)
        begin = file.find("\r\n", begin) + 2;
    size_t end = file.find("\r\n", begin);
    return file.substr(0, begin) + text + file.substr(end);
}

std::string FileBytes(const std::string& name) {
    std::ifstream in(name.find('/') == std::string::npos ? KAVIT_SETTINGS_FILES + name : name,
                     std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    EXPECT_FALSE(text.str().empty()) << name;
    return text.str();
}

bool LoadText(const std::string& content) {
    fake::files[IniPath] = content;
    return LoadSettings(IniPath);
}

} // namespace settings_test
