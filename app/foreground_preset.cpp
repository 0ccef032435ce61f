#include "app/foreground_preset.h"

#include <cstring>
#include <string>

#include "app/app_state.h"
#include "lptio/lptio.h"
#include "settings/presets.h"
#include "settings/program_presets.h"

namespace {

// Within half a second of a switch; a look costs one call while the foreground stays.
const UINT ForegroundMilliseconds = 250;

// Vista on: all that asking for the image name takes, the right that processes grant most widely.
const DWORD ProcessQueryLimitedInformation = 0x1000;

typedef BOOL(WINAPI* TQueryFullProcessImageNameA)(HANDLE process, DWORD flags, LPSTR name,
                                                  PDWORD size);
typedef DWORD(WINAPI* TGetProcessImageFileNameA)(HANDLE process, LPSTR name, DWORD size);

// The task bar is where the tray menu is reached from: passing through it on the way to the menu
// must not take away the preset of the program the menu is meant for. Its classes on the first
// and on other screens, and the flyouts of hidden tray icons (Windows 7 to 10, and 11).
const char* const TaskBarClasses[] = {"Shell_TrayWnd", "Shell_SecondaryTrayWnd",
                                      "NotifyIconOverflowWindow",
                                      "TopLevelWindowForOverflowXamlIsland"};

HWND lastForeground; // the last foreground window looked at, of another program

bool IsTaskBar(HWND window) {
    char name[64];
    int length = GetClassNameA(window, name, sizeof name);
    for (const char* taskBar : TaskBarClasses)
        if (length > 0 && std::strcmp(name, taskBar) == 0)
            return true;
    return false;
}

// The program's path, or "" when the process cannot be opened (a protected one, or one of
// another user on Windows XP) or its name cannot be read.
std::string ProgramPath(DWORD processId) {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    TQueryFullProcessImageNameA queryName =
        kernel ? EntryPoint<TQueryFullProcessImageNameA>(kernel, "QueryFullProcessImageNameA")
               : nullptr;
    // Windows XP: psapi's name, a device path; its file name is all that counts.
    static HMODULE psapi = queryName ? nullptr : LoadLibraryA("psapi.dll");
    TGetProcessImageFileNameA imageName =
        psapi && !queryName
            ? EntryPoint<TGetProcessImageFileNameA>(psapi, "GetProcessImageFileNameA")
            : nullptr;
    if (!queryName && !imageName)
        return "";
    HANDLE process = OpenProcess(
        queryName ? ProcessQueryLimitedInformation : PROCESS_QUERY_INFORMATION, FALSE, processId);
    if (!process)
        return "";
    char path[1024];
    DWORD size = sizeof path;
    bool named = queryName ? queryName(process, 0, path, &size) != FALSE
                           : (size = imageName(process, path, sizeof path)) > 0;
    CloseHandle(process);
    return named && size < sizeof path ? std::string(path, size) : "";
}

void CheckItem(int32_t index, UINT checkMark) {
    ModifyMenuA(PresetTable.PresetSubmenu, static_cast<UINT>(index),
                MF_BYPOSITION | MF_STRING | checkMark, CmdPresetBase + static_cast<UINT>(index),
                PresetTable.presets[static_cast<size_t>(index)].caption.c_str());
}

} // namespace

void StartFollowingForeground() {
    lastForeground = nullptr;
    if (AnyPresetFollowsPrograms())
        SetTimer(MainWindow, TimerForeground, ForegroundMilliseconds, nullptr);
}

void FollowForeground() {
    // While keys are taught, the preset being taught stays current whatever comes to the front.
    if (IsWindowVisible(MainWindow))
        return;
    HWND window = GetForegroundWindow();
    if (!window || window == lastForeground)
        return;
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    // Kavit's own menu, window and notices are no change of program.
    if (processId == GetCurrentProcessId() || IsTaskBar(window))
        return;
    lastForeground = window;
    int32_t previous;
    if (FollowProgram(ProgramPath(processId), previous)) {
        CheckItem(previous, MF_UNCHECKED);
        CheckItem(PresetTable.currentPreset, MF_CHECKED);
    }
}
