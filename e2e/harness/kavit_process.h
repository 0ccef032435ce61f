// One Kavit.exe started by the harness: its process, its window, its message boxes.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "app/app_state.h"    // the window's names, its commands and messages
#include "settings/presets.h" // the presets' command ids

const char NoticeCaption[] = "Kavit program";

struct TNotice {
    HWND box = nullptr;
    std::string caption, text;
    HWND owner = nullptr;
};

class TKavit {
  public:
    TKavit() = default;
    ~TKavit() { Kill(); }
    TKavit(const TKavit&) = delete;
    TKavit& operator=(const TKavit&) = delete;

    // Starts `exe` with the working directory `workingDir` (not the program's own, so that the
    // program has to find its files by its own path).
    void Start(const std::string& exe, const std::string& workingDir);
    // The same from a path that only the wide functions can name (a folder outside the ANSI
    // code page).
    void StartWide(const std::wstring& exe, const std::wstring& workingDir);

    // The program's own "Kavit Tray"/"Kavit program" window; null while there is none.
    HWND FindOwnWindow() const;
    // Waits for the window, then for its tray icon.
    void WaitReady(DWORD timeoutMs);
    bool Running() const { return process && WaitForSingleObject(process, 0) == WAIT_TIMEOUT; }
    // Waits for the process to end; false on timeout.
    bool WaitExit(DWORD timeoutMs, DWORD& exitCode);
    void Kill();

    // Message boxes ("#32770") of this process, as they are now.
    std::vector<TNotice> Notices() const;
    // "; a box says: ..." for a failure report while a box is open, else "".
    std::string Boxes() const;
    // Waits for one box.
    TNotice WaitNotice(DWORD timeoutMs);
    // Closes every box that appears until the process ends, in order; the texts and the exit
    // code. Fails with what it saw when the process outlives `timeoutMs`.
    std::vector<std::string> CloseNoticesUntilExit(DWORD timeoutMs, DWORD& exitCode);

    void Command(UINT id) const { Post(WM_COMMAND, id, 0); } // as the menu would
    void Post(UINT message, WPARAM wParam, LPARAM lParam) const;

    DWORD pid = 0;
    HANDLE process = nullptr;
    HWND window = nullptr;
    LONGLONG startTime = 0;  // just before CreateProcess
    LONGLONG windowTime = 0; // when the window was first seen
    LONGLONG trayTime = 0;   // when its tray icon was first seen
};

// Presses OK on a box and waits for it to go.
void CloseNotice(const TNotice& notice);
