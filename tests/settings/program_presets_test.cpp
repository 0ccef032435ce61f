// Presets that name programs by "@" words of their header.
#include "settings/program_presets.h"

#include <gtest/gtest.h>

#include "tests/fake/fake_win32.h"
#include "tests/settings/settings_files.h"

namespace {

using namespace settings_test;

TEST(ProgramPresetsTest, AtWordsOfAHeaderNamePrograms) {
    const struct {
        const char* header;
        std::vector<std::string> names;
    } cases[] = {
        {"[Doom] @doom.exe @chocolate-doom.exe", {"doom.exe", "chocolate-doom.exe"}},
        {"[Doom]", {}},
        {" \t[Doom]@doom.exe\t\t@Quake.EXE  ", {"doom.exe", "Quake.EXE"}},
        {"[Doom @doom.exe]", {"doom.exe"}},
        {"[Doom] @ doom.exe @", {}},
        {"[Mail] me@home.exe", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ProgramsNamed(c.header), c.names) << c.header;
}

TEST(ProgramPresetsTest, TheFirstPresetNamingTheFileWinsWhateverItsCase) {
    ResetAll();
    for (const char* header : {"[Menu]", "[Doom] @DOOM.exe", "[Both] @quake.exe @doom.EXE"})
        AddBlockPreset(header, 1);
    const struct {
        const char* path;
        int32_t preset;
    } cases[] = {
        {"C:\\Games\\Doom\\doom.exe", 1},
        {"\\Device\\HarddiskVolume2\\q\\QUAKE.exe", 2},
        {"doom.exe", 1},
        {"C:\\Games\\mydoom.exe", -1},
        {"C:\\doom.exe\\game.exe", -1},
        {"", -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PresetForProgram(c.path), c.preset) << c.path;
}

// Keys taught while a program's preset is current are saved with the preset the user chose.
TEST(ProgramPresetsTest, ASaveWhileFollowingKeepsTheChosenPreset) {
    ResetAll();
    const std::string before = File({"[Menu]", "[Doom] @doom.exe"}, {10, 1, 0}, 0);
    ASSERT_TRUE(LoadText(before));
    int32_t previous;
    ASSERT_TRUE(FollowProgram("C:\\doom.exe", previous));
    ASSERT_TRUE(SaveSettings(IniPath));
    EXPECT_EQ(fake::files[IniPath], before);
}

} // namespace
