// Key assignment: "Set keys", then one key-down per pad button, then one more to save.
#include "app/key_assign.h"

#include <gtest/gtest.h>

#include "app/app_state.h"
#include "app/startup.h"
#include "app/window_proc.h"
#include "settings/presets.h"
#include "settings/settings.h"
#include "tests/app/app_test_support.h"
#include "tests/settings/settings_files.h"

namespace {

using app_test::Find;
using app_test::IniPath;
using app_test::Instance;
using app_test::KeyData;
using app_test::Notices;
using app_test::Queue;
using settings_test::File;

const std::string Complete = "Complete, press any key to save";
const WPARAM VkMenu = 0x12; // Alt
const WPARAM VkUp = 0x26;

// The n-th key pressed in a test (n from 1): letters from A on, scan codes from 0x10 on, every
// third one from the extended set.
struct TKeyPress {
    int vk, scan, ext;
};
TKeyPress NthKey(int n) {
    return TKeyPress{'A' + n - 1, 0x10 + n, n % 3 == 0 ? 1 : 0};
}
void QueueKeys(int from, int count) {
    for (int n = from; n < from + count; ++n)
        Queue(WM_KEYDOWN, static_cast<WPARAM>(NthKey(n).vk),
              KeyData(NthKey(n).scan, NthKey(n).ext == 1));
}

// The second lines painted, in order.
std::vector<std::string> ButtonLines() {
    std::vector<std::string> lines;
    for (const fake::Call& c : fake::CallsTo("TextOutA"))
        if (c.args[2] == 30)
            lines.push_back(c.text[0]);
    return lines;
}

// The first preset as Kavit.ini now holds it.
TCodes SavedPreset() {
    TSettingsValues saved;
    EXPECT_TRUE(ReadSettingsText(fake::files[IniPath], saved));
    return saved.presets.at(0);
}

class KeyAssignTest : public ::testing::Test {
  protected:
    void SetUp() override {
        app_test::ResetProgram();
        matrix.Install(); // a reachable port: no notice but the ones under test
    }
    void TearDown() override { app_test::ResetProgram(); }

    void Start(int32_t secondPlayer) {
        fake::files[IniPath] = File({"[First]", "[Second]"}, {10, secondPlayer, 0});
    }
    // Runs the program over the queued messages.
    void Run() { ASSERT_EQ(RunKavit(Instance), 0); }

    padsim::PadMatrix matrix;
};

// ---- a whole sequence -------------------------------------------------------------------------

TEST_F(KeyAssignTest, EachPadTakesTwelveKeysThenTheNextHidesAndSaves) {
    for (int32_t secondPlayer : {0, 1}) {
        SCOPED_TRACE(secondPlayer ? "two pads" : "one pad");
        SetUp();
        Start(secondPlayer);
        Queue(WM_COMMAND, CmdSetKeys);
        QueueKeys(1, 12 + 12 * secondPlayer + 1);
        Run();

        // After each key the window names the next button; with one pad, pad 2 is skipped.
        std::vector<std::string> expected;
        for (int b = 2; b <= 12; ++b)
            expected.push_back("Player 1: for [Fire" + std::to_string(b) + "] Button");
        for (int b = 1; b <= 12 * secondPlayer; ++b)
            expected.push_back("Player 2: for [Key" + std::to_string(b) + "] Button");
        expected.push_back(Complete);
        EXPECT_EQ(ButtonLines(), expected);

        // In memory and, after the key that saves, in the file; a pad not taught and the other
        // preset keep what the file said, and the key that saves is stored nowhere.
        for (const TCodes& preset : {PresetTable.presets[0], SavedPreset()}) {
            for (int b = 1; b <= 12; ++b) {
                SCOPED_TRACE("button " + std::to_string(b));
                TKeyPress one = NthKey(b), two = secondPlayer
                                                     ? NthKey(12 + b)
                                                     : TKeyPress{150 + b, 30 + b, (b + 1) % 2};
                EXPECT_EQ(
                    settings_test::Keys(preset, b - 1),
                    (std::vector<int32_t>{one.vk, one.scan, one.ext, two.vk, two.scan, two.ext}));
                EXPECT_EQ(PresetTable.presets[1].vk1[b - 1], 200 + b);
            }
        }

        // The key that saves: hidden after the last painting, back to 0, written.
        int hide = Find("ShowWindow", [](const fake::Call& c) { return c.args[1] == SW_HIDE; });
        ASSERT_GE(hide, 0);
        EXPECT_GT(hide, Find("TextOutA"));
        EXPECT_EQ(fake::Count("ShowWindow"), 2u) << "shown by Set keys, hidden by the last key";
        EXPECT_EQ(assignIndex, 0);
        EXPECT_EQ(Notices(), std::vector<std::string>{});
    }
}

TEST_F(KeyAssignTest, EachKeyRepaintsTheWholeWindowAtOnce) {
    Start(0);
    Queue(WM_COMMAND, CmdSetKeys);
    QueueKeys(1, 1);
    Run();
    int invalidate = Find("InvalidateRect");
    ASSERT_GE(invalidate, 0);
    // window, erase, left, top, right, bottom
    EXPECT_EQ(
        fake::calls[static_cast<size_t>(invalidate)].args,
        (std::vector<uint64_t>{reinterpret_cast<uintptr_t>(fake::Window), 1, 0, 0, 250, 100}));
    EXPECT_EQ(app_test::NamesAfter(invalidate).at(0), "UpdateWindow");
    EXPECT_EQ(app_test::NamesAfter(invalidate).at(1), "BeginPaint") << "painted before the next";
}

// Closing the window (Alt+F4, the task bar) cancels the teaching: the window hides, every key
// taught goes back to what it was before "Set keys", nothing is written and the program runs
// on; the next "Set keys" starts again with the first button.
TEST_F(KeyAssignTest, ClosingTheWindowCancelsTheTeachingAndTheProgramRunsOn) {
    Start(1);
    const std::string file = fake::files[IniPath];
    std::vector<int> keysDown;
    fake::on.keybd_event = [&](BYTE vk, BYTE, DWORD flags, ULONG_PTR) {
        if (!(flags & KEYEVENTF_KEYUP))
            keysDown.push_back(vk);
    };
    matrix.Press(1, 1);
    matrix.Press(2, 1);
    Queue(WM_COMMAND, CmdSetKeys);
    QueueKeys(1, 12);
    Queue(WM_COMMAND, CmdSetKeys); // shown again: the same sequence goes on
    QueueKeys(13, 1);              // pad 2 button 1
    Queue(WM_CLOSE);
    Queue(WM_TIMER, TimerPoll); // the pads send the keys of the file again
    Queue(WM_COMMAND, CmdSetKeys);
    QueueKeys(14, 1);
    Run();

    int closed =
        Find("DispatchMessageA", [](const fake::Call& c) { return c.args[1] == WM_CLOSE; });
    ASSERT_GE(closed, 0);
    int hidden = Find(
        "ShowWindow", [](const fake::Call& c) { return c.args[1] == SW_HIDE; }, closed);
    EXPECT_GT(hidden, closed);
    EXPECT_LT(hidden, Find("DispatchMessageA", nullptr, closed + 1));
    EXPECT_EQ(fake::Count("DefWindowProcA"), 0u) << "closing the window would end the program";
    EXPECT_EQ(fake::Count("PostQuitMessage"), 0u);
    EXPECT_EQ(keysDown, (std::vector<int>{101, 151}));
    EXPECT_EQ(fake::files[IniPath], file);

    const TCodes& preset = PresetTable.presets[0];
    EXPECT_EQ(preset.vk1[0], NthKey(14).vk) << "the next sequence begins with button 1";
    EXPECT_EQ(ButtonLines().back(), "Player 1: for [Fire2] Button");
    for (int b = 2; b <= 12; ++b)
        EXPECT_EQ(preset.vk1[b - 1], 100 + b);
    EXPECT_EQ(preset.vk2[0], 151);
    EXPECT_EQ(preset.scan2[0], 31);
    EXPECT_EQ(preset.ext2[0], 0);
}

// A preset chosen from the menu while keys are taught undoes the teaching first: Kavit.ini gets
// the new choice with the keys from before "Set keys", and the teaching is over.
TEST_F(KeyAssignTest, APresetChosenWhileTeachingSavesTheKeysFromBeforeSetKeys) {
    Start(0);
    const std::string file = fake::files[IniPath];
    Queue(WM_COMMAND, CmdSetKeys);
    QueueKeys(1, 3);
    Queue(WM_COMMAND, CmdPresetBase + 1);
    QueueKeys(4, 1); // the window is gone: taken by nobody
    Run();
    EXPECT_EQ(fake::files[IniPath], settings_test::WithLine(file, 5, "Preset=2"));
    EXPECT_EQ(PresetTable.presets[0].vk1[0], 101);
    EXPECT_EQ(PresetTable.presets[1].vk1[0], 201);
}

// ---- keys that are not taken ------------------------------------------------------------------

TEST_F(KeyAssignTest, KeysWhileTheWindowIsHiddenAreIgnored) {
    Start(0);
    QueueKeys(1, 3); // window never shown
    Queue(WM_COMMAND, CmdSetKeys);
    QueueKeys(4, 13); // a whole sequence and the key that saves it
    QueueKeys(17, 2); // hidden again
    Run();
    EXPECT_EQ(fake::Count("IsWindowVisible"), 18u + 1) << "each key, and Set keys";
    EXPECT_EQ(PresetTable.presets[0].vk1[0], NthKey(4).vk) << "the first key taken is the 4th";
    EXPECT_EQ(PresetTable.presets[0].vk1[11], NthKey(15).vk);
    EXPECT_EQ(assignIndex, 0);
    EXPECT_EQ(fake::Count("InvalidateRect"), 12u);
}

TEST_F(KeyAssignTest, SystemKeysAreNotTaken) {
    Start(0);
    Queue(WM_COMMAND, CmdSetKeys);
    Queue(WM_SYSKEYDOWN, VkMenu, KeyData(0x38, false) | 1 << 29);
    Queue(WM_SYSKEYDOWN, 'X', KeyData(0x2D, false) | 1 << 29);
    Run();
    EXPECT_EQ(fake::Count("DefWindowProcA"), 2u);
    EXPECT_EQ(fake::Count("InvalidateRect"), 0u);
    EXPECT_EQ(PresetTable.presets[0].vk1[0], 101) << "as the file said";
}

// ---- what one key stores ----------------------------------------------------------------------

class TakeKeyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        app_test::ResetProgram();
        MainWindow = fake::Window;
        fake::windowProc = &MainWindowProc;
        fake::windowVisible = true;
        settings_test::AddBlockPreset("[First]", 1);
    }
    void TearDown() override { app_test::ResetProgram(); }
};

TEST_F(TakeKeyTest, ScanCodeIsBitsSixteenToTwentyThreeAndBitTwentyFourIsExtended) {
    struct Case {
        WPARAM wParam;
        uint32_t keyData;
        int vk, scan, ext;
    };
    const Case cases[] = {
        {VkUp, 0x01480001, 38, 0x48, 1},     // Up arrow: extended
        {'W', 0x00110001, 'W', 0x11, 0},     // plain key
        {0x0D, 0x011C0001, 0x0D, 0x1C, 1},   // keypad Enter
        {'Q', 0x40100001, 'Q', 0x10, 0},     // held: previous-state bit 30
        {'Q', 0xFEFF0005, 'Q', 0xFF, 0},     // bits 25..31 and a repeat count around it
        {'Q', 0x0100FFFF, 'Q', 0x00, 1},     // scan 0, extended
        {0x1A5, 0x00300001, 0x1A5, 0x30, 0}, // the whole first parameter is the code
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("key data " + std::to_string(c.keyData));
        assignIndex = 0;
        EXPECT_EQ(MainWindowProc(fake::Window, WM_KEYDOWN, c.wParam,
                                 static_cast<LPARAM>(static_cast<int32_t>(c.keyData))),
                  0);
        const TCodes& preset = PresetTable.presets[0];
        EXPECT_EQ(preset.vk1[0], c.vk);
        EXPECT_EQ(preset.scan1[0], c.scan);
        EXPECT_EQ(preset.ext1[0], c.ext);
    }
}

TEST_F(TakeKeyTest, TheSameKeyMayGoToSeveralButtons) {
    for (int i = 0; i < 3; ++i)
        MainWindowProc(fake::Window, WM_KEYDOWN, 'Z', KeyData(0x2C, false));
    for (int b = 0; b < 3; ++b)
        EXPECT_EQ(PresetTable.presets[0].vk1[b], 'Z');
    EXPECT_EQ(PresetTable.presets[0].vk1[3], 104) << "as it was";
    EXPECT_EQ(assignIndex, 3);
}

TEST_F(TakeKeyTest, KeysGoToTheCurrentPresetFromTheButtonReached) {
    settings_test::AddBlockPreset("[Second]", 2);
    assignIndex = 7;
    PresetTable.currentPreset = 1;
    fake::calls.clear();
    MainWindowProc(fake::Window, WM_KEYDOWN, 'K', KeyData(0x25, false));
    EXPECT_EQ(PresetTable.presets[1].vk1[7], 'K');
    EXPECT_EQ(PresetTable.presets[0].vk1[7], 108) << "the old preset keeps its key";
    EXPECT_EQ(ButtonLines(), std::vector<std::string>{"Player 1: for [Fire9] Button"});
}

TEST_F(TakeKeyTest, AFailedSaveIsToldAfterTheWindowIsHidden) {
    assignIndex = 24;
    app_test::FailFileWrites();
    MainWindowProc(fake::Window, WM_KEYDOWN, 'A', KeyData(0x1E, false));
    std::vector<std::string> notices = Notices();
    ASSERT_FALSE(notices.empty());
    EXPECT_EQ(notices.back(), "Save error: Kavit.ini");
    EXPECT_LT(Find("ShowWindow"), Find("MessageBoxA"));
    EXPECT_EQ(fake::CallsTo("ShowWindow")[0].args[1], static_cast<uint64_t>(SW_HIDE));
    EXPECT_EQ(assignIndex, 0);
    EXPECT_EQ(PresetTable.presets[0].vk1[0], 101) << "the closing key is stored nowhere";
}

// ---- painting -----------------------------------------------------------------------------------

TEST_F(TakeKeyTest, PaintsTheTwoLinesInBlueForEveryIndex) {
    for (int32_t i = 0; i <= 24; ++i) {
        SCOPED_TRACE("assignIndex " + std::to_string(i));
        assignIndex = i;
        fake::calls.clear();
        EXPECT_EQ(fake::Send(WM_PAINT, 0, 0), 0);
        std::string second = i < 12   ? "Player 1: for [Fire" + std::to_string(i + 1) + "] Button"
                             : i < 24 ? "Player 2: for [Key" + std::to_string(i - 11) + "] Button"
                                      : Complete;
        // Two lines in blue, drawn between the window's BeginPaint and EndPaint.
        const uint64_t dc = 0xDC;
        auto lines = fake::CallsTo("TextOutA");
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[0].args, (std::vector<uint64_t>{dc, 16, 10, 24}));
        EXPECT_EQ(lines[0].text[0], "Press key for emulation:");
        EXPECT_EQ(lines[1].args, (std::vector<uint64_t>{dc, 16, 30, second.size()}));
        EXPECT_EQ(lines[1].text[0], second);
        EXPECT_EQ(fake::CallsTo("SetTextColor").back().args,
                  (std::vector<uint64_t>{dc, 0x00FF0000}));
        auto inWindow = [](const fake::Call& c) {
            return c.args[0] == reinterpret_cast<uintptr_t>(fake::Window);
        };
        EXPECT_LT(Find("BeginPaint", inWindow), Find("SetTextColor"));
        EXPECT_LT(Find("SetTextColor"), Find("TextOutA"));
        EXPECT_LT(Find("TextOutA", nullptr, Find("TextOutA") + 1), Find("EndPaint", inWindow));
    }
}

TEST_F(TakeKeyTest, AnEmptyLabelLeavesTheBracketsEmpty) {
    PresetTable.presets[0].name1[0] = "";
    PresetTable.presets[0].name2[11] = "";
    EXPECT_EQ(AssignLabel(0), "Player 1: for [] Button");
    EXPECT_EQ(AssignLabel(23), "Player 2: for [] Button");
    EXPECT_EQ(AssignLabel(1), "Player 1: for [Fire2] Button");
}

} // namespace
