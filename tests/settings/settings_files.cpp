#include "tests/settings/settings_files.h"

#include <gtest/gtest.h>

#include "tests/fake/fake_win32.h"

namespace settings_test {

void ResetAll() {
    fake::Reset();
    PresetTable = TPresetTable{};
    AppSettings = TAppSettings{};
}

std::string Head(const std::string& interval, const std::string& secondPlayer,
                 const std::string& repeat, const std::string& preset) {
    return Title + "Interval=" + interval + "\r\nSecondPlayer=" + secondPlayer +
           "\r\nRepeat=" + repeat + "\r\nPreset=" + preset + "\r\n";
}

std::string Block(const std::string& header, int seed) {
    std::string text = "\r\n" + header + "\r\n";
    for (int b = 1; b <= 12; ++b)
        text += "1P:Fire" + std::to_string(b) + "=" + std::to_string(seed * 100 + b) + " " +
                std::to_string(b + 10) + " " + std::to_string(b % 2) + "\r\n";
    text += "\r\n";
    for (int b = 1; b <= 12; ++b)
        text += "2P:Key" + std::to_string(b) + "=" + std::to_string(seed * 100 + 50 + b) + " " +
                std::to_string(b + 30) + " " + std::to_string((b + 1) % 2) + "\r\n";
    return text;
}

void ExpectBlock(const TCodes& preset, const std::string& header, int seed) {
    EXPECT_EQ(preset.header, header);
    for (int b = 1; b <= 12; ++b) {
        SCOPED_TRACE("button " + std::to_string(b));
        EXPECT_EQ(preset.name1[b - 1], "Fire" + std::to_string(b));
        EXPECT_EQ(preset.vk1[b - 1], seed * 100 + b);
        EXPECT_EQ(preset.scan1[b - 1], b + 10);
        EXPECT_EQ(preset.ext1[b - 1], b % 2);
        EXPECT_EQ(preset.name2[b - 1], "Key" + std::to_string(b));
        EXPECT_EQ(preset.vk2[b - 1], seed * 100 + 50 + b);
        EXPECT_EQ(preset.scan2[b - 1], b + 30);
        EXPECT_EQ(preset.ext2[b - 1], (b + 1) % 2);
    }
}

void AddBlockPreset(const std::string& header, int seed) {
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
    PresetTable.presets.push_back(preset);
    PresetTable.presetCount += 1;
}

std::string File(std::initializer_list<std::string> headers) {
    std::string text = Head();
    int seed = 1;
    for (const std::string& header : headers)
        text += Block(header, seed++);
    return text + Closing;
}

std::string WithLine(const std::string& file, size_t line, const std::string& text) {
    size_t begin = 0;
    for (size_t i = 1; i < line; ++i)
        begin = file.find("\r\n", begin) + 2;
    size_t end = file.find("\r\n", begin);
    return file.substr(0, begin) + text + file.substr(end);
}

bool LoadText(const std::string& content) {
    fake::files[IniPath] = content;
    return LoadSettings(IniPath);
}

} // namespace settings_test
