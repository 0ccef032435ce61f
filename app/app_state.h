// State and numbers of the tray program's shell: its timers, messages, menu commands and window.
// What the other parts read too (the window, the connection, the icons) is common/program_state.h.
#pragma once

#include <windows.h>

#include "common/program_state.h"

// Timers of MainWindow.
const UINT_PTR TimerStartup = 330; // one second after start-up, then replaced by TimerPoll
const UINT_PTR TimerPoll = 333;    // every `interval` ms: one pad scan (common/tick_source.h)
const UINT_PTR TimerFlash = 334;   // the end of the tray icon's flash
// Every second while another program holds the port at start-up, until it is free.
const UINT_PTR TimerPortWait = 340;
// A look at the foreground window, only while a preset names a program (app/foreground_preset.h).
const UINT_PTR TimerForeground = 341;

// Messages.
const UINT TrayRestoreMessage = 49284; // add the tray icon again

// Popup menu command ids (456, 458 and 461 are the separators; 457 is unused).
const UINT CmdSetKeys = 455;
const UINT CmdHelp = 459;
const UINT CmdAbout = 460;
const UINT CmdExit = 462;

// The one window: hidden except while keys are taught (its names: common/program_state.h).
// Held by the running copy for its whole life: the test for another copy that no race slips past.
const char SingleCopyMutexName[] = "Global\\Kavit program single copy";
const int MainWindowX = 300;
const int MainWindowY = 300;
const int MainWindowWidth = 250;
const int MainWindowHeight = 100;

// The help page, beside the program.
const char HelpFileName[] = "help.htm";

extern HMENU PopupMenu;
extern int32_t assignIndex; // key assignment: 0..11 pad 1, 12..23 pad 2, 24 complete
// "TaskbarCreated": Windows' own announcement of a restarted task bar, whose number is known only
// once registered; 0 until then.
extern UINT taskbarCreatedMessage;
// Set once the session's end has released the keys, the tray icon and the driver service.
extern bool sessionEnded;
