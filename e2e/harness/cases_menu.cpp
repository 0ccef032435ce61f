// The tray menu's commands and the key assignment window, driven the way the shell and the
// keyboard would: posted messages.
#include "e2e/harness/cases.h"
#include "e2e/harness/harness.h"
#include "e2e/harness/screen.h"

namespace {

const char SaveError[] = "Save error: Kavit.ini";
const char WriteError[] = "Can not write file Kavit.ini";

void PresetMenuRewritesIni(TEnv& env) {
    TIniValues ini = StandardIni(3);
    TKavit& kavit = StartScanning(env, ini);
    TIniValues chosen = ini;

    ChoosePreset(env, kavit, chosen, 3, "choosing the third preset");
    // "[Wide]" pad 1 button 1 is vk 321, scan 286: the low bytes go out.
    Tap(env, ini.presets[2], 1, 1);

    TEnv::TStamp stamp = env.IniStamp();
    kavit.Command(CmdPresetBase + 3); // no fourth preset: nothing happens
    kavit.Command(CmdPresetBase - 1);
    Sleep(300);
    Expect(env.IniStamp() == stamp, "Kavit.ini rewritten on a command that names no preset");
    Expect(env.ReadIni() == IniText(chosen),
           "Kavit.ini changed on a command that names no "
           "preset: %s",
           DescribeDifference(IniText(chosen), env.ReadIni()).c_str());
    Tap(env, ini.presets[2], 1, 1);

    ChoosePreset(env, kavit, chosen, 1, "choosing the first preset again");
    Tap(env, ini.presets[0], 1, 1);
    env.ExitKavit(kavit);
    Expect(env.ReadIni() == IniText(chosen), "Kavit.ini changed at exit");
}

// The save cannot replace Kavit.ini (another program holds it open): the notices come, the old
// file stays byte for byte, nothing is left beside it, and the choice holds in memory.
void SaveFailureKeepsIni(TEnv& env) {
    TIniValues ini = StandardIni(3);
    TKavit& kavit = StartScanning(env, ini);
    std::string original = env.ReadIni();
    std::vector<std::string> filesBefore = env.ProgramFiles();
    HANDLE lock = CreateFileA(env.IniPath().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    Expect(lock != INVALID_HANDLE_VALUE, "cannot hold Kavit.ini open: %s",
           Win32ErrorText(GetLastError()).c_str());
    std::vector<std::string> texts;
    try {
        kavit.Command(CmdPresetBase + 1);
        while (texts.empty() || texts.back() != SaveError) {
            TNotice notice = kavit.WaitNotice(5000);
            texts.push_back(notice.text);
            CloseNotice(notice);
            Expect(texts.size() <= 3, "notices %s", DescribeTexts(texts).c_str());
        }
    } catch (...) {
        CloseHandle(lock);
        throw;
    }
    CloseHandle(lock);
    std::vector<std::string> want = {WriteError, SaveError};
    Expect(texts == want, "notices %s, expected %s", DescribeTexts(texts).c_str(),
           DescribeTexts(want).c_str());
    std::string now = env.ReadIni();
    Expect(now == original, "a failed save changed Kavit.ini: %s",
           DescribeDifference(original, now).c_str());
    std::vector<std::string> filesAfter = env.ProgramFiles();
    Expect(filesAfter == filesBefore, "a failed save left files behind: %s",
           DescribeTexts(filesAfter).c_str());
    Tap(env, ini.presets[1], 1, 2); // the choice is in force
    ChoosePreset(env, kavit, ini, 3, "a later choice with the file free again");
    env.ExitKavit(kavit);
}

// Copies of Kavit.exe under other names stand in for games: each turns away as "Another copy
// already running", its notice a window of that program in front. Pad 1 button 1 sends the key
// of the preset naming the program in front, another program brings the chosen one back, and
// Kavit.ini stays as it was.
void PresetFollowsForeground(TEnv& env) {
    TIniValues ini = StandardIni(3);
    ini.presets[1].header = "[Digits] @doomcopy.exe";
    ini.presets[2].header = "[Wide] @xx.exe @QUAKECOPY.EXE";
    StartScanning(env, ini);
    const std::string before = env.ReadIni();
    const TEnv::TStamp stamp = env.IniStamp();
    const std::pair<const char*, int> fronts[] = {
        {"doomcopy.exe", 1}, {"quakecopy.exe", 2}, {"another.exe", 0}};
    for (const auto& [name, preset] : fronts) {
        CopyFileA(env.KavitExe().c_str(), (env.dir + name).c_str(), FALSE);
        TKavit& game = env.NewKavit();
        game.Start(env.dir + name, env.dir);
        HWND box = game.WaitNotice(5000).box;
        Expect(WaitUntil([&] { return GetForegroundWindow() == box; }, 3000), "%s not in front",
               name);
        Sleep(750); // the foreground is looked at four times a second
        Tap(env, ini.presets[preset], 1, 1);
    }
    Expect(env.IniStamp() == stamp && env.ReadIni() == before, "Kavit.ini written: %s",
           DescribeDifference(before, env.ReadIni()).c_str());
}

LPARAM KeyData(int scan, int ext = 0) {
    return static_cast<LPARAM>(1 | scan << 16 | (ext ? 1 << 24 : 0));
}

// Keys to teach to [Digits], none of them taken by the dialog manager or the system: pad 1 Q W E
// R T Y U O P Insert Up and the keypad's *, pad 2 B C D F G H and the arrows down, left and right,
// Home, End, PgUp.
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

void SetKeys(TEnv& env, int secondPlayer) {
    TIniValues ini = StandardIni(2);
    ini.secondPlayer = secondPlayer;
    ini.preset = 2;
    TKavit& kavit = StartScanning(env, ini);
    // Keys while the window is hidden are not taken.
    kavit.Post(WM_KEYDOWN, 'Z', KeyData(0x2C));
    kavit.Command(CmdSetKeys);
    WaitShown(kavit, true);
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
    Expect(IsWindowVisible(kavit.window),
           "the window closed after %d keys, before the key that "
           "saves",
           count);
    Expect(env.ReadIni() == IniText(ini), "Kavit.ini written before the sequence was confirmed");
    // The learnt keys are in force at once, before the save.
    Tap(env, learnt.presets[1], 1, 12);
    TEnv::TStamp stamp = env.IniStamp();
    kavit.Post(WM_KEYDOWN, 'M', KeyData(0x32)); // saves; itself stored nowhere
    WaitShown(kavit, false);
    env.ExpectIniSaved(stamp, IniText(learnt), "completing the key assignment");
    Tap(env, learnt.presets[1], 1, 1);
    if (secondPlayer)
        Tap(env, learnt.presets[1], 2, 12);
    // Another round starts again from pad 1 button 1.
    kavit.Command(CmdSetKeys);
    WaitShown(kavit, true);
    kavit.Post(WM_KEYDOWN, 'J', KeyData(0x24));
    Sleep(100);
    Tap(env, learnt.presets[1], 1, 2);
    TPresetValues again = learnt.presets[1];
    again.pad1 = Replaced(again.pad1, "One=81 16 0", "One=74 36 0");
    Tap(env, again, 1, 1);
    // Two keys more, then a preset from the menu: the teaching is undone before the switch is
    // saved, so Kavit.ini keeps the keys from before this "Set keys", and the window is gone.
    Teach(kavit, Learnt, 1, 2);
    ChoosePreset(env, kavit, learnt, 1, "choosing a preset while keys were taught");
    WaitShown(kavit, false);
    env.ExitKavit(kavit);
    Expect(env.ReadIni() == IniText(learnt), "an unfinished assignment was saved");
}

// A Kavit.ini cut off in the middle of a label line of its current preset: the reader fills the
// rest of that preset with end-of-file bytes. All 24 keys taught to that preset are saved so
// that they read back, with what the file held of the labels, and the next start sends them.
void SetKeysIniCutInPreset(TEnv& env) {
    TIniValues ini = StandardIni(2);
    ini.secondPlayer = 1;
    ini.preset = 2;
    std::string text = IniText(ini);
    env.MakeProgramDir();
    env.WriteIniBytes(text.substr(0, text.find("1P:Three") + 5));
    env.UnloadDriver();
    TKavit& kavit = env.StartKavit();
    kavit.Command(CmdSetKeys);
    WaitShown(kavit, true);
    Teach(kavit, Learnt, 0, 24);
    TEnv::TStamp stamp = env.IniStamp();
    kavit.Post(WM_KEYDOWN, 'M', KeyData(0x32)); // saves
    WaitShown(kavit, false);
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

// Reads the window until both lines show; fails with a saved picture.
TCapture CaptureLines(TEnv& env, TKavit& kavit, const std::string& second, const char* state) {
    int firstWidth = DefaultFontWidth("Press key for emulation:");
    int secondWidth = DefaultFontWidth(second);
    TCapture capture;
    std::string reason, problem;
    bool ok = WaitUntil(
        [&] {
            problem.clear();
            if (!CaptureClient(kavit.window, capture, reason)) {
                problem = reason;
                return false;
            }
            TInk one = FindInk(capture, 0, 30), two = FindInk(capture, 30, capture.height);
            TInk all = FindInk(capture, 0, capture.height);
            if (one.count == 0 || two.count == 0)
                problem =
                    Format("text missing: %d pixels in line 1, %d in line 2", one.count, two.count);
            else if (all.notBlue > 0)
                problem = Format("%d pixels neither white, blue nor a blend of them", all.notBlue);
            else if (one.solidBlue < 10 || two.solidBlue < 10)
                problem = Format("text not pure blue: %d and %d pure blue pixels", one.solidBlue,
                                 two.solidBlue);
            else if (one.left < 16 || one.left > 19 || one.top < 10 || one.top > 16)
                problem =
                    Format("line 1 starts at (%d, %d), expected about (16, 10)", one.left, one.top);
            else if (two.left < 16 || two.left > 19 || two.top < 30 || two.top > 36)
                problem =
                    Format("line 2 starts at (%d, %d), expected about (16, 30)", two.left, two.top);
            else if (one.right - 16 + 1 < firstWidth - 4 || one.right - 16 + 1 > firstWidth + 1)
                problem = Format("line 1 is %d pixels wide, \"Press key for emulation:\" is %d",
                                 one.right - 16 + 1, firstWidth);
            else if (two.right - 16 + 1 < secondWidth - 4 || two.right - 16 + 1 > secondWidth + 1)
                problem = Format("line 2 is %d pixels wide, \"%s\" is %d", two.right - 16 + 1,
                                 second.c_str(), secondWidth);
            return problem.empty();
        },
        3000, 20);
    if (!ok) {
        std::string picture = env.dir + "capture.bmp";
        SaveBitmap(capture, picture);
        Fail("%s: %s (picture in %s)", state, problem.c_str(), picture.c_str());
    }
    return capture;
}

void AssignWindowPaintsBlue(TEnv& env) {
    TKavit& kavit = StartScanning(env, StandardIni(1));
    kavit.Command(CmdSetKeys);
    WaitShown(kavit, true);
    CaptureLines(env, kavit, "Player 1: for [Up] Button", "first button");
    kavit.Post(WM_KEYDOWN, 'Q', KeyData(0x10));
    CaptureLines(env, kavit, "Player 1: for [Down] Button", "second button");
    for (int n = 1; n < 12; n++)
        kavit.Post(WM_KEYDOWN, 'Q', KeyData(0x10));
    CaptureLines(env, kavit, "Complete, press any key to save", "sequence complete");
    kavit.Post(WM_KEYDOWN, 'Q', KeyData(0x10));
    WaitShown(kavit, false);
    env.ExitKavit(kavit);
}

// About: its own box, owned by the program's window; scanning goes on while it is open.
void AboutBox(TEnv& env) {
    TKavit& kavit = StartScanning(env, StandardIni(1));
    kavit.Command(CmdAbout);
    TNotice about = kavit.WaitNotice(5000);
    const std::string prefix = "Kavit 1.06 ", suffix = "      ";
    Expect(about.caption == "Kavit", "About box captioned \"%s\", expected \"Kavit\"",
           about.caption.c_str());
    Expect(about.text.size() > prefix.size() + suffix.size() &&
               about.text.compare(0, prefix.size(), prefix) == 0 &&
               about.text.compare(about.text.size() - suffix.size(), suffix.size(), suffix) == 0 &&
               about.text[about.text.size() - suffix.size() - 1] != ' ',
           "About text \"%s\": expected \"Kavit 1.06 \", an address, six blanks",
           about.text.c_str());
    Expect(about.owner == kavit.window, "About box not owned by the program's window");
    Tap(env, Arrows, 1, 6);
    CloseNotice(about);
    Tap(env, Arrows, 1, 8);
    env.ExitKavit(kavit);
}

void TrayIconRestored(TEnv& env) {
    TKavit& kavit = StartKavitWith(env, StandardIni(1));
    const UINT taskbarCreated = RegisterWindowMessageA("TaskbarCreated");
    for (UINT message : {TrayRestoreMessage, taskbarCreated}) {
        NOTIFYICONDATAA data = {};
        data.cbSize = NOTIFYICONDATAA_V1_SIZE;
        data.hWnd = kavit.window;
        data.uID = 1;
        Expect(Shell_NotifyIconA(NIM_DELETE, &data) && !TrayIconPresent(kavit.window),
               "could not take the tray icon away to test its return");
        kavit.Post(message, 0, 0);
        Expect(WaitUntil([&] { return TrayIconPresent(kavit.window); }, 3000),
               "tray icon not added again on message 0x%X%s", message,
               message == taskbarCreated ? " (\"TaskbarCreated\")" : "");
    }
    env.ExitKavit(kavit);
}

// A left click flashes the icon for 150 ms, during which the pads are read on at their pace.
void TrayClickFlash(TEnv& env) {
    TKavit& kavit = StartScanning(env, StandardIni(1));
    TSimState state;
    Expect(env.sim.GetState(state) && state.frequency > 0, "driver has no clock");
    env.ClearLog();
    env.WaitPasses(3);
    kavit.Post(TrayCallbackMessage, 1, WM_LBUTTONUP);
    Sleep(400);
    TScanLog scan = AnalyzeScan(env.PollLog(), Lpt1, false);
    double longest = 0;
    for (size_t i = 1; i < scan.passes.size(); i++) {
        double gap = static_cast<double>(scan.passes[i].startTime - scan.passes[i - 1].endTime) *
                     1000.0 / static_cast<double>(state.frequency);
        if (gap > longest)
            longest = gap;
    }
    Expect(longest < 60, "longest pause between passes %.0f ms around a click at Interval=10",
           longest);
    Expect(TrayIconPresent(kavit.window), "tray icon gone after the flash");
    env.ExitKavit(kavit);
}

// A right click opens the popup menu at the cursor; keyboard navigation picks "About".
void TrayMenuByKeyboard(TEnv& env) {
    TKavit& kavit = StartKavitWith(env, StandardIni(2));
    kavit.Post(TrayCallbackMessage, 1, WM_RBUTTONUP);
    HWND menu = nullptr;
    Expect(WaitUntil(
               [&] {
                   menu = FindWindowA("#32768", nullptr);
                   return menu && IsWindowVisible(menu);
               },
               3000),
           "no popup menu after a right click on the tray icon");
    // Set keys, Preset, Help, About: the separators are skipped.
    for (int i = 0; i < 4; i++)
        PostMessageA(menu, WM_KEYDOWN, VK_DOWN, 0);
    PostMessageA(menu, WM_KEYDOWN, VK_RETURN, 0);
    TNotice about = kavit.WaitNotice(5000);
    Expect(about.caption == "Kavit", "the fourth item opened \"%s\", not About",
           about.caption.c_str());
    CloseNotice(about);
    env.ExitKavit(kavit);
}

} // namespace

KAVIT_E2E_CASE(menu_preset_rewrites_ini, PresetMenuRewritesIni)
KAVIT_E2E_CASE(menu_preset_save_failure_keeps_ini, SaveFailureKeepsIni)
KAVIT_E2E_CASE(menu_preset_follows_foreground, PresetFollowsForeground)
KAVIT_E2E_CASE_OF(set_keys_one_pad, SetKeys, 0)
KAVIT_E2E_CASE_OF(set_keys_two_pads, SetKeys, 1)
KAVIT_E2E_CASE(assign_window_paints_blue, AssignWindowPaintsBlue)
KAVIT_E2E_CASE(menu_about, AboutBox)
KAVIT_E2E_CASE(tray_icon_restored, TrayIconRestored)
KAVIT_E2E_CASE(tray_click_flash, TrayClickFlash)
KAVIT_E2E_CASE(tray_menu_by_keyboard, TrayMenuByKeyboard)
KAVIT_E2E_CASE(robust_ini_cut_in_preset_set_keys, SetKeysIniCutInPreset)
