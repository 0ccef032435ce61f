#include "common/tray_icon.h"

#include <shellapi.h>

#include <cstring>

#include "common/program_state.h"

HICON currentTrayIcon = nullptr;

namespace {

const UINT TrayIconId = 1;
const UINT TrayFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;

// The tip as the shell receives it: the text, then zero bytes up to the 64th.
const char OwnTrayTip[64] = "Kavit program";
// The tip in force: the program's own, or what it has to tell for a while (SetTrayTip).
char trayTip[64] = "Kavit program";

// Shell message for each kind, indexed by TTrayIconKind.
const DWORD TrayShellMessage[] = {
    NIM_DELETE, // TrayDelete
    NIM_ADD,    // TrayAdd
    NIM_MODIFY, // TrayModify
    NIM_ADD,    // TrayRestore
};

#if defined(_WIN32) && !defined(_WIN64)
static_assert(NOTIFYICONDATAA_V1_SIZE == 88,
              "the first form of the record, as on every 32-bit shell");
#endif

} // namespace

void FillTrayRecord(NOTIFYICONDATAA& record, HICON icon) {
    std::memset(&record, 0, sizeof record);
    // The first form of the record, understood by every shell since Windows 95.
    record.cbSize = NOTIFYICONDATAA_V1_SIZE;
    record.hWnd = MainWindow;
    record.uID = TrayIconId;
    record.uFlags = TrayFlags;
    record.uCallbackMessage = TrayCallbackMessage;
    record.hIcon = icon;
    std::memcpy(record.szTip, trayTip, sizeof trayTip);
}

void SetTrayTip(const char* text) {
    const char* tip = text ? text : OwnTrayTip;
    size_t length = std::strlen(tip);
    std::memset(trayTip, 0, sizeof trayTip);
    std::memcpy(trayTip, tip, length < sizeof trayTip ? length : sizeof trayTip - 1);
}

void TrayIcon(TTrayIconKind kind, HICON icon) {
    NOTIFYICONDATAA record;
    if (kind == TrayRestore) {
        icon = currentTrayIcon;
    } else {
        // Recorded before the shell answers: a refused change is not repeated by the scanner.
        currentTrayIcon = icon;
    }
    FillTrayRecord(record, icon);
    Shell_NotifyIconA(TrayShellMessage[kind], &record);
}
