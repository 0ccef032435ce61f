// Running the real tray program against the Win32 stand-in: a fresh program state for every
// test, a Kavit.ini to start from, a pad matrix behind the port driver, and ways to read what
// the program did from the call log.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/fake/fake_win32.h"
#include "tests/scanner/pad_matrix.h"

namespace app_test {

HINSTANCE const Instance = reinterpret_cast<HINSTANCE>(0x400000);
const std::string IniPath = "C:\\Kavit\\Kavit.ini";
const std::string HelpPath = "C:\\Kavit\\help.htm";

// Every module-level variable of the program back at its start value, the scanner with no
// button held, and a fresh stand-in.
void ResetProgram();

// Posts a message to MainWindow, to be taken by the loop in that order.
void Queue(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

// Called when the loop takes its last message, before shutdown: the state of the running
// program can be looked at there.
void AtLoopEnd(std::function<void()> look);

// Makes every file write fail, as on a read-only folder.
void FailFileWrites();

// Key data of a key-down message: repeat count 1, the scan code in bits 16..23, the extended
// flag in bit 24.
LPARAM KeyData(int scan, bool extended);

// Index of the first logged call to `fn` that satisfies `match`, from `from` on; -1 if none.
int Find(const std::string& fn, std::function<bool(const fake::Call&)> match = nullptr,
         int from = 0);
int FindText(const std::string& fn, const std::string& text, int from = 0);

// The calls after index `from`, by name.
std::vector<std::string> NamesAfter(int from);

// Texts of every MessageBoxA shown.
fake::Checked<std::string> Notices();

// Register addresses of the device batches logged from index `from` on.
std::vector<BYTE> PortAddressesAfter(int from);

} // namespace app_test
