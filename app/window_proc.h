// MainWindowProc: every event of the running program arrives here as a message of MainWindow:
// timer ticks, tray icon clicks, menu commands, the task bar's request to add the icon again, and
// the paint and key messages of the key assignment window.
#pragma once

#include <windows.h>

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The end of the Windows session (log-off, shut-down): stops scanning, lets go of held keys,
// removes the tray icon and the driver service this run installed. Once; the shutdown after the
// message loop then leaves these alone.
void EndSession();

// The About text: version, the project's address, and six blanks that keep the box wide.
extern const char AboutText[];
