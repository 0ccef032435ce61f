// The tray menu's commands and the key assignment window, driven by posted messages.
#include <algorithm>
#include <memory>
#include <regex>

#include "e2e/harness/cases.h"

namespace {

const char SaveError[] = "Save error: Kavit.ini";

TEST_F(E2e, menu_preset_rewrites_ini) {
    TIniValues ini = StandardIni(3);
    TKavit& kavit = StartScanning(env, ini);
    ChoosePreset(env, kavit, ini, 3, "choosing the third preset");
    // "[Wide]" pad 1 button 1 is vk 321, scan 286: the low bytes go out.
    Tap(env, ini.presets[2], 1, 1);

    TEnv::TStamp stamp = env.IniStamp();
    kavit.Command(CmdPresetBase + 3); // no fourth preset: nothing happens
    kavit.Command(CmdPresetBase - 1);
    Sleep(300);
    ASSERT_EQ(env.IniStamp(), stamp) << "Kavit.ini rewritten on a command that names no preset";
    ASSERT_EQ(env.ReadIni(), IniText(ini)) << "Kavit.ini after a command that names no preset";
    Tap(env, ini.presets[2], 1, 1);

    ChoosePreset(env, kavit, ini, 1, "choosing the first preset again");
    Tap(env, ini.presets[0], 1, 1);
    env.ExitKavit(kavit);
    ASSERT_EQ(env.ReadIni(), IniText(ini)) << "Kavit.ini changed at exit";
}

// The save cannot replace Kavit.ini (another program holds it open): the notices come, the old
// file stays byte for byte, nothing is left beside it, and the choice holds in memory.
TEST_F(E2e, menu_preset_save_failure_keeps_ini) {
    TIniValues ini = StandardIni(3);
    TKavit& kavit = StartScanning(env, ini);
    std::vector<std::string> filesBefore = env.ProgramFiles();
    HANDLE lock = CreateFileA(env.IniPath().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE) << "cannot hold Kavit.ini open: " << LastErrorText();
    std::unique_ptr<void, BOOL(WINAPI*)(HANDLE)> held(lock, CloseHandle); // closed however it ends
    std::vector<std::string> texts;
    kavit.Command(CmdPresetBase + 1);
    while (texts.size() < 3 && (texts.empty() || texts.back() != SaveError)) {
        TNotice notice = kavit.WaitNotice(5000);
        texts.push_back(notice.text);
        CloseNotice(notice);
    }
    held.reset();
    ASSERT_EQ(texts, std::vector<std::string>({"Can not write file Kavit.ini", SaveError}))
        << "the notices";
    ASSERT_EQ(env.ReadIni(), IniText(ini)) << "a failed save changed Kavit.ini";
    ASSERT_EQ(env.ProgramFiles(), filesBefore) << "a failed save left files behind";
    Tap(env, ini.presets[1], 1, 2); // the choice is in force
    ChoosePreset(env, kavit, ini, 3, "a later choice with the file free again");
    env.ExitKavit(kavit);
}

// Copies of Kavit.exe under other names, each in front with its refusal notice, stand in for games:
// pad 1 button 1 sends the key of the preset naming the one in front, else of the chosen one.
TEST_F(E2e, menu_preset_follows_foreground) {
    TIniValues ini = StandardIni(3);
    ini.presets[1].header = "[Digits] @doomcopy.exe";
    ini.presets[2].header = "[Wide] @xx.exe @QUAKECOPY.EXE";
    StartScanning(env, ini);
    const TEnv::TStamp stamp = env.IniStamp();
    const std::pair<const char*, int> fronts[] = {
        {"doomcopy.exe", 1}, {"quakecopy.exe", 2}, {"another.exe", 0}};
    for (const auto& [name, preset] : fronts) {
        CopyFileA(env.KavitExe().c_str(), (env.dir + name).c_str(), FALSE);
        TKavit& game = env.NewKavit();
        game.Start(env.dir + name, env.dir);
        HWND box = game.WaitNotice(5000).box;
        ASSERT_TRUE(WaitUntil([&] { return GetForegroundWindow() == box; }, 3000))
            << name << " not in front";
        Sleep(750); // the foreground is looked at four times a second
        Tap(env, ini.presets[preset], 1, 1);
    }
    ASSERT_EQ(env.IniStamp(), stamp) << "Kavit.ini written";
    ASSERT_EQ(env.ReadIni(), IniText(ini)) << "Kavit.ini written";
}

LPARAM KeyData(int scan, int ext = 0) {
    return static_cast<LPARAM>(1 | scan << 16 | (ext ? 1 << 24 : 0));
}

// Keys to teach to [Digits], none taken by the dialog manager or the system: pad 1 Q W E R T Y U
// O P Insert Up keypad-*, pad 2 B C D F G H Down Left Right Home End PgUp.
const TPresetValues Learnt = {
    "[Digits]",
    "1P:One=81 16 0\r\n1P:Two=87 17 0\r\n1P:Three=69 18 0\r\n1P:Four=82 19 0\r\n"
    "1P:Five=84 20 0\r\n1P:Six=89 21 0\r\n1P:Seven=85 22 0\r\n1P:Eight=79 24 0\r\n"
    "1P:Nine=80 25 0\r\n1P:Zero=45 82 1\r\n1P:F1=38 72 1\r\n1P:F2=106 55 0\r\n",
    "2P:F3=66 48 0\r\n2P:F4=67 46 0\r\n2P:F5=68 32 0\r\n2P:F6=70 33 0\r\n2P:F7=71 34 0\r\n"
    "2P:F8=72 35 0\r\n2P:F9=40 80 1\r\n2P:F10=37 75 1\r\n2P:F11=39 77 1\r\n"
    "2P:F12=36 71 1\r\n2P:N=35 79 1\r\n2P:M=33 73 1\r\n"};

// Posts the keys of `preset` as typed, pad 1 buttons 1.., then pad 2.
void Teach(TKavit& kavit, const TPresetValues& preset, int first, int count) {
    for (int n = first; n < first + count; n++) {
        TWantKey key = KeyOf(preset, n < 12 ? 1 : 2, n % 12 + 1, false);
        kavit.Post(WM_KEYDOWN, static_cast<WPARAM>(key.vk), KeyData(key.scan, key.ext));
    }
}

// The key after "Complete": saves, and is itself stored nowhere.
void Complete(TKavit& kavit) {
    kavit.Post(WM_KEYDOWN, 'M', KeyData(0x32));
    WaitShown(kavit, false);
}

void SetKeys(TEnv& env, int secondPlayer) {
    TIniValues ini = StandardIni(2);
    ini.secondPlayer = secondPlayer;
    ini.preset = 2;
    TKavit& kavit = StartScanning(env, ini);
    // Keys while the window is hidden are not taken.
    kavit.Post(WM_KEYDOWN, 'Z', KeyData(0x2C));
    OpenSetKeys(kavit);
    int count = 12 + 12 * secondPlayer;
    // System keys are not taken: Alt alone (no key-up follows, so no menu mode).
    Teach(kavit, Learnt, 0, 5);
    kavit.Post(WM_SYSKEYDOWN, VK_MENU, KeyData(0x38) | 1 << 29);
    Teach(kavit, Learnt, 5, count - 5);
    TIniValues learnt = ini;
    learnt.presets[1].pad1 = Learnt.pad1;
    if (secondPlayer)
        learnt.presets[1].pad2 = Learnt.pad2;
    Sleep(200);
    ASSERT_TRUE(IsWindowVisible(kavit.window))
        << "the window closed after " << count << " keys, before the key that saves";
    ASSERT_EQ(env.ReadIni(), IniText(ini)) << "Kavit.ini before the sequence was confirmed";
    // The learnt keys are in force at once, before the save.
    Tap(env, learnt.presets[1], 1, 12);
    TEnv::TStamp stamp = env.IniStamp();
    Complete(kavit);
    env.ExpectIniSaved(stamp, IniText(learnt), "completing the key assignment");
    Tap(env, learnt.presets[1], 1, 1);
    if (secondPlayer)
        Tap(env, learnt.presets[1], 2, 12);
    // Another round starts again from pad 1 button 1.
    OpenSetKeys(kavit);
    kavit.Post(WM_KEYDOWN, 'J', KeyData(0x24));
    Sleep(100);
    Tap(env, learnt.presets[1], 1, 2);
    Tap(env, {"[Digits]", Replaced(Learnt.pad1, "One=81 16 0", "One=74 36 0"), ""}, 1, 1);
    // Two keys more, then a preset from the menu: the teaching is undone before the switch is
    // saved, so Kavit.ini keeps the keys from before this "Set keys", and the window is gone.
    Teach(kavit, Learnt, 1, 2);
    ChoosePreset(env, kavit, learnt, 1, "choosing a preset while keys were taught");
    WaitShown(kavit, false);
    env.ExitKavit(kavit);
    ASSERT_EQ(env.ReadIni(), IniText(learnt)) << "an unfinished assignment was saved";
}

// A Kavit.ini cut off in the middle of a label line of its current preset: the reader fills the
// rest of that preset with end-of-file bytes. All 24 keys taught to that preset are saved so
// that they read back, with what the file held of the labels, and the next start sends them.
TEST_F(E2e, robust_ini_cut_in_preset_set_keys) {
    TIniValues ini = StandardIni(2);
    ini.secondPlayer = 1;
    ini.preset = 2;
    std::string text = IniText(ini);
    PrepareProgramDir(env);
    env.WriteIniBytes(text.substr(0, text.find("1P:Three") + 5));
    TKavit& kavit = env.StartKavit();
    OpenSetKeys(kavit);
    Teach(kavit, Learnt, 0, 24);
    TEnv::TStamp stamp = env.IniStamp();
    Complete(kavit);
    ini.presets[1].pad1 =
        "1P:One=81 16 0\r\n1P:Two=87 17 0\r\n1P:Th=69 18 0\r\n1P:=82 19 0\r\n1P:=84 20 0\r\n"
        "1P:=89 21 0\r\n1P:=85 22 0\r\n1P:=79 24 0\r\n1P:=80 25 0\r\n1P:=45 82 1\r\n"
        "1P:=38 72 1\r\n1P:=106 55 0\r\n";
    ini.presets[1].pad2 =
        "2P:=66 48 0\r\n2P:=67 46 0\r\n2P:=68 32 0\r\n2P:=70 33 0\r\n2P:=71 34 0\r\n"
        "2P:=72 35 0\r\n2P:=40 80 1\r\n2P:=37 75 1\r\n2P:=39 77 1\r\n2P:=36 71 1\r\n"
        "2P:=35 79 1\r\n2P:=33 73 1\r\n";
    env.ExpectIniSaved(stamp, IniText(ini), "completing the key assignment");
    env.ExitKavit(kavit);

    TKavit& next = env.StartKavit();
    WaitScanning(env, true);
    Tap(env, Learnt, 1, 12);
    Tap(env, Learnt, 2, 12);
    env.sim.Close();
    env.ExitKavit(next);
}

// What is wrong with the window's two lines of text (rows above 30, and the rest), "" when
// nothing: pure blue on white, line 1 at about (16, 10), line 2 at about (16, 30), each as wide as
// its text in the font a device context starts with. Copied from the window's device context:
// Wine's PrintWindow gives nothing for a window that does not answer WM_PRINTCLIENT.
std::string LinesProblem(HWND window, const std::string& second) {
    RECT client = {};
    GetClientRect(window, &client);
    int width = client.right, height = client.bottom;
    std::vector<DWORD> pixels(static_cast<size_t>(width * height));
    HDC source = GetDC(window), memory = CreateCompatibleDC(source);
    HBITMAP bitmap = CreateCompatibleBitmap(source, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, source, 0, 0, SRCCOPY);
    SelectObject(memory, old);
    BITMAPINFO info = {{sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0},
                       {}};
    GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(), &info, DIB_RGB_COLORS);
    DeleteObject(bitmap);
    ReleaseDC(window, source);
    const std::string texts[2] = {"Press key for emulation:", second};
    std::string problem;
    for (int n = 0; n < 2 && problem.empty(); n++) {
        // Its text pixels (clearly darker than the white background): where, how many, how many
        // pure blue; and the pixels neither white, blue nor a blend of the two.
        int left = 1 << 30, top = 1 << 30, right = -1, count = 0, solidBlue = 0, notBlue = 0;
        for (int y = 30 * n; y < (n ? height : 30); y++)
            for (int x = 0; x < width; x++) {
                DWORD c = pixels[static_cast<size_t>(y * width + x)];
                int r = c >> 16 & 0xFF, g = c >> 8 & 0xFF, b = c & 0xFF;
                // Blue on white blends to (v, v, 255): blue stays full whatever the smoothing.
                notBlue += b < 235 || r - g > 24 || g - r > 24;
                if (r > 200 && g > 200)
                    continue; // background
                count++;
                solidBlue += r < 40 && g < 40 && b > 215;
                left = std::min(left, x);
                top = std::min(top, y);
                right = std::max(right, x);
            }
        SIZE want = {};
        GetTextExtentPoint32A(memory, texts[n].c_str(), static_cast<int>(texts[n].size()), &want);
        int wide = right - 16 + 1;
        if (notBlue > 0)
            problem = Format("line %d: %d pixels neither white, blue nor a blend of them", n + 1,
                             notBlue);
        else if (count == 0 || solidBlue < 10)
            problem = Format("line %d: %d pixels of text, %d pure blue", n + 1, count, solidBlue);
        else if (left < 16 || left > 19 || top < 10 + 20 * n || top > 16 + 20 * n)
            problem = Format("line %d starts at (%d, %d), expected about (16, %d)", n + 1, left,
                             top, 10 + 20 * n);
        else if (wide < want.cx - 4 || wide > want.cx + 1)
            problem = Format("line %d is %d pixels wide, \"%s\" is %ld", n + 1, wide,
                             texts[n].c_str(), want.cx);
    }
    DeleteDC(memory);
    return problem;
}

void ExpectLines(TKavit& kavit, const std::string& second, const char* state) {
    std::string problem;
    WaitUntil([&] { return (problem = LinesProblem(kavit.window, second)).empty(); }, 3000, 20);
    ASSERT_EQ(problem, "") << state;
}

TEST_F(E2e, assign_window_paints_blue) {
    TKavit& kavit = StartScanning(env, StandardIni(1));
    OpenSetKeys(kavit);
    ExpectLines(kavit, "Player 1: for [Up] Button", "first button");
    Teach(kavit, Learnt, 0, 1);
    ExpectLines(kavit, "Player 1: for [Down] Button", "second button");
    Teach(kavit, Learnt, 1, 11);
    ExpectLines(kavit, "Complete, press any key to save", "sequence complete");
    Complete(kavit);
    env.ExitKavit(kavit);
}

// About: its own box, owned by the program's window; scanning goes on while it is open.
TEST_F(E2e, menu_about) {
    TKavit& kavit = StartScanning(env, StandardIni(1));
    kavit.Command(CmdAbout);
    TNotice about = kavit.WaitNotice(5000);
    ASSERT_EQ(about.caption, "Kavit") << "the About box's caption";
    ASSERT_TRUE(std::regex_match(about.text, std::regex("Kavit 1\\.06 [\\s\\S]*[^ ] {6}")))
        << "About text \"" << about.text << "\": expected \"Kavit 1.06 \", an address, six blanks";
    ASSERT_EQ(about.owner, kavit.window) << "About box not owned by the program's window";
    Tap(env, Arrows, 1, 6);
    CloseNotice(about);
    Tap(env, Arrows, 1, 8);
    env.ExitKavit(kavit);
}

TEST_F(E2e, tray_icon_restored) {
    TKavit& kavit = StartKavitWith(env, StandardIni(1));
    const UINT taskbarCreated = RegisterWindowMessageA("TaskbarCreated");
    for (UINT message : {TrayRestoreMessage, taskbarCreated}) {
        NOTIFYICONDATAA data = {};
        data.cbSize = NOTIFYICONDATAA_V1_SIZE;
        data.hWnd = kavit.window;
        data.uID = 1;
        ASSERT_TRUE(Shell_NotifyIconA(NIM_DELETE, &data) && !TrayIconPresent(kavit.window))
            << "could not take the tray icon away to test its return";
        kavit.Post(message, 0, 0);
        ASSERT_TRUE(WaitUntil([&] { return TrayIconPresent(kavit.window); }, 3000))
            << "tray icon not added again on message " << message
            << (message == taskbarCreated ? " (\"TaskbarCreated\")" : "");
    }
    env.ExitKavit(kavit);
}

// A left click flashes the icon for 150 ms, during which the pads are read on at their pace.
TEST_F(E2e, tray_click_flash) {
    TKavit& kavit = StartScanning(env, StandardIni(1));
    TSimState state = State(env);
    ASSERT_GT(state.frequency, 0u) << "driver has no clock";
    env.ClearLog();
    env.WaitPasses(3);
    kavit.Post(TrayCallbackMessage, 1, WM_LBUTTONUP);
    Sleep(400);
    TScanLog scan = AnalyzeScan(env.PollLog(), Lpt1, false);
    ULONGLONG longest = 0; // driver clock ticks
    for (size_t i = 1; i < scan.passes.size(); i++)
        longest = std::max(longest, scan.passes[i].startTime - scan.passes[i - 1].endTime);
    ASSERT_LT(longest * 1000.0 / state.frequency, 60)
        << "longest pause (ms) between passes around a click at Interval=10";
    ASSERT_TRUE(TrayIconPresent(kavit.window)) << "tray icon gone after the flash";
    env.ExitKavit(kavit);
}

// A right click opens the popup menu at the cursor; keyboard navigation picks "About".
TEST_F(E2e, tray_menu_by_keyboard) {
    TKavit& kavit = StartKavitWith(env, StandardIni(2));
    kavit.Post(TrayCallbackMessage, 1, WM_RBUTTONUP);
    HWND menu = nullptr;
    ASSERT_TRUE(
        WaitUntil([&] { return IsWindowVisible(menu = FindWindowA("#32768", nullptr)); }, 3000))
        << "no popup menu after a right click on the tray icon";
    // Set keys, Preset, Help, About: the separators are skipped.
    for (int i = 0; i < 4; i++)
        PostMessageA(menu, WM_KEYDOWN, VK_DOWN, 0);
    PostMessageA(menu, WM_KEYDOWN, VK_RETURN, 0);
    TNotice about = kavit.WaitNotice(5000);
    ASSERT_EQ(about.caption, "Kavit") << "the fourth item opened another box than About";
    CloseNotice(about);
    env.ExitKavit(kavit);
}

} // namespace

KAVIT_E2E_CASE_OF(set_keys_one_pad, SetKeys, 0)
KAVIT_E2E_CASE_OF(set_keys_two_pads, SetKeys, 1)
