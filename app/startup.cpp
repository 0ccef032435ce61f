#include "app/startup.h"

#include "app/app_state.h"
#include "app/foreground_preset.h"
#include "common/notice.h"
#include "common/tick_source.h"
#include "common/tray_icon.h"
#include "app/port_wait.h"
#include "app/window_proc.h"
#include "lptio/driver_service.h"
#include "lptio/lptio.h"
#include "scanner/scanner.h"
#include "settings/presets.h"
#include "settings/settings.h"

namespace {

// Popup menu ids that never arrive as commands.
const UINT MenuSeparatorKeys = 456;
const UINT MenuSeparatorPreset = 458;
const UINT MenuSeparatorExit = 461;

const UINT StartupMilliseconds = 1000;

// Explorer runs with fewer rights than an elevated Kavit, and Windows drops the messages that
// such a process sends upwards unless they are let through. Looked up at run time: older
// systems have neither the filter nor the function.
typedef BOOL(WINAPI* TChangeWindowMessageFilter)(UINT message, DWORD flag);
const DWORD MessageFilterAdd = 1; // MSGFLT_ADD

WNDCLASSA MainWindowClass(HINSTANCE instance) {
    WNDCLASSA windowClass = {};
    windowClass.style = 0;
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = 0;
    windowClass.hInstance = instance;
    windowClass.hIcon = nullptr;
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszMenuName = nullptr;
    windowClass.lpszClassName = MainWindowClassName;
    return windowClass;
}

// Settings, window class and window; false after telling the user which of them failed.
bool CreateMainWindow(const WNDCLASSA& windowClass) {
    if (!LoadSettings(programDir + SettingsFileName)) {
        ShowNotice("Bad Kavit.ini file");
        return false;
    }
    if (RegisterClassA(&windowClass) == 0) {
        ShowNotice("Invalid class registration");
        return false;
    }
    // A title bar and a thin frame only: no system menu, no sizing, hidden until "Set keys".
    MainWindow = CreateWindowExA(0, MainWindowClassName, MainWindowTitle, WS_CAPTION, MainWindowX,
                                 MainWindowY, MainWindowWidth, MainWindowHeight, nullptr, nullptr,
                                 windowClass.hInstance, nullptr);
    if (!MainWindow) {
        ShowNotice("Window not created");
        return false;
    }
    return true;
}

void ListenForTaskbarRestart() {
    taskbarCreatedMessage = RegisterWindowMessageA("TaskbarCreated");
    HMODULE user32 = GetModuleHandleA("user32.dll");
    TChangeWindowMessageFilter filter =
        user32 ? EntryPoint<TChangeWindowMessageFilter>(user32, "ChangeWindowMessageFilter")
               : nullptr;
    if (filter && taskbarCreatedMessage != 0)
        filter(taskbarCreatedMessage, MessageFilterAdd);
}

void BuildPopupMenu() {
    PopupMenu = CreatePopupMenu();
    AppendMenuA(PopupMenu, MF_STRING, CmdSetKeys, "Set keys");
    AppendMenuA(PopupMenu, MF_SEPARATOR, MenuSeparatorKeys, "");
    AppendMenuA(PopupMenu, MF_POPUP, reinterpret_cast<UINT_PTR>(PresetTable.PresetSubmenu),
                "Preset");
    AppendMenuA(PopupMenu, MF_SEPARATOR, MenuSeparatorPreset, "");
    AppendMenuA(PopupMenu, MF_STRING, CmdHelp, "Help");
    AppendMenuA(PopupMenu, MF_STRING, CmdAbout, "About");
    AppendMenuA(PopupMenu, MF_SEPARATOR, MenuSeparatorExit, "");
    AppendMenuA(PopupMenu, MF_STRING, CmdExit, "Exit");
}

// Why the connection would not load the driver from the program's folder, and what to do.
std::string UnsafeFolderNotice(const TDriverPlace& place) {
    return "Kavit did not load its driver from the folder\n" + programDir +
           "\n\nOther users of this PC could change Kavit's driver there (" + place.reason +
           ").\n\nMove Kavit into a folder that only administrators can change, such as " +
           SafeFolderExample + ", and start it from there.";
}

// A driver was running already, loaded from a place others could have changed: it is used, as
// refusing it would not unload it, and what Kavit did and did not do is said.
std::string UnsafeRunningDriverNotice(const TDriverPlace& place) {
    return "Kavit uses the driver that was already running, but it was loaded from a place that "
           "other users of this PC could change (" +
           place.reason +
           ").\n\nKavit leaves that driver's service alone. An administrator can remove it with "
           "\"sc stop lptwdmio\" and then \"sc delete lptwdmio\" in an administrator prompt. "
           "Keep Kavit in a folder that only administrators can change, such as " +
           SafeFolderExample + ".";
}

// Port, tray icon, menu and the first timer: from here on the program only answers messages.
void GetReady() {
    ChoosePort();
    // Told before the icon exists; the program runs on, without pads. A refused folder is the
    // one thing to tell: the driver's absence follows from it.
    const TDriverService& service = DriverService();
    if (service.driverPlace.verdict == PlaceUnsafe)
        ShowNotice(UnsafeFolderNotice(service.driverPlace).c_str());
    else if (service.runningPlace.verdict == PlaceUnsafe)
        ShowNotice(UnsafeRunningDriverNotice(service.runningPlace).c_str());
    else if (!PortConnection->IsOpen())
        ShowNotice("LPT error, driver installed?");
    // Registered just before the icon is first added: a task bar restarted earlier needs nothing.
    ListenForTaskbarRestart();
    TrayIcon(TrayAdd, FirstIcon);
    BuildPopupMenu();
    // No pad is scanned during the first second; the first tick starts the polling timer.
    SetTimer(MainWindow, TimerStartup, StartupMilliseconds, nullptr);
    StartFollowingForeground();
}

// Runs until the quit message; `message` is left holding it.
void RunMessageLoop(MSG& message) {
    while (GetMessageA(&message, nullptr, 0, 0)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

void StopRunning() {
    KillTimer(MainWindow, TimerPoll);
    StopTicks();
    // No pass runs any more: let go of what the pads still hold, or the keys stay down.
    ReleaseHeldKeys();
    if (PresetTable.presetSubmenuCreated)
        DestroyMenu(PresetTable.PresetSubmenu);
    DestroyMenu(PopupMenu);
}

// Taken before anything else and held until the process ends (Windows lets go of it then): two
// copies started at the same moment both pass the window test, which looks for a window that
// comes only after the driver is installed. Global, because a copy in another session would
// drive the same port.
bool OnlyCopy() {
    SetLastError(0);
    HANDLE mutex = CreateMutexA(nullptr, FALSE, SingleCopyMutexName);
    DWORD error = GetLastError();
    // A copy started by another user (or elevated) may own the name without letting us open it.
    if (!mutex)
        return error != ERROR_ACCESS_DENIED;
    return error != ERROR_ALREADY_EXISTS;
}

} // namespace

int RunKavit(HINSTANCE instance) {
    if (!OnlyCopy() || FindWindowA(MainWindowClassName, MainWindowTitle)) {
        ShowNotice("Another copy already running");
        return 0;
    }
    std::string problem;
    programDir = ProgramDirectory(&problem);
    if (programDir.empty() && !problem.empty()) {
        ShowNotice(problem.c_str());
        return 0;
    }
    StartDriverService(programDir);
    PortConnection = new TLptPortConnection();
    FirstIcon = LoadIconA(instance, "FIRSTICON");
    SecondIcon = LoadIconA(instance, "SECONDICON");
    WNDCLASSA windowClass = MainWindowClass(instance);

    // On the early paths no message is taken and the exit code stays 0; the quit message
    // carries 0 too.
    MSG message = {};
    if (CreateMainWindow(windowClass)) {
        GetReady();
        RunMessageLoop(message);
        StopRunning();
    }
    // Closes the driver device, and removes the driver service when no other program holds it.
    ClosePortConnection(PortConnection);
    return static_cast<int>(message.wParam);
}
