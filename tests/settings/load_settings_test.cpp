#include <gtest/gtest.h>

#include <functional>

#include "settings/settings.h"
#include "tests/fake/fake_win32.h"
#include "tests/settings/settings_files.h"

namespace {

using namespace settings_test;

const std::string BadPresetNotice = "Bad Preset namber in Kavit.ini file, used first";
const std::string Twelve26(12, '\x1a');

// Line numbers in File({"[First]", "[Second]"}): 1 title, 2..5 settings, 6 empty, 7 header,
// 7 + b pad-1 button b, 20 empty, 20 + b pad-2 button b; the second preset is 27 lines later;
// 60 closing line.
const std::string TwoPresets = File({"[First]", "[Second]"});
const size_t Pad1Line = 7, Pad2Line = 20, SecondPreset = 27, ClosingLine = 60;

std::string WithoutLine(const std::string& file, size_t line) {
    std::string text = WithLine(file, line, "");
    size_t at = 0;
    for (size_t i = 1; i < line; ++i)
        at = text.find("\r\n", at) + 2;
    return text.erase(at, 2);
}

// Whatever loaded: the table and the submenu tell the same story.
void ExpectMenuMatchesTable() {
    ASSERT_EQ(static_cast<size_t>(PresetTable.presetCount), PresetTable.presets.size());
    if (PresetTable.presetCount == 0)
        return;
    ASSERT_TRUE(PresetTable.presetSubmenuCreated);
    const auto& items = fake::menus[PresetTable.PresetSubmenu];
    ASSERT_EQ(items.size(), PresetTable.presets.size());
    for (size_t k = 0; k < items.size(); ++k) {
        EXPECT_EQ(items[k].id, 900 + k);
        EXPECT_EQ(items[k].text, PresetTable.presets[k].caption);
        bool current = static_cast<int32_t>(k) == PresetTable.currentPreset;
        EXPECT_EQ(items[k].flags, current ? UINT(MF_STRING | MF_CHECKED) : UINT(MF_STRING))
            << "item " << k;
    }
}

struct LoadCase {
    const char* name;
    std::string content;
    bool loads;
    size_t notices; // "Bad Preset namber ..." notices
    std::function<void()> check;
};

void RunLoadCases(const std::vector<LoadCase>& cases) {
    for (const LoadCase& c : cases) {
        SCOPED_TRACE(c.name);
        ResetAll();
        EXPECT_EQ(LoadText(c.content), c.loads);
        auto boxes = fake::CallsTo("MessageBoxA");
        EXPECT_EQ(boxes.size(), c.notices);
        for (const fake::Call& box : boxes)
            EXPECT_EQ(box.text[0], BadPresetNotice);
        if (c.loads)
            ExpectMenuMatchesTable();
        if (c.check)
            c.check();
        EXPECT_EQ(fake::OpenFileCount(), 0u);
    }
}

const TCodes& Preset(size_t k) {
    return PresetTable.presets.at(k);
}

TEST(LoadSettingsTest, SettingsLines) {
    RunLoadCases({
        {"canonical file", File({"[First]", "[Second]"}, {250, 0, 1}, 1), true, 0,
         [] {
             EXPECT_EQ(AppSettings.interval, 250u);
             EXPECT_EQ(AppSettings.secondPlayer, 0);
             EXPECT_EQ(AppSettings.repeat, 1);
             EXPECT_EQ(PresetTable.currentPreset, 1);
             ASSERT_EQ(PresetTable.presetCount, 2);
             ExpectBlock(Preset(0), "[First]", 1);
             ExpectBlock(Preset(1), "[Second]", 2);
             EXPECT_EQ(Preset(1).caption, "Second");
         }},
        {"title line not examined", WithLine(TwoPresets, 1, "anything at all"), true, 0,
         [] { EXPECT_EQ(AppSettings.interval, 10u); }},
        {"blanks after the key", WithLine(TwoPresets, 2, "Interval= \t  250"), true, 0,
         [] { EXPECT_EQ(AppSettings.interval, 250u); }},
        {"blank before the =", WithLine(TwoPresets, 2, "Interval =250"), false, 0, nullptr},
        {"number run together with text", WithLine(TwoPresets, 2, "Interval=100ms"), false, 0,
         nullptr},
        {"value on the next line", WithLine(TwoPresets, 3, "SecondPlayer=\r\n  0"), true, 0,
         [] {
             EXPECT_EQ(AppSettings.secondPlayer, 0);
             ExpectBlock(Preset(1), "[Second]", 2);
         }},
        {"key names never compared",
         WithLine(WithLine(WithLine(WithLine(TwoPresets, 2, "Wait, ms:77"), 3, "2nd pad used:0"), 4,
                           "Again? 1"),
                  5, "Layout:2"),
         true, 0,
         [] {
             EXPECT_EQ(AppSettings.interval, 77u);
             EXPECT_EQ(AppSettings.secondPlayer, 0);
             EXPECT_EQ(AppSettings.repeat, 1);
             EXPECT_EQ(PresetTable.currentPreset, 1);
         }},
        {"short key runs on into the next line", WithLine(TwoPresets, 2, "Int=5"), false, 0,
         nullptr},
        {"hexadecimal setting", WithLine(TwoPresets, 5, "Preset=$2"), true, 0,
         [] { EXPECT_EQ(PresetTable.currentPreset, 1); }},
    });
}

TEST(LoadSettingsTest, IntervalIsSixtyFourBitsKeptAsLowThirtyTwo) {
    const struct {
        std::string text;
        bool loads;
        uint32_t interval;
    } cases[] = {
        {"0", true, 0},
        {"-1", true, 4294967295u},
        {"4294967296", true, 0},
        {"$FFFFFFFFFFFFFFFF", true, 4294967295u},
        {"0x100000005", true, 5},
        {"9223372036854775807", true, 4294967295u},
        {"9223372036854775808", false, 5000},
        {"-9223372036854775808", true, 0},
        {"-9223372036854775809", false, 5000},
        {"-$1", true, 4294967295u},
        {"$10000000000000000", false, 5000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        ResetAll();
        EXPECT_EQ(LoadText(WithLine(TwoPresets, 2, "Interval=" + c.text)), c.loads);
        EXPECT_EQ(AppSettings.interval, c.interval);
    }
}

TEST(LoadSettingsTest, ButtonLines) {
    const size_t up = Pad1Line + 1; // pad 1, button 1
    RunLoadCases({
        {"hex values, blanks between numbers, text after the third",
         WithLine(TwoPresets, up, "1P:Up=  $26\t0x48   X1 and a remark"), true, 0,
         [] {
             EXPECT_EQ(Preset(0).name1[0], "Up");
             EXPECT_EQ(Preset(0).vk1[0], 38);
             EXPECT_EQ(Preset(0).scan1[0], 72);
             EXPECT_EQ(Preset(0).ext1[0], 1);
         }},
        {"numbers continue across the line end", WithLine(TwoPresets, up, "1P:Up=38\r\n 72 1"),
         true, 0,
         [] {
             EXPECT_EQ(Preset(0).scan1[0], 72);
             EXPECT_EQ(Preset(0).ext1[0], 1);
             ExpectBlock(Preset(1), "[Second]", 2);
         }},
        {"missing number taken from the next line", WithLine(TwoPresets, up, "1P:Up=38 72"), false,
         0, nullptr},
        {"a malformed number keeps what was read",
         WithLine(TwoPresets, SecondPreset + Pad1Line + 4, "1P:X=1 2 three"), false, 0,
         [] {
             ASSERT_EQ(PresetTable.presetCount, 2);
             ExpectBlock(Preset(0), "[First]", 1);
             EXPECT_EQ(Preset(1).vk1[2], 203);
             EXPECT_EQ(fake::menus[PresetTable.PresetSubmenu].size(), 2u);
         }},
        {"label of 11 characters", WithLine(TwoPresets, up, "1P:Elevenchars=1 2 0"), true, 0,
         [] { EXPECT_EQ(Preset(0).name1[0], "Elevenchars"); }},
        {"label of 12 characters leaves = unread",
         WithLine(TwoPresets, up, "1P:Twelve chars=1 2 0"), false, 0,
         [] { EXPECT_EQ(Preset(0).name1[0], "Twelve chars"); }},
        {"label of 12 characters and a blank", WithLine(TwoPresets, up, "1P:Twelve chars 1 2 0"),
         true, 0,
         [] {
             EXPECT_EQ(Preset(0).name1[0], "Twelve chars");
             EXPECT_EQ(Preset(0).vk1[0], 1);
         }},
        {"blanks before = belong to the label", WithLine(TwoPresets, up, "1P: Up  =1 2 0"), true, 0,
         [] { EXPECT_EQ(Preset(0).name1[0], " Up  "); }},
        {"= among the first three characters", WithLine(TwoPresets, up, "1P=7 2 0"), true, 0,
         [] {
             EXPECT_EQ(Preset(0).name1[0], "");
             EXPECT_EQ(Preset(0).vk1[0], 7);
         }},
        {"= first", WithLine(TwoPresets, up, "=7 2 0"), true, 0,
         [] { EXPECT_EQ(Preset(0).vk1[0], 7); }},
        {"line without =", WithLine(TwoPresets, up, "1P:Up 38 72 1"), false, 0,
         [] { EXPECT_EQ(Preset(0).name1[0], "Up 38 72 1\r\n"); }},
        {"prefixes never compared", WithLine(TwoPresets, up, "2P:Up=7 2 0"), true, 0,
         [] {
             EXPECT_EQ(Preset(0).name1[0], "Up");
             EXPECT_EQ(Preset(0).vk1[0], 7);
             EXPECT_EQ(Preset(0).vk2[0], 151);
         }},
        {"pad-2 line read the same way", WithLine(TwoPresets, Pad2Line + 12, "##:Mode=$FF 0 0"),
         true, 0,
         [] {
             EXPECT_EQ(Preset(0).name2[11], "Mode");
             EXPECT_EQ(Preset(0).vk2[11], 255);
         }},
        {"number above 255", WithLine(TwoPresets, up, "1P:Up=300 1000 0"), true, 0,
         [] { EXPECT_EQ(Preset(0).vk1[0], 300); }},
    });
}

TEST(LoadSettingsTest, FileStructure) {
    std::string withoutClosing = WithoutLine(TwoPresets, ClosingLine);
    size_t secondBlock = TwoPresets.find("\r\n\r\n[Second]") + 2;
    RunLoadCases({
        {"LF-only line ends",
         [] {
             std::string lf;
             for (char c : TwoPresets)
                 if (c != '\r')
                     lf += c;
             return lf;
         }(),
         true, 0,
         [] {
             ExpectBlock(Preset(0), "[First]", 1);
             ExpectBlock(Preset(1), "[Second]", 2);
         }},
        {"closing line missing", withoutClosing, true, 0,
         [] { EXPECT_EQ(PresetTable.presetCount, 2); }},
        {"closing line without line end", withoutClosing + "//====", true, 0,
         [] { EXPECT_EQ(PresetTable.presetCount, 2); }},
        {"closing line holds anything", WithLine(TwoPresets, ClosingLine, "-- the end --"), true, 0,
         [] { EXPECT_EQ(PresetTable.presetCount, 2); }},
        {"extra empty line: one more preset", TwoPresets + "\r\n", true, 0,
         [] {
             ASSERT_EQ(PresetTable.presetCount, 3);
             const TCodes& extra = Preset(2);
             EXPECT_EQ(extra.header, "");
             EXPECT_EQ(extra.caption, "");
             for (int b = 0; b < 12; ++b) {
                 EXPECT_EQ(extra.name1[b], Twelve26);
                 EXPECT_EQ(extra.name2[b], Twelve26);
                 EXPECT_EQ(extra.vk1[b] | extra.scan1[b] | extra.ext1[b], 0);
                 EXPECT_EQ(extra.vk2[b] | extra.scan2[b] | extra.ext2[b], 0);
             }
         }},
        {"code 26 ends the file between presets",
         TwoPresets.substr(0, secondBlock) + "\x1a" + TwoPresets.substr(secondBlock), true, 0,
         [] {
             EXPECT_EQ(PresetTable.presetCount, 1);
             ExpectBlock(Preset(0), "[First]", 1);
         }},
        {"code 26 inside a label",
         WithLine(TwoPresets, Pad1Line + 2,
                  "1P:Ab\x1a"
                  "cd=1 2 0"),
         true, 0,
         [] {
             ASSERT_EQ(PresetTable.presetCount, 1);
             EXPECT_EQ(Preset(0).vk1[0], 101);
             EXPECT_EQ(Preset(0).name1[1], "Ab" + std::string(10, '\x1a'));
             EXPECT_EQ(Preset(0).vk1[1], 0);
             EXPECT_EQ(Preset(0).name2[11], Twelve26);
         }},
        {"a missing line shifts the rest", WithoutLine(TwoPresets, Pad2Line), false, 0, nullptr},
        {"two presets with the same header",
         WithLine(TwoPresets, Pad1Line + SecondPreset, "[First]"), true, 0,
         [] { EXPECT_EQ(Preset(1).caption, "First"); }},
    });
}

TEST(LoadSettingsTest, PresetNumber) {
    auto currentIs = [](int32_t k) { return [k] { EXPECT_EQ(PresetTable.currentPreset, k); }; };
    RunLoadCases({
        {"first", WithLine(TwoPresets, 5, "Preset=1"), true, 0, currentIs(0)},
        {"last", WithLine(TwoPresets, 5, "Preset=2"), true, 0, currentIs(1)},
        {"0", WithLine(TwoPresets, 5, "Preset=0"), true, 1, currentIs(0)},
        {"above the count", WithLine(TwoPresets, 5, "Preset=3"), true, 1, currentIs(0)},
        {"negative", WithLine(TwoPresets, 5, "Preset=-1"), true, 1, currentIs(0)},
        {"lowest", WithLine(TwoPresets, 5, "Preset=-2147483648"), true, 1, currentIs(0)},
    });
}

TEST(LoadSettingsTest, NothingToLoad) {
    auto noMenu = [] {
        EXPECT_EQ(PresetTable.presetCount, 0);
        EXPECT_FALSE(PresetTable.presetSubmenuCreated);
        EXPECT_EQ(fake::Count("CreatePopupMenu"), 0u);
    };
    RunLoadCases({
        {"empty file", "", false, 1, noMenu},
        {"only code 26", "\x1a" + TwoPresets, false, 1, noMenu},
        {"settings lines only", WithoutLine(File({}), 6), false, 1, noMenu},
        {"settings lines and the empty line", WithLine(File({}), 6, ""), false, 1, noMenu},
    });
}

TEST(LoadSettingsTest, ValidationRejectsBadValues) {
    const size_t second = SecondPreset;
    RunLoadCases({
        {"vk1 -1", WithLine(TwoPresets, Pad1Line + 3, "1P:X=-1 5 0"), false, 0, nullptr},
        {"scan1 -1", WithLine(TwoPresets, second + Pad1Line + 12, "1P:X=1 -1 0"), false, 0,
         nullptr},
        {"ext1 2", WithLine(TwoPresets, Pad1Line + 1, "1P:X=1 5 2"), false, 0, nullptr},
        {"vk2 -1 as hex", WithLine(TwoPresets, Pad2Line + 5, "2P:X=$FFFFFFFF 5 0"), false, 0,
         nullptr},
        {"scan2 -7", WithLine(TwoPresets, second + Pad2Line + 1, "2P:X=1 -7 0"), false, 0, nullptr},
        {"ext2 -1", WithLine(TwoPresets, Pad2Line + 12, "2P:X=1 5 -1"), false, 0, nullptr},
        {"SecondPlayer 2", WithLine(TwoPresets, 3, "SecondPlayer=2"), false, 0, nullptr},
        {"Repeat -1", WithLine(TwoPresets, 4, "Repeat=-1"), false, 0, nullptr},
        {"bad value and bad preset number",
         WithLine(WithLine(TwoPresets, 5, "Preset=9"), 4, "Repeat=2"), false, 1,
         [] {
             // Validation comes after the whole file, the fallback included.
             EXPECT_EQ(PresetTable.presetCount, 2);
             EXPECT_EQ(fake::Count("ModifyMenuA"), 1u);
         }},
    });
}

TEST(LoadSettingsTest, SubmenuIsBuiltWhileReading) {
    ResetAll();
    ASSERT_TRUE(LoadText(File({"[A]B[C]", "Plain", "[]"}, {10, 1, 0}, 1)));
    ASSERT_TRUE(PresetTable.presetSubmenuCreated);
    EXPECT_EQ(fake::menus[PresetTable.PresetSubmenu],
              (std::vector<fake::MenuItem>{{MF_STRING, 900, "ABC"},
                                           {MF_STRING | MF_CHECKED, 901, "Plain"},
                                           {MF_STRING, 902, ""}}));
    EXPECT_EQ(Preset(0).header, "[A]B[C]");
    EXPECT_EQ(Preset(0).caption, "ABC");
}

TEST(LoadSettingsTest, BadPresetNumberChecksTheFirstAfterTheNotice) {
    ResetAll();
    ASSERT_TRUE(LoadText(WithLine(File({"[One]", "[Two]", "[Three]"}), 5, "Preset=4")));
    // The user is told before the first preset gets the check mark.
    ASSERT_EQ(fake::Count("ModifyMenuA"), 1u);
    for (const fake::Call& c : fake::calls)
        if (c.fn == "ModifyMenuA")
            FAIL() << "the first is checked before the notice";
        else if (c.fn == "MessageBoxA")
            break;
    fake::Call box = fake::CallsTo("MessageBoxA")[0];
    EXPECT_EQ(box.args, (std::vector<uint64_t>{0, MB_OK}));
    EXPECT_EQ(box.text, (std::vector<std::string>{BadPresetNotice, "Kavit program"}));
    fake::Call modify = fake::CallsTo("ModifyMenuA")[0];
    EXPECT_EQ(modify.args,
              (std::vector<uint64_t>{reinterpret_cast<uintptr_t>(PresetTable.PresetSubmenu), 0,
                                     MF_BYPOSITION | MF_CHECKED, 900}));
    EXPECT_EQ(modify.text[0], "One");
    EXPECT_EQ(PresetTable.currentPreset, 0);
    ExpectMenuMatchesTable();
}

TEST(LoadSettingsTest, NoFileOrAReadErrorFailsWithoutNoticeAndClosesTheFile) {
    for (bool readError : {false, true}) {
        SCOPED_TRACE(readError ? "read error" : "no file");
        ResetAll();
        if (readError) {
            fake::on.ReadFile = [](HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED) { return FALSE; };
            fake::files[IniPath] = TwoPresets;
        }
        EXPECT_FALSE(LoadSettings(IniPath));
        EXPECT_EQ(fake::Count("MessageBoxA") + fake::Count("CreatePopupMenu"), 0u);
        EXPECT_EQ(fake::OpenFileCount(), 0u);
        EXPECT_EQ(PresetTable.presetCount, 0);
    }
}

TEST(LoadSettingsTest, LargeFileReadsWholeThroughShortReads) {
    ResetAll();
    std::vector<std::string> headers;
    for (int seed = 1; seed <= 300; ++seed)
        headers.push_back("[P" + std::to_string(seed) + "]");
    std::string text = File(headers, {10, 1, 0}, 299);
    ASSERT_GT(text.size(), 2u * 64 * 1024);
    // ReadFile may hand out less than asked before the end: every other call gives 777 bytes.
    fake::on.ReadFile = [](HANDLE f, LPVOID buffer, DWORD size, LPDWORD read, LPOVERLAPPED o) {
        static int calls = 0;
        return fake::Defaults().ReadFile(f, buffer, ++calls % 2 ? 777 : size, read, o);
    };
    ASSERT_TRUE(LoadText(text));
    ASSERT_EQ(PresetTable.presetCount, 300);
    for (int seed = 1; seed <= 300; ++seed)
        ExpectBlock(Preset(seed - 1), "[P" + std::to_string(seed) + "]", seed);
    EXPECT_EQ(PresetTable.currentPreset, 299);
}

TEST(PresetCaptionTest, BracketsAreLeftOutWherever) {
    const struct {
        const char* header;
        const char* caption;
    } cases[] = {
        {"[Name]", "Name"}, {"[A]B[C]", "ABC"}, {"No brackets", "No brackets"},
        {"[]", ""},         {"", ""},           {"]x[y", "xy"},
        {"[[a]] b", "a b"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CaptionOf(c.header), c.caption) << c.header;
}

} // namespace
