#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <tuple>

#include "settings/settings.h"
#include "tests/fake/fake_win32.h"
#include "tests/settings/settings_files.h"

namespace {

using namespace settings_test;

const std::string CannotWriteNotice = "Can not write file Kavit.ini";

std::string Saved() {
    EXPECT_TRUE(SaveSettings(IniPath));
    return fake::files[IniPath];
}

TEST(SaveSettingsTest, NegativeNumbersAndEmptyLabels) {
    ResetAll();
    AddBlockPreset("[X]", 1);
    TCodes& preset = PresetTable.presets[0];
    preset.vk1[0] = -5;
    preset.scan2[11] = INT32_MIN;
    preset.name1[0] = "";
    std::string text = Saved();
    EXPECT_NE(text.find("\r\n1P:=-5 11 1\r\n"), std::string::npos);
    EXPECT_NE(text.find("\r\n2P:Key12=162 -2147483648 1\r\n"), std::string::npos);
}

TEST(SaveSettingsTest, RoundTripKeepsValuesHeadersLabelsAndCurrentPreset) {
    ResetAll();
    AppSettings.interval = 123456;
    AppSettings.secondPlayer = 1;
    AppSettings.repeat = 1;
    const char* headers[] = {"[Odd [name]]", "", "no brackets", "[]", "  [spaced]  "};
    for (int k = 0; k < 5; ++k)
        AddBlockPreset(headers[k], k + 7);
    PresetTable.presets[2].name2[4] = "Eleven char";
    PresetTable.presets[4].name1[11] = "";
    PresetTable.presets[1].vk2[0] = 2147483647;
    PresetTable.currentPreset = 3;
    std::vector<TCodes> before = PresetTable.presets;
    std::string text = Saved();

    ResetAll();
    ASSERT_TRUE(LoadText(text));
    EXPECT_EQ(fake::Count("MessageBoxA"), 0u);
    EXPECT_EQ(AppSettings.interval, 123456u);
    EXPECT_EQ(AppSettings.secondPlayer, 1);
    EXPECT_EQ(AppSettings.repeat, 1);
    EXPECT_EQ(PresetTable.currentPreset, 3);
    ASSERT_EQ(PresetTable.presets.size(), before.size());
    for (size_t k = 0; k < before.size(); ++k) {
        SCOPED_TRACE("preset " + std::to_string(k));
        const TCodes& a = before[k];
        const TCodes& b = PresetTable.presets[k];
        EXPECT_EQ(a.header, b.header);
        EXPECT_EQ(a.caption, b.caption);
        for (int i = 0; i < 12; ++i) {
            EXPECT_EQ(a.name1[i], b.name1[i]);
            EXPECT_EQ(a.name2[i], b.name2[i]);
            EXPECT_EQ(Keys(a, i), Keys(b, i));
        }
    }
    EXPECT_EQ(Saved(), text);
}

TEST(SaveSettingsTest, CanonicalFileIsReproducedByteForByte) {
    for (const char* name : {"first.ini", "odd.ini"}) {
        const std::string text = FileBytes(name);
        ResetAll();
        ASSERT_TRUE(LoadText(text)) << name;
        EXPECT_EQ(Saved(), text) << name;
    }
}

TEST(SaveSettingsTest, LoosenedFileIsWrittenBackCanonical) {
    // Hex values, Interval=-1, LF-only line ends, extra blanks and remarks, other key names, a
    // closing line of its own: all come back in the one canonical form.
    std::string canonical = WithLine(FileBytes("first.ini"), 2, "Interval=4294967295");
    std::string loose;
    for (char c :
         WithLine(WithLine(WithLine(WithLine(canonical, 2, "Interval=-1"), 5, "Preset=  $1"), 8,
                           "1P:Fire1=0x65 $B  1 ; remark"),
                  33, "// end"))
        if (c != '\r')
            loose += c;
    ResetAll();
    ASSERT_TRUE(LoadText(loose));
    EXPECT_EQ(Saved(), canonical);
}

// A file that ends inside a preset (after an extra empty line, or cut inside a label) gives that
// preset's missing labels as end-of-file bytes. Keys taught to it must come back at the next
// start, its labels as what the file held of them.
TEST(SaveSettingsTest, KeysTaughtToThePresetAFileEndsInComeBack) {
    const std::string file = FileBytes("first.ini");
    const struct {
        std::string text;
        const char* label3; // of pad 1 button 3, after the save
    } endings[] = {{file + "\r\n", ""}, {file.substr(0, file.find("1P:Fire3") + 5), "Fi"}};
    for (const auto& ending : endings) {
        ResetAll();
        ASSERT_TRUE(LoadText(ending.text));
        PresetTable.currentPreset = PresetTable.presetCount - 1;
        TCodes& preset = PresetTable.presets.back();
        TCodes taught = BlockPreset(preset.header, 7); // new keys, as Set keys would store them
        std::copy(preset.name1, preset.name1 + 12, taught.name1);
        std::copy(preset.name2, preset.name2 + 12, taught.name2);
        preset = taught;
        std::string saved = Saved();
        ResetAll();
        ASSERT_TRUE(LoadText(saved));
        const TCodes& back = PresetTable.presets.back();
        EXPECT_EQ(back.name1[2], ending.label3);
        EXPECT_EQ(back.name2[11], "");
        for (int b = 0; b < 12; ++b)
            EXPECT_EQ(Keys(back, b), Keys(taught, b)) << "button " << b + 1;
        EXPECT_EQ(Saved(), saved);
    }
}

// A twelve-character label loads only from a line with a blank after it; written back with an "="
// it would make the next start refuse the whole file.
TEST(SaveSettingsTest, TwelveCharacterLabelIsWrittenSoThatItReadsBack) {
    const std::string up = "1P:Twelve chars 1 2 0";
    ResetAll();
    ASSERT_TRUE(LoadText(WithLine(FileBytes("first.ini"), 8, up)));
    ASSERT_EQ(PresetTable.presets[0].name1[0], "Twelve chars");
    PresetTable.presets[0].name2[0] = "Eleven char";
    std::string text = Saved();
    EXPECT_NE(text.find("\r\n" + up + "\r\n"), std::string::npos);
    EXPECT_NE(text.find("\r\n2P:Eleven char=151 31 0\r\n"), std::string::npos)
        << "shorter labels keep their =";
    ResetAll();
    ASSERT_TRUE(LoadText(text));
    EXPECT_EQ(PresetTable.presets[0].name1[0], "Twelve chars");
    EXPECT_EQ(PresetTable.presets[0].vk1[0], 1);
    EXPECT_EQ(Saved(), text);
}

// The old file is replaced only by a whole new one, on the disk and closed, also when WriteFile
// takes less than it is given.
TEST(SaveSettingsTest, ReplacesThroughATemporaryFileEvenWithShortWrites) {
    for (bool shortWrites : {false, true}) {
        SCOPED_TRACE(shortWrites ? "100 bytes per WriteFile" : "whole writes");
        ResetAll();
        fake::files[IniPath] = "old";
        AppSettings = {10, 1, 0};
        AddBlockPreset("[First]", 1);
        if (shortWrites)
            fake::on.WriteFile = [](HANDLE f, LPCVOID data, DWORD size, LPDWORD written,
                                    LPOVERLAPPED o) {
                return fake::Defaults().WriteFile(f, data, size < 100 ? size : 100, written, o);
            };
        ASSERT_TRUE(SaveSettings(IniPath));
        auto at = [](const char* fn) {
            auto i = std::find_if(fake::calls.begin(), fake::calls.end(),
                                  [fn](const fake::Call& c) { return c.fn == fn; });
            return i - fake::calls.begin();
        };
        EXPECT_LT(at("FlushFileBuffers"), at("MoveFileExA"));
        EXPECT_LT(at("CloseHandle"), at("MoveFileExA"));
        fake::Call create = fake::CallsTo("CreateFileA")[0];
        EXPECT_EQ(create.text[0], TempPath);
        EXPECT_EQ(create.args[0], GENERIC_WRITE);
        EXPECT_EQ(create.args[3], uint64_t(CREATE_ALWAYS));
        fake::Call move = fake::CallsTo("MoveFileExA")[0];
        EXPECT_EQ(move.text, (std::vector<std::string>{TempPath, IniPath}));
        EXPECT_EQ(move.args[0], uint64_t(MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
        EXPECT_EQ(fake::files.count(TempPath), 0u);
        EXPECT_EQ(fake::files[IniPath], FileBytes("first.ini"));
        EXPECT_EQ(fake::Count("WriteFile") > 5, shortWrites);
    }
}

// Fails the n-th call (1-based) of one function; the call itself still happens, as on Windows a
// failed CloseHandle or a partly done WriteFile can have had its effect.
struct Failure {
    const char* step;
    int nth;
};

void InjectFailure(const Failure& failure) {
    static int count;
    count = 0;
    std::string step = failure.step;
    int nth = failure.nth;
    if (step == "CreateFileA")
        fake::on.CreateFileA = [](LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD,
                                  HANDLE) { return INVALID_HANDLE_VALUE; };
    if (step == "WriteFile")
        fake::on.WriteFile = [nth](HANDLE f, LPCVOID d, DWORD n, LPDWORD w, LPOVERLAPPED o) {
            BOOL ok = fake::Defaults().WriteFile(f, d, n / 2, w, o);
            return ++count == nth ? FALSE : ok;
        };
    if (step == "WriteFile moving nothing")
        fake::on.WriteFile = [nth](HANDLE f, LPCVOID d, DWORD n, LPDWORD w, LPOVERLAPPED o) {
            if (++count == nth) {
                *w = 0;
                return TRUE;
            }
            return fake::Defaults().WriteFile(f, d, n, w, o);
        };
    if (step == "FlushFileBuffers")
        fake::on.FlushFileBuffers = [](HANDLE) { return FALSE; };
    if (step == "CloseHandle")
        fake::on.CloseHandle = [](HANDLE h) {
            fake::Defaults().CloseHandle(h);
            return FALSE;
        };
    if (step == "MoveFileExA")
        fake::on.MoveFileExA = [](LPCSTR, LPCSTR, DWORD) { return FALSE; };
}

TEST(SaveSettingsTest, FailureAtAnyStepKeepsTheOldFile) {
    const Failure failures[] = {
        {"CreateFileA", 1},      {"WriteFile", 1},   {"WriteFile", 2},
        {"WriteFile", 3},        {"WriteFile", 5},   {"WriteFile moving nothing", 2},
        {"FlushFileBuffers", 1}, {"CloseHandle", 1}, {"MoveFileExA", 1},
    };
    const std::string old = "[Kavit settings]\r\nthe user's file, whatever it holds\r\n";
    for (const Failure& failure : failures) {
        SCOPED_TRACE(std::string(failure.step) + " #" + std::to_string(failure.nth));
        ResetAll();
        for (int seed = 1; seed <= 300; ++seed) // over 128 KiB: three writes
            AddBlockPreset("[P]", seed);
        fake::files[IniPath] = old;
        InjectFailure(failure);
        EXPECT_FALSE(SaveSettings(IniPath));
        EXPECT_EQ(fake::files[IniPath], old);
        EXPECT_EQ(fake::files.count(TempPath), 0u) << "temporary file removed";
        EXPECT_EQ(fake::OpenFileCount(), 0u);
        EXPECT_LE(fake::Count("CloseHandle"), 1u);
        auto boxes = fake::CallsTo("MessageBoxA");
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, (std::vector<std::string>{CannotWriteNotice, "Kavit program"}));
        EXPECT_EQ(boxes[0].args, (std::vector<uint64_t>{0, MB_OK}));
        // The user is told once everything is cleaned up: the notice's message loop may run
        // the window procedure, and with it another save.
        EXPECT_EQ(fake::calls.back().fn, "MessageBoxA");
    }
}

// ---- the settings file shipped beside the program ----------------------------------------------

TEST(ShippedSettingsTest, LoadsWithoutNoticeAndSavesByteForByte) {
    std::string text = FileBytes(KAVIT_SHIPPED_INI);
    ResetAll();
    ASSERT_TRUE(LoadText(text));
    EXPECT_EQ(fake::Count("MessageBoxA"), 0u);
    EXPECT_EQ(AppSettings.interval, 10u);
    EXPECT_EQ(AppSettings.secondPlayer, 1);
    EXPECT_EQ(AppSettings.repeat, 0);
    EXPECT_EQ(PresetTable.currentPreset, 0);
    EXPECT_GE(PresetTable.presetCount, 3);
    EXPECT_EQ(Saved(), text);
}

// Windows virtual-key code, set-1 scan code and extended flag of every key a shipped preset may
// use. The navigation keys, right Ctrl/Alt and keypad Enter carry the E0 prefix: extended.
const struct {
    int32_t vk, scan, ext;
} KnownKeys[] = {
    {8, 14, 0},   {9, 15, 0},   {13, 28, 0},  {13, 28, 1},  {16, 42, 0},  {16, 54, 0}, {17, 29, 0},
    {17, 29, 1},  {18, 56, 0},  {18, 56, 1},  {27, 1, 0},   {32, 57, 0},  {33, 73, 1}, {34, 81, 1},
    {35, 79, 1},  {36, 71, 1},  {37, 75, 1},  {38, 72, 1},  {39, 77, 1},  {40, 80, 1}, {45, 82, 1},
    {46, 83, 1},  {65, 30, 0},  {67, 46, 0},  {68, 32, 0},  {69, 18, 0},  {72, 35, 0}, {74, 36, 0},
    {75, 37, 0},  {77, 50, 0},  {78, 49, 0},  {81, 16, 0},  {82, 19, 0},  {83, 31, 0}, {87, 17, 0},
    {88, 45, 0},  {90, 44, 0},  {96, 82, 0},  {97, 79, 0},  {98, 80, 0},  {99, 81, 0}, {100, 75, 0},
    {102, 77, 0}, {104, 72, 0}, {107, 78, 0}, {110, 83, 0}, {188, 51, 0},
};

bool IsKnownKey(int32_t vk, int32_t scan, int32_t ext) {
    for (const auto& key : KnownKeys)
        if (key.vk == vk && key.scan == scan && key.ext == ext)
            return true;
    return false;
}

TEST(ShippedSettingsTest, PresetsUseRealKeysAndShortLabels) {
    ResetAll();
    ASSERT_TRUE(LoadText(FileBytes(KAVIT_SHIPPED_INI)));
    for (const TCodes& preset : PresetTable.presets) {
        SCOPED_TRACE(preset.header);
        EXPECT_FALSE(preset.caption.empty());
        for (int b = 0; b < 12; ++b) {
            EXPECT_TRUE(IsKnownKey(preset.vk1[b], preset.scan1[b], preset.ext1[b]))
                << "pad 1 " << preset.name1[b];
            EXPECT_TRUE(IsKnownKey(preset.vk2[b], preset.scan2[b], preset.ext2[b]))
                << "pad 2 " << preset.name2[b];
            EXPECT_LE(preset.name1[b].size(), 11u);
            EXPECT_LE(preset.name2[b].size(), 11u);
        }
        // Both players play at once: no two of the 24 buttons may send the same key.
        std::set<std::tuple<int32_t, int32_t, int32_t>> keys;
        for (int b = 0; b < 12; ++b) {
            keys.insert({preset.vk1[b], preset.scan1[b], preset.ext1[b]});
            keys.insert({preset.vk2[b], preset.scan2[b], preset.ext2[b]});
        }
        EXPECT_EQ(keys.size(), 24u);
    }
}

// The ANSI file functions refuse a path of MAX_PATH characters or more. A folder that leaves just
// room for "Kavit.ini" must leave room for its temporary file too.
TEST(SaveSettingsTest, AFolderAtThePathLimitStillSaves) {
    ResetAll();
    AddBlockPreset("[First]", 1);
    const std::string longest = "C:\\" + std::string(MAX_PATH - 1 - 3 - 1 - 9, 'k') + "\\Kavit.ini";
    ASSERT_EQ(longest.size(), size_t(MAX_PATH - 1));
    auto base = fake::Defaults().CreateFileA;
    fake::on.CreateFileA = [base](LPCSTR name, DWORD access, DWORD share,
                                  LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                                  HANDLE templateFile) -> HANDLE {
        if (std::string(name).size() >= MAX_PATH)
            return INVALID_HANDLE_VALUE;
        return base(name, access, share, security, disposition, flags, templateFile);
    };
    EXPECT_TRUE(SaveSettings(longest));
    EXPECT_EQ(fake::files.count(longest), 1u);
    EXPECT_EQ(fake::Count("MessageBoxA"), 0u);
}

} // namespace
