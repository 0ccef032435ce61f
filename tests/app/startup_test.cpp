// Start-up, message loop and shutdown, run for real against the stand-in.
#include "app/startup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "app/app_state.h"
#include "common/tray_icon.h"
#include "app/window_proc.h"
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

class StartupTest : public ::testing::Test {
  protected:
    void SetUp() override {
        app_test::ResetProgram();
        fake::files[IniPath] = File({"[First]", "[Second]"}, {10, 0, 0});
    }
    void TearDown() override { app_test::ResetProgram(); }

    padsim::PadMatrix matrix;
};

bool IconAdded(const fake::Call& c) {
    return c.args[0] == NIM_ADD;
}
bool ClosesTheDevice(const fake::Call& c) {
    return c.args[0] == reinterpret_cast<uintptr_t>(padsim::DeviceHandle);
}

// ---- start and end ----------------------------------------------------------------------------

TEST_F(StartupTest, StartsAndShutsDownWithoutTheDriver) {
    // The stand-in's plain NT machine: the driver device is missing even after this run has
    // installed the service, so no port can be reached. The user sees the notice, then the icon
    // while the loop runs; at the end the service this run installed is gone.
    EXPECT_EQ(RunKavit(Instance), 0);
    EXPECT_EQ(Notices(), std::vector<std::string>{"LPT error, driver installed?"});
    int loop = Find("GetMessageA");
    ASSERT_GE(loop, 0);
    EXPECT_LT(Find("Shell_NotifyIconA", IconAdded), loop);
    EXPECT_GT(Find("DeleteService"), loop);
    EXPECT_EQ(fake::Count("DeleteService"), 1u);
    EXPECT_EQ(fake::menus.size(), 0u) << "every menu destroyed";
    EXPECT_EQ(fake::OpenFileCount(), 0u);
    EXPECT_EQ(PortConnection, nullptr);
}

TEST_F(StartupTest, WithTheDriverThePortsAreTestedBeforeTheIconAndHeldKeysAreLetGoAtTheEnd) {
    matrix.Install();
    matrix.Press(1, 3);
    Queue(WM_TIMER, TimerStartup);
    Queue(WM_TIMER, TimerPoll); // button 3 goes down
    EXPECT_EQ(RunKavit(Instance), 0);
    // The connection tests the ports itself when it is built; start-up tests them again once
    // the window exists, and only then shows the icon.
    int window = Find("CreateWindowExA"), icon = Find("Shell_NotifyIconA", IconAdded);
    int tested = Find("DeviceIoControl", nullptr, window);
    EXPECT_GT(tested, window);
    EXPECT_LT(tested, icon);
    EXPECT_EQ(Notices(), std::vector<std::string>{}) << "the port is reachable: no LPT error";

    // Button 3's key goes down from the loop and up after it, before the device is closed.
    auto keys = fake::CallsTo("keybd_event");
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(keys[0].args[0], keys[1].args[0]) << "the same key";
    EXPECT_EQ(keys[0].args[2] & KEYEVENTF_KEYUP, 0u);
    EXPECT_EQ(keys[1].args[2] & KEYEVENTF_KEYUP, uint64_t(KEYEVENTF_KEYUP));
    int lastMessage = -1;
    for (int next = Find("GetMessageA"); next >= 0; next = Find("GetMessageA", nullptr, next + 1))
        lastMessage = next;
    int up = Find("keybd_event", [](const fake::Call& c) { return c.args[2] & KEYEVENTF_KEYUP; });
    EXPECT_GT(up, lastMessage);
    EXPECT_LT(up, Find("CloseHandle", ClosesTheDevice, lastMessage));
}

// ---- what each step sets up ------------------------------------------------------------------

TEST_F(StartupTest, ProgramDirIsTheExecutablesFolderAndNamesTheSettingsFile) {
    fake::modulePath = "D:\\Games\\Pads\\Kavit.exe";
    fake::files["D:\\Games\\Pads\\Kavit.ini"] = fake::files[IniPath];
    fake::files.erase(IniPath);
    EXPECT_EQ(RunKavit(Instance), 0);
    EXPECT_EQ(programDir, "D:\\Games\\Pads\\");
    EXPECT_GE(FindText("CreateFileA", "D:\\Games\\Pads\\Kavit.ini"), 0);
    EXPECT_EQ(Notices(), std::vector<std::string>{"LPT error, driver installed?"});
}

TEST_F(StartupTest, IconsComeFromTheProgramsOwnModule) {
    RunKavit(Instance);
    auto loads = fake::CallsTo("LoadIconA");
    ASSERT_EQ(loads.size(), 2u);
    for (const fake::Call& load : loads)
        EXPECT_EQ(load.args[0], reinterpret_cast<uintptr_t>(Instance));
    EXPECT_EQ(FirstIcon, fake::FirstIconHandle);
    EXPECT_EQ(SecondIcon, fake::SecondIconHandle);
}

TEST_F(StartupTest, WindowClassAndHiddenWindowAsDescribed) {
    RunKavit(Instance);
    auto registered = fake::CallsTo("RegisterClassA");
    ASSERT_EQ(registered.size(), 1u);
    const fake::Call& c = registered[0];
    // style, procedure, class extra, window extra, instance, icon, cursor, brush
    const std::vector<uint64_t> fields = {0,
                                          reinterpret_cast<uintptr_t>(&MainWindowProc),
                                          0,
                                          0,
                                          reinterpret_cast<uintptr_t>(Instance),
                                          0,
                                          0xC0,                // what LoadCursorA answers
                                          0xB0 + WHITE_BRUSH}; // what GetStockObject answers
    EXPECT_EQ(c.args, fields);
    EXPECT_EQ(c.text, (std::vector<std::string>{"<null>", "Kavit Tray"})) << "menu, class name";
    EXPECT_EQ(fake::CallsTo("LoadCursorA")[0].args[0], 0u) << "the system's arrow";

    auto created = fake::CallsTo("CreateWindowExA");
    ASSERT_EQ(created.size(), 1u);
    // extended style, style, x, y, width, height, parent, menu, instance, parameter
    const std::vector<uint64_t> window = {
        0, WS_CAPTION, 300, 300, 250, 100, 0, 0, reinterpret_cast<uintptr_t>(Instance), 0};
    EXPECT_EQ(created[0].args, window);
    EXPECT_EQ(created[0].text, (std::vector<std::string>{"Kavit Tray", "Kavit program"}));
    EXPECT_EQ(MainWindow, fake::Window);
    EXPECT_EQ(fake::Count("ShowWindow"), 0u);
    EXPECT_FALSE(fake::windowVisible);
}

TEST_F(StartupTest, PopupMenuHasItsEightItemsWithThePresetSubmenu) {
    std::vector<fake::MenuItem> items, presetItems;
    app_test::AtLoopEnd([&] {
        items = fake::menus[PopupMenu];
        presetItems = fake::menus[PresetTable.PresetSubmenu];
    });
    RunKavit(Instance);
    const std::vector<fake::MenuItem> expected = {
        {MF_STRING, 455, "Set keys"},
        {MF_SEPARATOR, 456, ""},
        {MF_POPUP, reinterpret_cast<UINT_PTR>(PresetTable.PresetSubmenu), "Preset"},
        {MF_SEPARATOR, 458, ""},
        {MF_STRING, 459, "Help"},
        {MF_STRING, 460, "About"},
        {MF_SEPARATOR, 461, ""},
        {MF_STRING, 462, "Exit"},
    };
    EXPECT_EQ(items, expected);
    ASSERT_NE(PresetTable.PresetSubmenu, nullptr);
    EXPECT_EQ(presetItems.size(), 2u) << "the submenu that LoadSettings filled";
    EXPECT_EQ(fake::menus.count(PopupMenu), 0u) << "destroyed at shutdown";
    EXPECT_EQ(fake::menus.count(PresetTable.PresetSubmenu), 0u) << "destroyed at shutdown";
}

TEST_F(StartupTest, OnlyTheStartupTimerRunsBeforeTheFirstTick) {
    std::map<UINT_PTR, UINT> running;
    app_test::AtLoopEnd([&] { running = fake::timers; });
    RunKavit(Instance);
    EXPECT_EQ(running, (std::map<UINT_PTR, UINT>{{330, 1000}}));
    auto set = fake::CallsTo("SetTimer");
    ASSERT_EQ(set.size(), 1u);
    EXPECT_EQ(set[0].args[0], reinterpret_cast<uintptr_t>(fake::Window));
    EXPECT_EQ(set[0].args[3], 0u) << "no callback: ticks come as WM_TIMER";
    EXPECT_EQ(fake::Count("keybd_event"), 0u);
}

TEST_F(StartupTest, TheLoopTranslatesAndDispatchesEveryMessageOfTheThread) {
    // For the window, and for the thread itself (no window); the quit message that the dry
    // queue gives ends the loop untranslated and undispatched.
    const MSG posted[] = {{fake::Window, WM_NULL, 5, 6, 0, {0, 0}},
                          {nullptr, WM_USER + 7, 7, 8, 0, {0, 0}},
                          {fake::Window, WM_TIMER, TimerStartup, 0, 0, {0, 0}}};
    for (const MSG& m : posted)
        fake::Post(m.hwnd, m.message, m.wParam, m.lParam);
    RunKavit(Instance);
    // The loop's own calls, in order: each message as taken is translated, then dispatched whole.
    std::vector<std::string> loop, expected;
    for (const fake::Call& c : fake::calls) {
        std::string args;
        for (uint64_t a : c.args)
            args += " " + std::to_string(a);
        if (c.fn == "GetMessageA" || c.fn == "TranslateMessage" || c.fn == "DispatchMessageA")
            loop.push_back(c.fn + args);
    }
    for (const MSG& m : posted) {
        expected.push_back("GetMessageA 0 0 0"); // any window, no filter
        expected.push_back("TranslateMessage " + std::to_string(m.message));
        expected.push_back("DispatchMessageA " +
                           std::to_string(reinterpret_cast<uintptr_t>(m.hwnd)) + " " +
                           std::to_string(m.message) + " " + std::to_string(m.wParam) + " " +
                           std::to_string(m.lParam));
    }
    expected.push_back("GetMessageA 0 0 0");
    EXPECT_EQ(loop, expected);
}

// ---- the port ---------------------------------------------------------------------------------

TEST_F(StartupTest, TheFirstPortThatAnswersIsChosen) {
    struct Case {
        PortCode wired; // where the pads answer; 0x40 answers nowhere that is tested
        PortCode chosen;
        std::vector<BYTE> portsTested;
    };
    static const Case cases[] = {
        {PortLpt1, PortLpt1, {0x10}},
        {PortLpt2, PortLpt2, {0x10, 0x20}},
        {PortLpt3, PortLpt3, {0x10, 0x20, 0x30}},
        {0x40, 0, {0x10, 0x20, 0x30}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("pads on port " + std::to_string(c.wired));
        SetUp();
        matrix.port = c.wired;
        matrix.Install();
        EXPECT_EQ(RunKavit(Instance), 0);
        EXPECT_EQ(selectedPort, c.chosen);
        // The connection's own presence tests run while it is built; start-up's run after the
        // window exists.
        std::vector<BYTE> tested;
        for (BYTE address : app_test::PortAddressesAfter(Find("CreateWindowExA"))) {
            BYTE port = LPT_ADDRESS(LPT_ADDRESS_PORT(address), 0);
            if (std::find(tested.begin(), tested.end(), port) == tested.end())
                tested.push_back(port);
        }
        EXPECT_EQ(tested, c.portsTested);
        EXPECT_EQ(Notices(), std::vector<std::string>{}) << "a silent start, even without pads";
        EXPECT_GE(Find("SetTimer"), 0) << "the program runs";
    }
}

// Another program holds every port at the start: the tray tip says so (no box over a game), and
// from the look after the port was let go Kavit reads the pads on LPT1, its tip its own again.
TEST_F(StartupTest, APortInUseIsNamedInTheTipAndReadFromTheSecondItIsFree) {
    matrix.Install();
    matrix.Press(1, 3);
    matrix.failing = true;
    matrix.failError = ERROR_BUSY;
    int taken = 0; // messages the loop has taken; the port is let go before the fourth
    fake::on.GetMessageA = [&](LPMSG msg, HWND window, UINT low, UINT high) {
        matrix.failing = ++taken < 4;
        return fake::Defaults().GetMessageA(msg, window, low, high);
    };
    std::vector<std::pair<int, std::string>> tips;
    fake::on.Shell_NotifyIconA = [&](DWORD, NOTIFYICONDATAA* record) {
        tips.emplace_back(taken, record->szTip);
        return TRUE;
    };
    for (UINT_PTR timer : {TimerStartup, TimerPoll, TimerPortWait, TimerPortWait, TimerPoll})
        Queue(WM_TIMER, timer);
    EXPECT_EQ(RunKavit(Instance), 0);
    EXPECT_EQ(Notices(), std::vector<std::string>{});
    EXPECT_EQ(tips, (std::vector<std::pair<int, std::string>>{
                        {0, "Kavit program: LPT1 in use by another program"},
                        {4, "Kavit program"},
                        {5, "Kavit program"}})); // button 3 down
    EXPECT_EQ(fake::CallsTo("keybd_event")[0].args[0], 103u) << "pad 1 button 3, first preset";
}

TEST_F(StartupTest, LptErrorIsToldOnceBeforeTheIconAndTheProgramRunsOn) {
    Queue(WM_COMMAND, CmdAbout);
    EXPECT_EQ(RunKavit(Instance), 0);
    EXPECT_EQ(selectedPort, 0);
    int notice = FindText("MessageBoxA", "LPT error, driver installed?");
    ASSERT_GE(notice, 0);
    const fake::Call& box = fake::calls[static_cast<size_t>(notice)];
    EXPECT_EQ(box.args, (std::vector<uint64_t>{0, MB_OK})) << "no owner, one OK button";
    EXPECT_EQ(box.text[1], "Kavit program");
    EXPECT_GT(notice, Find("CreateWindowExA"));
    EXPECT_LT(notice, Find("Shell_NotifyIconA"));
    // Running on: the icon, the menu, the timer, and a command answered from the loop.
    EXPECT_EQ(Notices(), (std::vector<std::string>{"LPT error, driver installed?", AboutText}));
    EXPECT_GE(Find("CreatePopupMenu", nullptr, notice), 0);
    EXPECT_GE(Find("SetTimer", nullptr, notice), 0);
}

TEST_F(StartupTest, AFolderOthersCanChangeIsToldInsteadOfTheLptErrorAndNoServiceIsTouched) {
    const fake::Ace everyoneWrites = {0, 0, 0x1301FF, "S-1-1-0"};
    const fake::Ace usersModify = {0, 0, 0x1301BF, "S-1-5-32-545"};
    struct Case {
        const char* path; // the folder or the driver file
        fake::Ace ace;
        const char* reason;
    } cases[] = {
        {"C:\\Kavit\\", everyoneWrites,
         "C:\\Kavit\\ can be changed by Everyone (S-1-1-0): write data"},
        {"C:\\Kavit\\LPTWDMIO.SYS", usersModify,
         "C:\\Kavit\\LPTWDMIO.SYS can be changed by Users (S-1-5-32-545): write data"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        SetUp();
        fake::security[c.path] = fake::Descriptor("S-1-5-32-544", {c.ace});
        Queue(WM_COMMAND, CmdAbout);
        EXPECT_EQ(RunKavit(Instance), 0);
        fake::Checked<std::string> notices = Notices();
        ASSERT_EQ(notices.size(), 2u) << "one notice, then the About box from the loop";
        EXPECT_EQ(notices[1], AboutText);
        const std::string& text = notices[0];
        for (const char* part :
             {"folder\nC:\\Kavit\\\n", "Other users of this PC could change Kavit's driver",
              c.reason, "only administrators can change, such as C:\\Program Files\\Kavit"})
            EXPECT_NE(text.find(part), std::string::npos) << part << " in\n" << text;
        for (const char* never :
             {"CreateServiceA", "OpenServiceA", "ChangeServiceConfigA", "StartServiceA"})
            EXPECT_EQ(fake::Count(never), 0u) << never;
        EXPECT_GE(Find("Shell_NotifyIconA"), 0) << "runs on";
    }
}

// ---- ways out -------------------------------------------------------------------------------

// A window with both of Kavit's names is a running copy: this one says so and creates nothing.
TEST_F(StartupTest, OnlyAWindowWithBothNamesIsARunningCopyAndThenNothingIsCreated) {
    const std::pair<std::string, std::string> windows[] = {{"Kavit Tray", "Kavit program"},
                                                           {"Kavit Tray", "Kavit setup"},
                                                           {"Notepad", "Kavit program"}};
    for (const auto& [windowClass, windowTitle] : windows) {
        SCOPED_TRACE(windowClass + " / " + windowTitle);
        SetUp();
        // FindWindowA answers a window whose names match every name it is given.
        fake::on.FindWindowA = [=](LPCSTR className, LPCSTR title) -> HWND {
            bool match =
                (!className || className == windowClass) && (!title || title == windowTitle);
            return match ? reinterpret_cast<HWND>(0x99) : nullptr;
        };
        EXPECT_EQ(RunKavit(Instance), 0);
        if (windowTitle != "Kavit program" || windowClass != "Kavit Tray") {
            EXPECT_EQ(FindText("MessageBoxA", "Another copy already running"), -1);
            EXPECT_GE(Find("GetMessageA"), 0) << "this copy runs";
            continue;
        }
        EXPECT_EQ(Notices(), std::vector<std::string>{"Another copy already running"});
        EXPECT_EQ(fake::CallsTo("MessageBoxA")[0].args, (std::vector<uint64_t>{0, MB_OK}));
        for (const char* never :
             {"GetVersionExA", "CreateServiceA", "CreateFileA", "RegisterClassA", "CreateWindowExA",
              "Shell_NotifyIconA", "SetTimer"})
            EXPECT_EQ(fake::Count(never), 0u) << never;
    }
}

struct FailureCase {
    const char* name;
    std::function<void()> arrange;
    const char* notice;
    std::vector<std::string> noticesBefore; // shown by LoadSettings itself
};

TEST_F(StartupTest, EachFailedStepTellsWhyAndDestroysTheConnection) {
    static const FailureCase cases[] = {
        {"no settings file", [] { fake::files.erase(IniPath); }, "Bad Kavit.ini file", {}},
        {"settings that fail validation",
         [] {
             fake::files[IniPath] = File({"[First]"}, {10, 2, 0});
         },
         "Bad Kavit.ini file",
         {}},
        {"no preset in the file",
         [] { fake::files[IniPath] = File({}); },
         "Bad Kavit.ini file",
         {"Bad Preset namber in Kavit.ini file, used first"}},
        {"class not registered",
         [] { fake::on.RegisterClassA = [](const WNDCLASSA*) -> ATOM { return 0; }; },
         "Invalid class registration",
         {}},
        {"window not created",
         [] {
             fake::on.CreateWindowExA = [](DWORD, LPCSTR, LPCSTR, DWORD, int, int, int, int, HWND,
                                           HMENU, HINSTANCE, LPVOID) -> HWND { return nullptr; };
         },
         "Window not created",
         {}},
    };
    static const bool driverCases[] = {false, true};
    for (bool withDriver : driverCases) {
        for (const FailureCase& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (withDriver ? ", driver present" : ", no driver"));
            SetUp();
            if (withDriver)
                matrix.Install();
            c.arrange();
            EXPECT_EQ(RunKavit(Instance), 0);

            std::vector<std::string> notices = c.noticesBefore;
            notices.push_back(c.notice);
            EXPECT_EQ(Notices(), notices);
            int shown = FindText("MessageBoxA", c.notice);
            ASSERT_GE(shown, 0);
            // After the notice the connection ends: the device closed when it was open, else
            // the service this run installed deleted; nothing more is created.
            int ended =
                withDriver ? Find("CloseHandle", ClosesTheDevice, shown) : Find("DeleteService");
            EXPECT_GT(ended, shown);
            std::vector<std::string> after = app_test::NamesAfter(shown);
            for (const char* never : {"CreateWindowExA", "Shell_NotifyIconA", "SetTimer",
                                      "GetMessageA", "KillTimer", "DestroyMenu"})
                EXPECT_EQ(std::count(after.begin(), after.end(), never), 0) << never;
            EXPECT_EQ(PortConnection, nullptr);
            EXPECT_EQ(fake::Count("Shell_NotifyIconA"), 0u);
            EXPECT_EQ(fake::Count("SetTimer"), 0u);
        }
    }
}

TEST_F(StartupTest, ExitFromTheMenuRemovesTheIconAndEndsWithCodeZero) {
    std::vector<MSG> taken;
    fake::on.GetMessageA = [&](LPMSG msg, HWND window, UINT low, UINT high) {
        BOOL more = fake::Defaults().GetMessageA(msg, window, low, high);
        taken.push_back(*msg);
        return more;
    };
    Queue(WM_COMMAND, CmdExit);
    EXPECT_EQ(RunKavit(Instance), 0);
    ASSERT_EQ(taken.size(), 3u);
    EXPECT_EQ(taken[1].message, static_cast<UINT>(WM_DESTROY));
    EXPECT_EQ(taken[2].message, static_cast<UINT>(WM_QUIT)) << "the loop ends on the quit message";
    int removed = Find("Shell_NotifyIconA", [](const fake::Call& c) { return c.args[0] == 2; });
    ASSERT_GE(removed, 0);
    EXPECT_EQ(fake::calls[static_cast<size_t>(removed)].args[1],
              reinterpret_cast<uintptr_t>(fake::FirstIconHandle));
    EXPECT_LT(removed, Find("PostQuitMessage"));
    EXPECT_LT(Find("PostQuitMessage"), Find("KillTimer"));
}

// Two copies started at the same moment both find no window: the named mutex that the first
// takes at once is what refuses the second, before anything is created. A copy that may not even
// open the mutex (another user's, or an elevated one) is running too.
TEST_F(StartupTest, TheMutexOfARunningCopyRefusesTheSecondBeforeAnythingIsCreated) {
    struct Case {
        const char* what;
        bool handle;
        DWORD error;
        bool refused;
    };
    static const Case cases[] = {
        {"first copy", true, 0, false},
        {"mutex exists", true, ERROR_ALREADY_EXISTS, true},
        {"mutex not ours to open", false, ERROR_ACCESS_DENIED, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        fake::on.CreateMutexA = [c](LPSECURITY_ATTRIBUTES, BOOL, LPCSTR) {
            SetLastError(c.error);
            return c.handle ? reinterpret_cast<HANDLE>(0x4D01) : nullptr;
        };
        EXPECT_EQ(RunKavit(Instance), 0);
        ASSERT_EQ(fake::Count("CreateMutexA"), 1u);
        EXPECT_EQ(fake::CallsTo("CreateMutexA")[0].text[0], "Global\\Kavit program single copy");
        if (c.refused) {
            EXPECT_EQ(Notices(), std::vector<std::string>{"Another copy already running"});
            EXPECT_EQ(fake::Count("GetModuleFileNameA"), 0u);
            EXPECT_EQ(fake::Count("GetVersionExA"), 0u);
        } else {
            EXPECT_GT(fake::Count("CreateWindowExA"), 0u);
        }
    }
}

// The folder as the ANSI functions can use it: the path they give when it is whole and spelt,
// otherwise the 8.3 form of the real path, otherwise nothing and a reason, which Kavit shows
// before it creates anything.
TEST_F(StartupTest, AFolderTheAnsiFunctionsCannotSpellIsUsedByItsShortNameOrTold) {
    const std::string cutOff = "C:\\" + std::string(300, 'x') + "\\Kavit.exe";
    const std::wstring longWide(cutOff.begin(), cutOff.end());
    struct Case {
        const char* what;
        std::string ansi;       // as GetModuleFileNameA has it
        std::wstring wide;      // as Windows keeps it
        std::wstring shortened; // its 8.3 form; empty: none
        std::string directory;  // expected
        const char* problem;    // a part of the reason given, or none
    } cases[] = {
        {"plain", "C:\\Games\\Kavit.exe", L"", L"", "C:\\Games\\", nullptr},
        {"Greek name", "C:\\???\\Kavit.exe", L"C:\\\x039A\x03B1\x03B2\\Kavit.exe",
         L"C:\\KAB~1\\Kavit.exe", "C:\\KAB~1\\", nullptr},
        {"Greek name, no 8.3 names", "C:\\???\\Kavit.exe", L"C:\\\x039A\x03B1\x03B2\\Kavit.exe",
         L"", "", "characters"},
        {"cut off", cutOff, longWide, L"C:\\XXXXXX~1\\Kavit.exe", "C:\\XXXXXX~1\\", nullptr},
        {"cut off, no 8.3 names", cutOff, longWide, L"", "", "too long"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        fake::modulePath = c.ansi;
        fake::modulePathWide = c.wide;
        if (!c.shortened.empty())
            fake::shortPaths[c.wide] = c.shortened;
        std::string problem;
        EXPECT_EQ(ProgramDirectory(&problem), c.directory);
        if (c.problem) {
            EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
            EXPECT_NE(problem.find("C:\\Program Files\\Kavit"), std::string::npos)
                << "says where to move it";
            EXPECT_NE(problem.find(c.ansi.substr(0, 7)), std::string::npos) << "names the folder";
            EXPECT_EQ(RunKavit(Instance), 0);
            EXPECT_EQ(Notices(), std::vector<std::string>{problem});
            EXPECT_EQ(fake::Count("GetVersionExA") + fake::Count("CreateFileA"), 0u);
        } else {
            EXPECT_EQ(problem, "");
        }
    }
}

} // namespace
