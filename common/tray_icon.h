// The one tray icon of MainWindow (id 1), added, changed, removed and restored through TrayIcon.
#pragma once

#include <windows.h>
#include <shellapi.h>

enum TTrayIconKind {
    TrayDelete = 0,  // NIM_DELETE
    TrayAdd = 1,     // NIM_ADD
    TrayModify = 2,  // NIM_MODIFY
    TrayRestore = 3, // NIM_ADD again with currentTrayIcon; the argument is not used
};

// The icon last sent to the shell; written only by TrayIcon (not by TrayRestore).
extern HICON currentTrayIcon;

void TrayIcon(TTrayIconKind kind, HICON icon);

// The tip that TrayIcon sends from its next call on, cut to 63 characters; null for the program's
// own, "Kavit program".
void SetTrayTip(const char* text);

// Fills the notification record exactly as every TrayIcon call sends it.
void FillTrayRecord(NOTIFYICONDATAA& record, HICON icon);
