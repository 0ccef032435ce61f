#include "app/window_proc.h"

#include <shellapi.h>

#include "app/app_state.h"
#include "app/foreground_preset.h"
#include "app/key_assign.h"
#include "app/port_wait.h"
#include "common/tick_source.h"
#include "common/tray_icon.h"
#include "lptio/driver_service.h"
#include "scanner/scanner.h"
#include "settings/presets.h"
#include "settings/settings.h"

const char AboutText[] = "Kavit 1.06 https://kavit.example.org/      ";

namespace {

// Tray icon mouse events, as the shell reports them in lParam.
const LPARAM TrayLeftButtonUp = WM_LBUTTONUP;  // flash the icon
const LPARAM TrayRightButtonUp = WM_RBUTTONUP; // open the popup menu

const DWORD FlashMilliseconds = 150;

// ---- timers ------------------------------------------------------------------------------------

void OnTimer(WPARAM id) {
    if (id == TimerPortWait) {
        LookForPortAgain();
        return;
    }
    if (id == TimerStartup) {
        // One second after start-up: from now on the pads are polled at their own pace, by
        // SetTimer's coarser one only when no tick source can be had.
        KillTimer(MainWindow, TimerStartup);
        if (!StartTicks(MainWindow, TimerPoll, PollPeriodMs(AppSettings.interval)))
            SetTimer(MainWindow, TimerPoll, AppSettings.interval, nullptr);
        return;
    }
    if (id == TimerFlash) {
        KillTimer(MainWindow, TimerFlash);
        TrayIcon(TrayModify, FirstIcon);
        return;
    }
    if (id == TimerForeground) {
        FollowForeground();
        return;
    }
    ScanPads();
    TickHandled();
}

// ---- tray icon ---------------------------------------------------------------------------------

// The same icon with red eyes for a moment: the program is alive. A timer puts the resting icon
// back, so that the pads are read meanwhile.
void FlashTrayIcon() {
    TrayIcon(TrayModify, SecondIcon);
    SetTimer(MainWindow, TimerFlash, FlashMilliseconds, nullptr);
}

void OpenPopupMenu() {
    // The menu closes on a click elsewhere only when its owner is the foreground window.
    SetForegroundWindow(MainWindow);
    POINT cursor;
    // On a locked or secure desktop there is no cursor position to read; the click's own
    // position, which came with the tray message, is as good.
    if (!GetCursorPos(&cursor)) {
        DWORD position = GetMessagePos();
        cursor.x = static_cast<short>(LOWORD(position));
        cursor.y = static_cast<short>(HIWORD(position));
    }
    TrackPopupMenu(PopupMenu, 0, cursor.x, cursor.y, 0, MainWindow, nullptr);
    // A message after the menu, or the next menu opened from the tray closes again at once.
    PostMessageA(MainWindow, WM_NULL, 0, 0);
}

void OnTrayMouse(LPARAM mouseMessage) {
    if (mouseMessage == TrayLeftButtonUp)
        FlashTrayIcon();
    else if (mouseMessage == TrayRightButtonUp)
        OpenPopupMenu();
}

// ---- commands ----------------------------------------------------------------------------------

// The preset submenu holds one item per preset, in table order: item, index and id agree.
void RewritePresetItem(UINT checkMark) {
    int32_t current = PresetTable.currentPreset;
    ModifyMenuA(PresetTable.PresetSubmenu, static_cast<UINT>(current),
                MF_BYPOSITION | MF_STRING | checkMark, CmdPresetBase + static_cast<UINT>(current),
                PresetTable.presets[static_cast<size_t>(current)].caption.c_str());
}

void ChoosePreset(int32_t index) {
    // Keys being taught are not saved half taught: the teaching is undone first, as closing its
    // window undoes it, and the switch is saved over the keys from before "Set keys".
    if (IsWindowVisible(MainWindow))
        CancelTeaching();
    RewritePresetItem(MF_UNCHECKED);
    PresetTable.currentPreset = index;
    PresetTable.chosenPreset = -1; // the one that comes back when a program leaves the front
    RewritePresetItem(MF_CHECKED);
    SaveSettingsOrTell();
}

void OpenHelp() {
    std::string page = programDir + HelpFileName;
    // Whatever the shell answers, the browser (or its absence) speaks for itself.
    ShellExecuteA(MainWindow, "open", page.c_str(), nullptr, programDir.c_str(), SW_SHOWNORMAL);
}

void ShowAbout() {
    MessageBoxA(MainWindow, AboutText, "Kavit", MB_OK | MB_ICONINFORMATION);
}

// The whole wParam is the id: a word with anything in its high bits is no command of ours.
void RunCommand(WPARAM id) {
    if (id >= CmdPresetBase && id - CmdPresetBase < static_cast<WPARAM>(PresetTable.presetCount)) {
        ChoosePreset(static_cast<int32_t>(id - CmdPresetBase));
        return;
    }
    switch (id) {
    case CmdSetKeys:
        StartTeaching();
        break;
    case CmdHelp:
        OpenHelp();
        break;
    case CmdAbout:
        ShowAbout();
        break;
    case CmdExit:
        // The window stays; its WM_DESTROY handling takes the icon away and ends the loop.
        PostMessageA(MainWindow, WM_DESTROY, 0, 0);
        break;
    }
}

} // namespace

void EndSession() {
    if (sessionEnded)
        return;
    sessionEnded = true;
    KillTimer(MainWindow, TimerStartup);
    KillTimer(MainWindow, TimerPoll);
    StopTicks();
    ReleaseHeldKeys();
    TrayIcon(TrayDelete, FirstIcon);
    ClosePortConnection(PortConnection);
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_DESTROY:
        if (!sessionEnded)
            TrayIcon(TrayDelete, FirstIcon);
        PostQuitMessage(0);
        return 0;
    case WM_ENDSESSION:
        // What must not outlive the program goes now, then the process ends: nothing else would
        // end it (the Restart Manager waits for that), and a copy left running without its icon
        // would turn every later start away as "Another copy already running".
        if (wParam) {
            EndSession();
            ExitProcess(0);
        }
        return 0;
    case WM_CLOSE:
        // Only the key assignment window can be closed (Alt+F4, the task bar): that cancels the
        // teaching, not the program. Closed while hidden, by another program, the program ends.
        if (IsWindowVisible(window)) {
            CancelTeaching();
            return 0;
        }
        break;
    case WM_PAINT:
        PaintAssignWindow(window);
        return 0;
    case WM_KEYDOWN:
        TakeKey(wParam, lParam);
        return 0;
    case WM_COMMAND:
        RunCommand(wParam);
        return 0;
    case WM_TIMER:
        OnTimer(wParam);
        return 0;
    case TrayCallbackMessage:
        OnTrayMouse(lParam);
        return 0;
    case TrayRestoreMessage:
        TrayIcon(TrayRestore, currentTrayIcon);
        return 0;
    }
    // A restarted task bar has forgotten every icon. Its announcement has no fixed number; 0 means
    // it is not registered yet.
    if (message == taskbarCreatedMessage && taskbarCreatedMessage != 0) {
        TrayIcon(TrayRestore, currentTrayIcon);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
