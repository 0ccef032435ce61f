// MainWindowProc: its message table and command table, each row driven through the real
// start-up and message loop.
#include "app/window_proc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>

#include "app/app_state.h"
#include "app/startup.h"
#include "common/tray_icon.h"
#include "scanner/scanner.h"
#include "settings/presets.h"
#include "settings/settings.h"
#include "tests/app/app_test_support.h"
#include "tests/settings/settings_files.h"

namespace {

using app_test::Find;
using app_test::FindText;
using app_test::IniPath;
using app_test::Instance;
using app_test::Notices;
using app_test::Queue;
using settings_test::File;

HICON const First = fake::FirstIconHandle;
HICON const Second = fake::SecondIconHandle;

uint64_t Num(const void* p) {
    return reinterpret_cast<uintptr_t>(p);
}

class WindowProcTest : public ::testing::Test {
  protected:
    void SetUp() override {
        app_test::ResetProgram();
        atEnd = nullptr;
        fake::files[IniPath] = File({"[First]", "[Second]", "[Third]"}, {250, 0, 0});
        matrix = padsim::PadMatrix{};
        matrix.Install();
    }
    void TearDown() override { app_test::ResetProgram(); }

    // Runs the program over the queued messages; `atEnd` looks at the running program when the
    // loop takes its last message. The exit code is 0, whether the program returns it or ends
    // the process with it (`exited`).
    void Run() {
        started = -1;
        exited = false;
        fake::on.GetMessageA = [this](LPMSG msg, HWND window, UINT low, UINT high) {
            if (started < 0)
                started = static_cast<int>(fake::calls.size()) - 1;
            BOOL more = fake::Defaults().GetMessageA(msg, window, low, high);
            if (!more && atEnd)
                atEnd();
            return more;
        };
        int code;
        try {
            code = RunKavit(Instance);
        } catch (const fake::ProcessExit& exit) {
            exited = true;
            code = static_cast<int>(exit.code);
        }
        ASSERT_EQ(code, 0);
    }
    // The calls made while the loop handled the queued messages, without the loop's own.
    fake::Checked<fake::Call> DuringLoop() {
        fake::Checked<fake::Call> during(std::vector<fake::Call>(), "DuringLoop()");
        int end = LoopEnd();
        for (int i = started + 1; i < end; ++i) {
            const fake::Call& c = fake::calls[static_cast<size_t>(i)];
            // Questions asked of the window change nothing: only what was done is kept.
            if (c.fn != "GetMessageA" && c.fn != "TranslateMessage" && c.fn != "DispatchMessageA" &&
                c.fn != "IsWindowVisible")
                during.push_back(c);
        }
        return during;
    }
    std::vector<std::string> NamesDuringLoop() {
        std::vector<std::string> names;
        for (const fake::Call& c : DuringLoop())
            names.push_back(c.fn);
        return names;
    }
    // Index of the last GetMessageA: the loop's end.
    int LoopEnd() {
        int last = -1;
        for (int i = Find("GetMessageA"); i >= 0; i = Find("GetMessageA", nullptr, i + 1))
            last = i;
        return last;
    }

    padsim::PadMatrix matrix;
    int started = -1; // index of the loop's first GetMessageA
    bool exited = false;
    std::function<void()> atEnd;
};

std::string TrayCall(const fake::Call& c) {
    const fake::Checked<std::string> kinds(std::vector<std::string>{"add", "modify", "delete"},
                                           "shell messages");
    std::string icon = c.args[1] == Num(First)    ? "FIRST"
                       : c.args[1] == Num(Second) ? "SECOND"
                                                  : "?";
    return kinds[c.args[0]] + " " + icon;
}

std::vector<std::string> TrayCallsDuringLoop(const std::vector<fake::Call>& during) {
    std::vector<std::string> sent;
    for (const fake::Call& c : during)
        if (c.fn == "Shell_NotifyIconA")
            sent.push_back(TrayCall(c));
    return sent;
}

// ---- messages ---------------------------------------------------------------------------------

TEST_F(WindowProcTest, DestroyRemovesTheIconThenPostsQuitWithZero) {
    matrix.Press(1, 5);
    Queue(WM_TIMER, TimerPoll); // the icon shows SECONDICON
    Queue(WM_DESTROY);
    Run();
    EXPECT_EQ(TrayCallsDuringLoop(DuringLoop()),
              (std::vector<std::string>{"modify SECOND", "delete FIRST"}));
    int quit = Find("PostQuitMessage");
    ASSERT_GE(quit, 0);
    EXPECT_EQ(fake::calls[size_t(quit)].args[0], 0u);
    EXPECT_LT(
        Find("Shell_NotifyIconA", [](const fake::Call& c) { return c.args[0] == NIM_DELETE; }),
        quit)
        << "the icon goes before the quit";
}

// The ticks keep the Interval as read; 0 stays the 10 ms SetTimer always made of it, and a
// negative number SetTimer's longest period. Without a tick thread, SetTimer polls as before.
TEST_F(WindowProcTest, TheStartupTickStartsTheTicksAtTheReadInterval) {
    struct Row {
        uint32_t interval;
        bool threadStarts;
        uint64_t period;
    } rows[] = {{250, true, 250}, {0, true, 10}, {4294967295u, true, 0x7FFFFFFF}, {2, false, 2}};
    for (const Row& row : rows) {
        SCOPED_TRACE("Interval=" + std::to_string(row.interval));
        SetUp();
        fake::files[IniPath] = File({"[First]"}, {row.interval, 0, 0});
        if (!row.threadStarts)
            fake::on.CreateThread = [](LPTHREAD_START_ROUTINE, LPVOID) { return HANDLE(); };
        std::map<UINT_PTR, UINT> running;
        atEnd = ([&] { running = fake::timers; });
        Queue(WM_TIMER, TimerStartup);
        Run();
        EXPECT_EQ(running, (row.threadStarts ? std::map<UINT_PTR, UINT>{}
                                             : std::map<UINT_PTR, UINT>{{333, row.interval}}));
        EXPECT_EQ(fake::CallsTo("KillTimer")[0].args,
                  (std::vector<uint64_t>{Num(fake::Window), 330}));
        auto armed = fake::CallsTo("SetWaitableTimer");
        ASSERT_EQ(armed.size(), 1u);
        EXPECT_EQ(armed[0].args[2], row.period);
        EXPECT_EQ(int64_t(armed[0].args[1]), -int64_t(row.period) * 10000) << "one period on";
        for (const fake::Call& c : DuringLoop())
            EXPECT_NE(c.fn, "DeviceIoControl") << "no scan on this tick";
    }
}

TEST_F(WindowProcTest, EveryOtherTickRunsOneScanPass) {
    // One pass with one pad: a data read, then per step a write and two status reads.
    const unsigned PassAccesses = 1 + 6 * 3;
    static const WPARAM ids[] = {TimerPoll, 0, 331, 332, 1, 0x10000u | TimerStartup};
    for (WPARAM id : ids) {
        SCOPED_TRACE("timer id " + std::to_string(id));
        SetUp();
        size_t before = 0;
        fake::on.GetMessageA = [&](LPMSG msg, HWND window, UINT low, UINT high) {
            if (before == 0)
                before = matrix.accesses.size();
            return fake::Defaults().GetMessageA(msg, window, low, high);
        };
        Queue(WM_TIMER, id);
        Queue(WM_TIMER, id);
        ASSERT_EQ(RunKavit(Instance), 0);
        EXPECT_EQ(matrix.accesses.size() - before, 2 * PassAccesses);
        EXPECT_EQ(fake::Count("KillTimer"), 1u) << "only the shutdown's";
    }
}

// The flash ends on a timer of its own: the thread never waits, and a pass runs meanwhile.
TEST_F(WindowProcTest, LeftClickFlashesTheIconWhateverItShowed) {
    static const bool heldCases[] = {false, true};
    for (bool buttonHeld : heldCases) {
        SCOPED_TRACE(buttonHeld ? "a pad button held" : "nothing held");
        SetUp();
        if (buttonHeld) {
            matrix.Press(1, 1);
            Queue(WM_TIMER, TimerPoll);
        }
        Queue(TrayCallbackMessage, 1, WM_LBUTTONUP);
        std::map<UINT_PTR, UINT> flashing;
        fake::on.Shell_NotifyIconA = [&](DWORD, NOTIFYICONDATAA*) {
            flashing = fake::timers;
            return TRUE;
        };
        Queue(WM_TIMER, TimerPoll); // a pass while the icon flashes
        Queue(WM_TIMER, TimerFlash);
        HICON afterwards = nullptr;
        atEnd = ([&] { afterwards = currentTrayIcon; });
        Run();
        std::vector<std::string> expected = {"modify SECOND", "modify FIRST"};
        if (buttonHeld)
            expected.insert(expected.begin(), "modify SECOND"); // the key-down
        EXPECT_EQ(TrayCallsDuringLoop(DuringLoop()), expected);
        EXPECT_EQ(flashing.count(TimerFlash), 0u) << "the flash timer outlived its tick";
        EXPECT_EQ(fake::CallsTo("SetTimer").back().args,
                  (std::vector<uint64_t>{Num(fake::Window), TimerFlash, 150, 0}));
        EXPECT_EQ(fake::Count("Sleep"), 0u);
        EXPECT_EQ(afterwards, First);
    }
}

TEST_F(WindowProcTest, RightClickOpensTheMenuAtTheCursor) {
    fake::cursor = POINT{123, 456};
    Queue(TrayCallbackMessage, 1, WM_RBUTTONUP);
    Run();
    // The window comes to the foreground before the menu, and WM_NULL is posted to it after,
    // or the menu would not close when the user clicks elsewhere.
    int menu = Find("TrackPopupMenu");
    ASSERT_GE(menu, 0);
    // menu, flags, x, y, reserved, owner, rectangle
    EXPECT_EQ(fake::calls[size_t(menu)].args,
              (std::vector<uint64_t>{Num(PopupMenu), 0, 123, 456, 0, Num(fake::Window), 0}));
    auto toWindow = [](const fake::Call& c) { return c.args[0] == Num(fake::Window); };
    int foreground = Find("SetForegroundWindow", toWindow);
    EXPECT_GE(foreground, 0);
    EXPECT_LT(foreground, menu);
    int null = Find("PostMessageA", [](const fake::Call& c) {
        return c.args == std::vector<uint64_t>{Num(fake::Window), WM_NULL, 0, 0};
    });
    EXPECT_GT(null, menu);
}

TEST_F(WindowProcTest, OtherTrayMouseEventsDoNothing) {
    static const LPARAM others[] = {
        WM_MOUSEMOVE,           WM_LBUTTONDOWN,        WM_LBUTTONDBLCLK, WM_RBUTTONDOWN, 0,
        0x10000 | WM_LBUTTONUP, 0x10000 | WM_RBUTTONUP};
    for (LPARAM mouse : others) {
        SCOPED_TRACE("lParam " + std::to_string(mouse));
        SetUp();
        Queue(TrayCallbackMessage, 1, mouse);
        Run();
        EXPECT_EQ(NamesDuringLoop(), std::vector<std::string>{});
    }
}

TEST_F(WindowProcTest, RestoreMessagesAddTheLastIconAgainWithoutRemovingIt) {
    // The program's own restore message, and the number Windows gave "TaskbarCreated" in this run.
    static const UINT restores[] = {TrayRestoreMessage, fake::TaskbarCreatedMessage};
    for (UINT restore : restores) {
        SCOPED_TRACE("message " + std::to_string(restore));
        SetUp();
        matrix.Press(2, 1);
        fake::files[IniPath] = File({"[First]"}, {10, 1, 0});
        Queue(WM_TIMER, TimerPoll); // pad 2 button 1 down: SECONDICON
        Queue(restore);
        Queue(restore);
        HICON afterwards = nullptr;
        atEnd = ([&] { afterwards = currentTrayIcon; });
        Run();
        EXPECT_EQ(TrayCallsDuringLoop(DuringLoop()),
                  (std::vector<std::string>{"modify SECOND", "add SECOND", "add SECOND"}));
        EXPECT_EQ(afterwards, Second);
    }
}

TEST_F(WindowProcTest, TaskbarCreatedIsLetThroughToAnElevatedProgram) {
    std::vector<std::pair<UINT, DWORD>> filtered;
    static std::vector<std::pair<UINT, DWORD>>* record;
    record = &filtered;
    typedef BOOL (*TFilter)(UINT, DWORD);
    TFilter filter = [](UINT message, DWORD flag) -> BOOL {
        record->push_back({message, flag});
        return TRUE;
    };
    fake::on.GetProcAddress = [filter](HMODULE module, LPCSTR name) -> FARPROC {
        if (std::string(name) == "ChangeWindowMessageFilter")
            return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(filter));
        return fake::Defaults().GetProcAddress(module, name);
    };
    Run();
    EXPECT_EQ(filtered, (std::vector<std::pair<UINT, DWORD>>{{fake::TaskbarCreatedMessage, 1}}));
    int lookup = FindText("GetModuleHandleA", "user32.dll");
    EXPECT_GE(lookup, 0);
    EXPECT_LT(lookup, Find("Shell_NotifyIconA"));
}

TEST_F(WindowProcTest, EveryOtherMessageGoesToDefWindowProcWithItsAnswer) {
    Run(); // creates the window and registers "TaskbarCreated"
    fake::calls.clear();
    fake::on.DefWindowProcA = [](HWND, UINT message, WPARAM, LPARAM) -> LRESULT {
        return 1000 + message;
    };
    const UINT others[] = {WM_NULL, WM_CLOSE,      WM_KEYUP,
                           WM_CHAR, WM_SYSKEYDOWN, WM_LBUTTONUP,
                           WM_USER, WM_USER + 2,   TrayRestoreMessage + 1,
                           0xC0F1};
    for (UINT message : others) {
        SCOPED_TRACE("message " + std::to_string(message));
        fake::calls.clear();
        EXPECT_EQ(MainWindowProc(fake::Window, message, 0x12, 0x34), 1000 + message);
        // WM_CLOSE of the hidden window, from another program: it ends the program as ever.
        ASSERT_EQ(fake::Count("DefWindowProcA"), 1u);
        EXPECT_EQ(fake::CallsTo("DefWindowProcA")[0].args,
                  (std::vector<uint64_t>{Num(fake::Window), message, 0x12, 0x34}));
    }
}

TEST_F(WindowProcTest, NothingIsTakenForTaskbarCreatedBeforeItIsRegistered) {
    // Messages reach the window before start-up registers the name (while it is created, and
    // in the modal loop of the LPT error box); WM_NULL is not the task bar's announcement.
    MainWindow = fake::Window;
    EXPECT_EQ(MainWindowProc(fake::Window, WM_NULL, 0, 0), 0);
    EXPECT_EQ(fake::Count("DefWindowProcA"), 1u);
    EXPECT_EQ(fake::Count("Shell_NotifyIconA"), 0u) << "no icon added for it";
}

TEST_F(WindowProcTest, TableMessagesAnswerZeroThemselves) {
    Run();
    fake::on.DefWindowProcA = [](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 99; };
    const UINT table[] = {WM_PAINT,
                          WM_KEYDOWN,
                          WM_COMMAND,
                          WM_TIMER,
                          TrayCallbackMessage,
                          TrayRestoreMessage,
                          fake::TaskbarCreatedMessage};
    for (UINT message : table) {
        SCOPED_TRACE("message " + std::to_string(message));
        fake::calls.clear();
        EXPECT_EQ(MainWindowProc(fake::Window, message, 0, 0), 0);
        EXPECT_EQ(fake::Count("DefWindowProcA"), 0u);
    }
}

// ---- commands ---------------------------------------------------------------------------------

TEST_F(WindowProcTest, SetKeysShowsAndActivatesTheWindowOnly) {
    assignIndex = 5; // a sequence left unfinished goes on where it stopped
    Queue(WM_COMMAND, CmdSetKeys);
    Queue(WM_COMMAND, CmdSetKeys); // again while visible: shown again, nothing else
    bool visible = false;
    atEnd = ([&] { visible = fake::windowVisible; });
    Run();
    ASSERT_EQ(fake::Count("ShowWindow"), 2u);
    for (const fake::Call& c : fake::CallsTo("ShowWindow"))
        EXPECT_EQ(c.args, (std::vector<uint64_t>{Num(fake::Window), SW_SHOWNORMAL}));
    EXPECT_TRUE(visible);
    EXPECT_EQ(assignIndex, 5);
    EXPECT_EQ(Notices(), std::vector<std::string>{});
    EXPECT_EQ(fake::Count("WriteFile"), 0u) << "nothing saved";
}

TEST_F(WindowProcTest, HelpOpensThePageBesideTheProgram) {
    fake::on.ShellExecuteA = [](HWND, LPCSTR, LPCSTR, LPCSTR, LPCSTR, int) {
        return reinterpret_cast<HINSTANCE>(2); // file not found
    };
    Queue(WM_COMMAND, CmdHelp);
    Run();
    auto opened = fake::CallsTo("ShellExecuteA");
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].args, (std::vector<uint64_t>{Num(fake::Window), SW_SHOWNORMAL}));
    EXPECT_EQ(opened[0].text,
              (std::vector<std::string>{"open", app_test::HelpPath, "<null>", "C:\\Kavit\\"}));
    EXPECT_EQ(Notices(), std::vector<std::string>{}) << "the shell's answer is not looked at";
}

TEST_F(WindowProcTest, AboutShowsVersionAddressAndSixBlanks) {
    Queue(WM_COMMAND, CmdAbout);
    Run();
    auto boxes = fake::CallsTo("MessageBoxA");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].args,
              (std::vector<uint64_t>{Num(fake::Window), MB_OK | MB_ICONINFORMATION}));
    EXPECT_EQ(boxes[0].text[1], "Kavit");
    // The version the build gives the program (CMakeLists.txt), the project's address, and
    // exactly six blanks.
    EXPECT_EQ(boxes[0].text[0],
              std::string("Kavit ") + KAVIT_VERSION + " https://kavit.example.org/" + "      ");
}

TEST_F(WindowProcTest, ExitPostsDestroyToTheWindowItself) {
    Queue(WM_COMMAND, CmdExit);
    Run();
    auto posted = fake::CallsTo("PostMessageA");
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].args, (std::vector<uint64_t>{Num(fake::Window), WM_DESTROY, 0, 0}));
    // Nothing is removed before the window's own WM_DESTROY does it.
    EXPECT_LT(Find("PostMessageA"), Find("Shell_NotifyIconA", nullptr, started));
    EXPECT_GE(Find("PostQuitMessage"), 0);
}

TEST_F(WindowProcTest, IdsThatAreNoCommandDoNothing) {
    // Three presets: 900..902 choose one. The whole parameter is compared.
    static const WPARAM ids[] = {0,
                                 454,
                                 456,
                                 457,
                                 458,
                                 461,
                                 463,
                                 899,
                                 903,
                                 0x10000 | CmdSetKeys,
                                 0x10000 | CmdExit,
                                 0x10000 | 900,
                                 static_cast<WPARAM>(-1),
                                 static_cast<WPARAM>(900 - 1000)};
    for (WPARAM id : ids) {
        SCOPED_TRACE("id " + std::to_string(id));
        SetUp();
        Queue(WM_COMMAND, id);
        Run();
        EXPECT_EQ(NamesDuringLoop(), std::vector<std::string>{});
        EXPECT_EQ(PresetTable.currentPreset, 0);
    }
}

// ---- choosing a preset ------------------------------------------------------------------------

struct MenuState {
    fake::Checked<fake::MenuItem> items;
    void Take() {
        const std::vector<fake::MenuItem>& taken = fake::menus[PresetTable.PresetSubmenu];
        items.assign(taken.begin(), taken.end());
    }
    std::vector<UINT> Checked() const {
        std::vector<UINT> checked;
        for (size_t i = 0; i < items.size(); ++i)
            if (items[i].flags & MF_CHECKED)
                checked.push_back(static_cast<UINT>(i));
        return checked;
    }
};

// The current preset as the file written says.
int32_t SavedPreset() {
    TSettingsValues saved;
    EXPECT_TRUE(ReadSettingsText(fake::files[IniPath], saved));
    return saved.currentPreset;
}

TEST_F(WindowProcTest, ChoosingAPresetMovesTheCheckMarkAndSaves) {
    MenuState menu;
    atEnd = ([&] { menu.Take(); });
    Queue(WM_COMMAND, 902);
    Run();
    auto during = DuringLoop();
    ASSERT_GE(during.size(), 2u);
    HMENU submenu = PresetTable.PresetSubmenu;
    // menu, position, flags, id
    EXPECT_EQ(during[0].fn, "ModifyMenuA");
    EXPECT_EQ(during[0].args, (std::vector<uint64_t>{
                                  Num(submenu), 0, MF_BYPOSITION | MF_STRING | MF_UNCHECKED, 900}));
    EXPECT_EQ(during[0].text[0], "First");
    EXPECT_EQ(during[1].fn, "ModifyMenuA");
    EXPECT_EQ(during[1].args, (std::vector<uint64_t>{Num(submenu), 2,
                                                     MF_BYPOSITION | MF_STRING | MF_CHECKED, 902}));
    EXPECT_EQ(during[1].text[0], "Third");
    EXPECT_EQ(PresetTable.currentPreset, 2);
    EXPECT_EQ(menu.Checked(), std::vector<UINT>{2});
    EXPECT_EQ(menu.items[0].text, "First");
    EXPECT_EQ(SavedPreset(), 2);
    EXPECT_EQ(Notices(), std::vector<std::string>{});
}

TEST_F(WindowProcTest, ChoosingTheCurrentPresetRewritesItCheckedAndSavesAgain) {
    fake::files[IniPath] = File({"[First]", "[Second]", "[Third]"}, {250, 0, 0}, 1);
    MenuState menu;
    atEnd = ([&] { menu.Take(); });
    // Line 1 is not read: the program writes its own, so a rewrite shows.
    fake::files[IniPath] = settings_test::WithLine(fake::files[IniPath], 1, "[old title]");
    const std::string before = fake::files[IniPath];
    Queue(WM_COMMAND, 901);
    Run();
    auto modified = fake::CallsTo("ModifyMenuA");
    ASSERT_EQ(modified.size(), 2u);
    EXPECT_EQ(modified[0].args[1], 1u);
    EXPECT_EQ(modified[0].args[2], static_cast<uint64_t>(MF_BYPOSITION | MF_UNCHECKED));
    EXPECT_EQ(modified[1].args[1], 1u);
    EXPECT_EQ(modified[1].args[2], static_cast<uint64_t>(MF_BYPOSITION | MF_CHECKED));
    EXPECT_EQ(menu.Checked(), std::vector<UINT>{1});
    EXPECT_NE(fake::files[IniPath], before) << "the file is written again";
    EXPECT_EQ(SavedPreset(), 1);
}

TEST_F(WindowProcTest, AFailedSaveIsToldAndTheChoiceStays) {
    MenuState menu;
    atEnd = ([&] { menu.Take(); });
    const std::string before = fake::files[IniPath];
    app_test::FailFileWrites();
    Queue(WM_COMMAND, 901);
    Run();
    std::vector<std::string> notices = Notices();
    ASSERT_FALSE(notices.empty());
    EXPECT_EQ(notices.back(), "Save error: Kavit.ini");
    auto boxes = fake::CallsTo("MessageBoxA");
    EXPECT_EQ(boxes.back().args, (std::vector<uint64_t>{0, MB_OK}));
    EXPECT_EQ(boxes.back().text[1], "Kavit program");
    EXPECT_EQ(PresetTable.currentPreset, 1);
    EXPECT_EQ(menu.Checked(), std::vector<UINT>{1});
    EXPECT_EQ(fake::files[IniPath], before);
}

TEST_F(WindowProcTest, TheNextScanPassUsesTheNewPreset) {
    matrix.Press(1, 2);
    Queue(WM_COMMAND, 901);
    Queue(WM_TIMER, TimerPoll);
    Run();
    auto keys = fake::CallsTo("keybd_event");
    ASSERT_FALSE(keys.empty());
    // Preset 2 (seed 2), pad 1 button 2: virtual key 202 (low byte sent), scan 12, flags 0.
    EXPECT_EQ(keys[0].args, (std::vector<uint64_t>{202, 12, 0, KavitKeyMark}));
}

// ---- the preset of the program in front -------------------------------------------------------

HWND const Doom = HWND(0x7D01), Quake = HWND(0x7D02), Other = HWND(0x7D03), Locked = HWND(0x7D04);
const UINT ToFront = WM_USER + 100, PadButton = WM_USER + 101; // handled by the test

void Front(HWND window) {
    Queue(ToFront, WPARAM(window));
    Queue(WM_TIMER, TimerForeground);
}
void Pad(bool down) {
    Queue(PadButton, down);
    Queue(WM_TIMER, TimerPoll);
}
// Pad 1 button 1 of preset k of File() sends vk (k + 1) * 100 + 1, as a byte: down, then up.
std::string Tap(int32_t k) {
    std::string vk = std::to_string(BYTE((k + 1) * 100 + 1));
    return vk + "v " + vk + "^ ";
}

TEST_F(WindowProcTest, ThePresetFollowsTheProgramInFront) {
    // "@" words: none; case and brackets; several, odd spacing, a lone "@", one inside a word.
    const std::string original = File(
        {"[Menu]", "[Doom @DOOM.exe]", "[Quake]\t@ me@other.exe  @quake.exe @doom.exe"}, {9, 0, 0});
    fake::files[IniPath] = original;
    fake::windowPrograms = {{Doom, "C:\\Games\\doom.exe"}, {Other, "C:\\doom.exe\\other.exe"}};
    fake::windowPrograms[Quake] = "\\Device\\HarddiskVolume2\\QUAKE.EXE";
    fake::windowPrograms[Locked] = ""; // cannot be opened
    std::string checked, wantChecked, sent, want;
    fake::on.DefWindowProcA = [&](HWND, UINT message, WPARAM wParam, LPARAM) -> LRESULT {
        if (message == ToFront)
            fake::foreground = HWND(wParam);
        else if (message == PadButton)
            wParam ? matrix.Press(1, 1) : matrix.Release(1, 1);
        for (const fake::MenuItem& item : fake::menus[PresetTable.PresetSubmenu])
            if (message == PadButton && wParam && item.flags & MF_CHECKED)
                checked += std::to_string(item.id - CmdPresetBase);
        return 0;
    };
    // After each step a tap of pad 1 button 1: the keys of preset k, and its item checked.
    auto tap = [&](int32_t k) { Pad(true), Pad(false), want += Tap(k), wantChecked += '0' + k; };
    Front(Doom), tap(1); // the first preset naming doom.exe
    Pad(true), Front(Quake), Pad(false), want += Tap(1), wantChecked += '1', tap(2); // held
    Front(fake::Window), Front(fake::TaskBar), tap(2); // no change of program
    Front(Other), tap(0);                              // named by no preset: the chosen one
    Front(Doom), Front(Locked), tap(0);
    Front(Doom), Queue(WM_COMMAND, CmdPresetBase + 2), tap(2); // chosen, saved
    Front(Doom), tap(2), Front(Other), Front(Doom), tap(1);    // the choice holds while Doom stays
    // Set keys teaches Doom's preset whatever comes to the front: its own keys, then a save.
    Queue(WM_COMMAND, CmdSetKeys), Front(Other), tap(1);
    for (int b = 1; b <= 13; ++b)
        Queue(WM_KEYDOWN, WPARAM(200 + b), app_test::KeyData(b + 10, b % 2));
    Queue(WM_TIMER, TimerForeground), tap(2); // the new choice comes back
    Run();
    for (const fake::Call& c : fake::CallsTo("keybd_event"))
        sent += std::to_string(c.args[0]) + (c.args[2] & KEYEVENTF_KEYUP ? "^ " : "v ");
    EXPECT_EQ(sent + "| checked " + checked, want + "| checked " + wantChecked);
    // Written by the menu choice and by the keys taught, both with the preset chosen.
    EXPECT_EQ(fake::Count("MoveFileExA"), 2u);
    EXPECT_EQ(fake::files[IniPath], settings_test::WithLine(original, 5, "Preset=3"));
}

// On a locked or secure desktop GetCursorPos fails and leaves the point as it was: the menu then
// opens where the click was, as the message tells.
TEST_F(WindowProcTest, WithoutACursorPositionTheMenuOpensAtTheMessagePosition) {
    fake::cursor = POINT{-20, 700}; // left of the main screen
    fake::on.GetCursorPos = [](LPPOINT) { return FALSE; };
    Queue(TrayCallbackMessage, 1, WM_RBUTTONUP);
    Run();
    int shown = Find("TrackPopupMenu");
    ASSERT_GE(shown, 0);
    const fake::Call& menu = fake::calls[static_cast<size_t>(shown)];
    EXPECT_EQ(static_cast<int>(menu.args[2]), -20);
    EXPECT_EQ(static_cast<int>(menu.args[3]), 700);
}

// Log-off, shut-down or the Restart Manager: the keys still held, the icon and the driver service
// this run installed go while WM_ENDSESSION is handled, once, and then the process ends with exit
// code 0, taking no other message. A session that goes on changes nothing.
TEST_F(WindowProcTest, TheEndOfTheSessionReleasesEverythingOnce) {
    static const WPARAM endings[] = {FALSE, TRUE};
    for (WPARAM ending : endings) {
        SCOPED_TRACE(ending ? "session ends" : "session goes on");
        SetUp();
        // The driver answers only once this run has installed its service.
        matrix.deviceOpens = false;
        fake::on.StartServiceA = [this](SC_HANDLE, DWORD, LPCSTR*) {
            matrix.deviceOpens = true;
            return TRUE;
        };
        matrix.Press(1, 4);
        Queue(WM_TIMER, TimerStartup);
        Queue(WM_TIMER, TimerPoll); // button 4 goes down
        Queue(WM_ENDSESSION, ending);
        Queue(WM_TIMER, TimerPoll); // a tick already queued
        Queue(WM_DESTROY);
        Run();
        int ended = Find("DispatchMessageA",
                         [](const fake::Call& c) { return c.args[1] == WM_ENDSESSION; });
        ASSERT_GE(ended, 0);
        int keyUp = Find("keybd_event",
                         [](const fake::Call& c) { return (c.args[2] & KEYEVENTF_KEYUP) != 0; });
        int iconGone =
            Find("Shell_NotifyIconA", [](const fake::Call& c) { return c.args[0] == 2; });
        int stopped = Find("ControlService");
        int deleted = Find("DeleteService");
        ASSERT_GE(keyUp, 0);
        ASSERT_GE(iconGone, 0);
        ASSERT_GE(deleted, 0);
        EXPECT_EQ(Find("ControlService", nullptr, stopped + 1), -1);
        EXPECT_EQ(Find("DeleteService", nullptr, deleted + 1), -1);
        EXPECT_EQ(Find(
                      "Shell_NotifyIconA", [](const fake::Call& c) { return c.args[0] == 2; },
                      iconGone + 1),
                  -1);
        EXPECT_EQ(Find("keybd_event", nullptr, keyUp + 1), -1);
        EXPECT_LT(stopped, deleted);
        EXPECT_EQ(exited, ending != FALSE);
        if (ending) {
            int exit = Find("ExitProcess");
            ASSERT_EQ(exit, static_cast<int>(fake::calls.size()) - 1) << "the last thing done";
            for (int step : {keyUp, iconGone, stopped, deleted}) {
                EXPECT_GT(step, ended);
                EXPECT_LT(step, exit);
            }
            EXPECT_EQ(Find("GetMessageA", nullptr, ended), -1) << "a message taken after the end";
        } else {
            // Nothing then: the program's own end lets go of the key and the service.
            EXPECT_GT(keyUp, LoopEnd());
            EXPECT_GT(deleted, LoopEnd());
        }
    }
}

// The session may end while a pass is sending: the shell's icon call, like the keyboard hooks'
// calls, lets messages sent by other programs in while it waits. The key that pass pressed is
// let go of all the same.
TEST_F(WindowProcTest, TheSessionEndingInTheMiddleOfAPassLetsGoOfTheKeyItPressed) {
    matrix.Press(1, 6);
    fake::on.Shell_NotifyIconA = [](DWORD message, NOTIFYICONDATAA*) {
        if (message == NIM_MODIFY)
            fake::Send(WM_ENDSESSION, TRUE, 0);
        return TRUE;
    };
    Queue(WM_TIMER, TimerPoll); // button 6 goes down, and the icon changes
    Run();
    ASSERT_TRUE(exited);
    std::vector<DWORD> flags;
    for (const fake::Call& c : fake::CallsTo("keybd_event"))
        flags.push_back(static_cast<DWORD>(c.args[2]) & KEYEVENTF_KEYUP);
    EXPECT_EQ(flags, (std::vector<DWORD>{0, KEYEVENTF_KEYUP})) << "a key-down, then its key-up";
}

// ---- the tick source ----------------------------------------------------------------------

// The tick thread posts a tick only once the window has handled the last: those that come in
// between are dropped, not queued. t: the timer expires; h: the window handles its tick.
TEST_F(WindowProcTest, TicksReachTheWindowOneAtATime) {
    Queue(WM_TIMER, TimerStartup);
    atEnd = [] {
        const std::string script = "ttthtthtx";
        size_t step = 0;
        fake::on.WaitForMultipleObjects = [&](DWORD, const HANDLE*) -> DWORD {
            for (; script[step] == 'h'; ++step)
                fake::Send(WM_TIMER, TimerPoll, 0);
            return script[step++] == 't' ? WAIT_OBJECT_0 + 1 : WAIT_OBJECT_0;
        };
        ASSERT_NE(fake::thread, nullptr);
        fake::thread(nullptr);
    };
    Run();
    auto posts = fake::CallsTo("PostMessageA");
    ASSERT_EQ(posts.size(), 3u) << "three ticks handled or waiting: one post each";
    for (const fake::Call& post : posts)
        EXPECT_EQ(post.args, (std::vector<uint64_t>{Num(fake::Window), WM_TIMER, TimerPoll, 0}));
}

// What the tick source asked of Windows, in order; CREATE_WAITABLE_TIMER_HIGH_RESOLUTION is known
// from Windows 10 1803 on.
std::vector<std::string> asked;
int windowsLevel; // 0: XP (no call), 1: 8 and 10 before 1803 (flag unknown), 2: 1803 on
UINT WINAPI TimeBeginPeriod(UINT ms) {
    asked.push_back("raise to " + std::to_string(ms));
    return 0;
}
UINT WINAPI TimeEndPeriod(UINT ms) {
    asked.push_back("give back " + std::to_string(ms));
    return 0;
}
BOOL WINAPI SetProcessInformation(HANDLE, int kind, LPVOID state, DWORD size) {
    const ULONG* s = static_cast<const ULONG*>(state); // version, decided, throttled
    char text[64];
    snprintf(text, sizeof text, "class %d, %u bytes: %u %u %u", kind, size, s[0], s[1], s[2]);
    asked.push_back(text);
    return TRUE;
}
HANDLE WINAPI CreateWaitableTimerExW(LPSECURITY_ATTRIBUTES, LPCWSTR, DWORD flags, DWORD access) {
    return flags == 2 && access == 0x1F0003 && windowsLevel == 2 ? HANDLE(0x7713) : nullptr;
}
template <typename F> FARPROC Proc(F* f) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(f));
}

// Every resolution raised is given back, and the throttling opt-out withdrawn, on every way out;
// the opt-out is asked for only where Windows has the call.
TEST_F(WindowProcTest, TheTicksGiveBackWhatTheyAskedOfWindowsOnEveryWayOut) {
    const std::string Out = "class 4, 12 bytes: 1 5 0", In = "class 4, 12 bytes: 1 0 0";
    const std::vector<std::string> want[] = {
        {"raise to 1", "give back 1"}, {Out, "raise to 1", "give back 1", In}, {Out, In}};
    for (windowsLevel = 0; windowsLevel < 3; ++windowsLevel) {
        for (std::string way : {"exit", "session end", "failed start"}) {
            SCOPED_TRACE("Windows level " + std::to_string(windowsLevel) + ", " + way);
            SetUp();
            asked.clear();
            fake::on.LoadLibraryA = [](LPCSTR name) {
                return std::string(name) == "winmm.dll" ? HMODULE(0x3000)
                                                        : fake::Defaults().LoadLibraryA(name);
            };
            fake::on.GetProcAddress = [](HMODULE module, LPCSTR name) -> FARPROC {
                std::string n = name;
                if (module == HMODULE(0x3000))
                    return Proc(n == "timeBeginPeriod" ? TimeBeginPeriod : TimeEndPeriod);
                if (windowsLevel > 0 && n == "SetProcessInformation")
                    return Proc(SetProcessInformation);
                if (windowsLevel > 0 && n == "CreateWaitableTimerExW")
                    return Proc(CreateWaitableTimerExW);
                return fake::Defaults().GetProcAddress(module, name);
            };
            if (way == "failed start")
                fake::on.CreateThread = [](LPTHREAD_START_ROUTINE, LPVOID) { return HANDLE(); };
            Queue(WM_TIMER, TimerStartup);
            Queue(way == "session end" ? WM_ENDSESSION : WM_DESTROY, TRUE);
            Run();
            EXPECT_EQ(asked, want[windowsLevel]);
            EXPECT_EQ(exited, way == "session end");
        }
    }
}

} // namespace
