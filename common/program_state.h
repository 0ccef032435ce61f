// Program-wide state that every part of the program may read: one instance each, set up by the
// start-up of the tray program and reached directly, as on the one thread nothing else runs.
#pragma once

#include <windows.h>

#include "common/program_dir.h"
#include "lptio/lptio.h"

// Mouse events on the tray icon arrive at MainWindow as this message, the event in lParam.
const UINT TrayCallbackMessage = WM_USER + 1;

// The one window of the tray program. A second copy, and kavit-check, find a running Kavit by
// both names together.
const char MainWindowClassName[] = "Kavit Tray";
const char MainWindowTitle[] = "Kavit program";

extern HWND MainWindow;
extern TLptPortConnection* PortConnection; // the one connection, while it exists
extern PortCode selectedPort;              // first port that answered, or 0
extern HICON FirstIcon;                    // FIRSTICON: resting
extern HICON SecondIcon;                   // SECONDICON: a button went down
