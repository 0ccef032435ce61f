// The preset follows the program in the foreground: the real program, its foreground ticks
// between taps of pad 1 button 1, what the pad sends, the menu's check mark and Kavit.ini.
#include "app/foreground_preset.h"

#include <gtest/gtest.h>

#include "app/app_state.h"
#include "app/startup.h"
#include "settings/presets.h"
#include "tests/app/app_test_support.h"
#include "tests/settings/settings_files.h"

namespace {

using app_test::IniPath;
using app_test::Queue;

HWND const Doom = reinterpret_cast<HWND>(0x7D01), Quake = reinterpret_cast<HWND>(0x7D02),
           Notepad = reinterpret_cast<HWND>(0x7D03), Locked = reinterpret_cast<HWND>(0x7D04);
const UINT FrontMessage = WM_USER + 100, PressMessage = FrontMessage + 1,
           ReleaseMessage = FrontMessage + 2, LookMessage = FrontMessage + 3;

void Front(HWND window) {
    Queue(FrontMessage, reinterpret_cast<WPARAM>(window));
    Queue(WM_TIMER, TimerForeground);
}
void Pad(UINT message) {
    Queue(message);
    Queue(WM_TIMER, TimerPoll);
}
// Pad 1 button 1 of preset k in File(): vk (k + 1) * 100 + 1, sent as its low byte.
std::string Keys(int32_t k) {
    std::string key = std::to_string(BYTE((k + 1) * 100 + 1));
    return key + " down " + key + " up ";
}

TEST(ForegroundPresetTest, ThePresetFollowsTheProgramInFront) {
    app_test::ResetProgram();
    padsim::PadMatrix matrix;
    matrix.Install();
    const std::string original =
        settings_test::File({"[Menu]", "[Doom] @doom.exe", "[Quake] @quake.exe @DOOM.EXE"});
    const std::string chosenThird = settings_test::WithLine(original, 5, "Preset=3");
    fake::files[IniPath] = original;
    fake::windowPrograms = {{Doom, "C:\\Games\\doom.exe"},
                            {Quake, "\\Device\\HarddiskVolume2\\Quake\\quake.exe"},
                            {Notepad, "C:\\Windows\\notepad.exe"},
                            {Locked, ""}};
    const struct {
        const char* what;
        void (*act)();
        int32_t current; // checked, and sending its keys
        const std::string& ini;
        int32_t heldFrom; // a button held across the switch, pressed with this preset; or -1
    } steps[] = {
        {"Doom: the first preset naming doom.exe", [] { Front(Doom); }, 1, original, -1},
        {"Quake, a button held across the switch",
         [] { Pad(PressMessage), Front(Quake), Pad(ReleaseMessage); }, 2, original, 1},
        {"Kavit's own window, the task bar", [] { Front(fake::Window), Front(fake::TaskBar); }, 2,
         original, -1},
        {"a program no preset names", [] { Front(Notepad); }, 0, original, -1},
        {"a process that cannot be opened", [] { Front(Doom), Front(Locked); }, 0, original, -1},
        {"a menu choice while Doom is in front",
         [] { Front(Doom), Queue(WM_COMMAND, CmdPresetBase + 2); }, 2, chosenThird, -1},
        {"Doom still in front: the choice holds", [] { Front(Doom); }, 2, chosenThird, -1},
        {"Notepad, then Doom again", [] { Front(Notepad), Front(Doom); }, 1, chosenThird, -1},
        {"Set keys with Doom in front, then Notepad",
         [] { Queue(WM_COMMAND, CmdSetKeys), Front(Notepad); }, 1, chosenThird, -1},
        {"the teaching cancelled", [] { Queue(WM_CLOSE), Queue(WM_TIMER, TimerForeground); }, 2,
         chosenThird, -1},
    };
    std::vector<std::string> looks;
    fake::on.DefWindowProcA = [&](HWND, UINT message, WPARAM wParam, LPARAM) -> LRESULT {
        if (message == FrontMessage)
            fake::foreground = reinterpret_cast<HWND>(wParam);
        else if (message == PressMessage || message == ReleaseMessage)
            message == PressMessage ? matrix.Press(1, 1) : matrix.Release(1, 1);
        else if (message == LookMessage) {
            std::string look;
            for (const fake::MenuItem& item : fake::menus[PresetTable.PresetSubmenu])
                look += item.flags & MF_CHECKED ? "checked " + item.text + "; " : "";
            looks.push_back(look + (fake::files[IniPath] == original      ? "ini as it was"
                                    : fake::files[IniPath] == chosenThird ? "ini chose 3"
                                                                          : "ini changed"));
        }
        return 0;
    };
    for (const auto& step : steps) {
        step.act();
        Pad(PressMessage), Pad(ReleaseMessage), Queue(LookMessage);
    }
    ASSERT_EQ(RunKavit(app_test::Instance), 0);
    std::string sent;
    for (const fake::Call& c : fake::CallsTo("keybd_event"))
        sent += std::to_string(c.args[0]) + (c.args[2] & KEYEVENTF_KEYUP ? " up " : " down ");
    std::string want;
    for (const auto& step : steps) {
        if (step.heldFrom >= 0)
            want += Keys(step.heldFrom);
        want += Keys(step.current);
    }
    EXPECT_EQ(sent, want);
    ASSERT_EQ(looks.size(), std::size(steps));
    const char* captions[] = {"Menu", "Doom @doom.exe", "Quake @quake.exe @DOOM.EXE"};
    for (size_t i = 0; i < looks.size(); ++i)
        EXPECT_EQ(looks[i], "checked " + std::string(captions[steps[i].current]) + "; " +
                                (&steps[i].ini == &original ? "ini as it was" : "ini chose 3"))
            << steps[i].what;
    app_test::ResetProgram();
}

} // namespace
