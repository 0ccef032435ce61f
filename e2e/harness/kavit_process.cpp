#include "e2e/harness/kavit_process.h"

#include "e2e/common/sim_client.h"
#include "e2e/harness/harness.h"
#include "e2e/harness/key_hook.h"

namespace {

struct TBoxSearch {
    DWORD pid;
    std::vector<TNotice>* found;
};

BOOL CALLBACK CollectBoxes(HWND window, LPARAM data) {
    TBoxSearch* search = reinterpret_cast<TBoxSearch*>(data);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != search->pid || !IsWindowVisible(window))
        return TRUE;
    char className[64] = "";
    GetClassNameA(window, className, sizeof(className));
    if (lstrcmpA(className, "#32770") != 0)
        return TRUE;
    TNotice notice;
    notice.box = window;
    char text[1024] = "";
    GetWindowTextA(window, text, sizeof(text));
    notice.caption = text;
    text[0] = 0;
    // The static text control of a message box has the id 0xFFFF. This is GetDlgItemTextA with
    // a deadline: a program stuck elsewhere must not hang the harness.
    HWND label = GetDlgItem(window, 0xFFFF);
    DWORD_PTR copied = 0;
    if (label)
        SendMessageTimeoutA(label, WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text),
                            SMTO_ABORTIFHUNG, 2000, &copied);
    notice.text = text;
    notice.owner = GetWindow(window, GW_OWNER);
    search->found->push_back(notice);
    return TRUE;
}

} // namespace

std::string DescribeTexts(const std::vector<std::string>& texts) {
    std::string out = "[";
    for (size_t i = 0; i < texts.size(); i++)
        out += (i ? ", \"" : "\"") + texts[i] + "\"";
    return out + "]";
}

// The harness's own paths are plain ASCII.
void TKavit::Start(const std::string& exe, const std::string& workingDir) {
    StartWide(std::wstring(exe.begin(), exe.end()),
              std::wstring(workingDir.begin(), workingDir.end()));
}

void TKavit::StartWide(const std::wstring& exe, const std::wstring& workingDir) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    std::wstring commandLine = L"\"" + exe + L"\"";
    startTime = Now();
    if (!CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        workingDir.c_str(), &startup, &info))
        Fail("CreateProcessW(%ls): %s", exe.c_str(), Win32ErrorText(GetLastError()).c_str());
    CloseHandle(info.hThread);
    process = info.hProcess;
    pid = info.dwProcessId;
}

HWND TKavit::FindOwnWindow() const {
    HWND found = nullptr;
    for (HWND w = FindWindowExA(nullptr, nullptr, KavitClass, KavitTitle); w;
         w = FindWindowExA(nullptr, w, KavitClass, KavitTitle)) {
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        if (owner == pid)
            found = w;
    }
    return found;
}

HWND TKavit::WaitReady(DWORD timeoutMs) {
    DWORD exitCode = 0;
    if (!WaitUntil([&] { return (window = FindOwnWindow()) != nullptr || !Running(); },
                   timeoutMs)) {
        std::vector<TNotice> boxes = Notices();
        Fail("no \"Kavit Tray\" window %lu ms after start%s%s",
             static_cast<unsigned long>(timeoutMs),
             boxes.empty() ? "" : "; a box says: ", boxes.empty() ? "" : boxes[0].text.c_str());
    }
    if (!window) {
        WaitExit(1000, exitCode);
        Fail("the program ended (exit code %lu) before its window appeared",
             static_cast<unsigned long>(exitCode));
    }
    windowTime = Now();
    if (!WaitUntil([&] { return TrayIconPresent(window); }, timeoutMs)) {
        std::vector<TNotice> boxes = Notices();
        Fail("window found but no tray icon %lu ms later%s%s",
             static_cast<unsigned long>(timeoutMs),
             boxes.empty() ? "" : "; a box is open: ", boxes.empty() ? "" : boxes[0].text.c_str());
    }
    trayTime = Now();
    return window;
}

bool TKavit::Running() const {
    return process && WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
}

bool TKavit::WaitExit(DWORD timeoutMs, DWORD& exitCode) {
    exitCode = 0;
    if (!process)
        return true;
    if (WaitForSingleObject(process, timeoutMs) != WAIT_OBJECT_0)
        return false;
    GetExitCodeProcess(process, &exitCode);
    return true;
}

void TKavit::Kill() {
    if (!process)
        return;
    if (Running()) {
        TerminateProcess(process, 999);
        WaitForSingleObject(process, 5000);
    }
    CloseHandle(process);
    process = nullptr;
}

std::vector<TNotice> TKavit::Notices() const {
    std::vector<TNotice> found;
    TBoxSearch search = {pid, &found};
    EnumWindows(CollectBoxes, reinterpret_cast<LPARAM>(&search));
    return found;
}

TNotice TKavit::WaitNotice(DWORD timeoutMs) {
    std::vector<TNotice> found;
    if (!WaitUntil([&] { return !(found = Notices()).empty() || !Running(); }, timeoutMs) ||
        found.empty()) {
        DWORD exitCode = 0;
        if (!Running() && WaitExit(0, exitCode))
            Fail("expected a message box, but the program ended (exit code %lu)",
                 static_cast<unsigned long>(exitCode));
        Fail("no message box within %lu ms", static_cast<unsigned long>(timeoutMs));
    }
    // GetDlgItemTextA can race the box's creation; read again once it has settled.
    Sleep(20);
    std::vector<TNotice> settled = Notices();
    return settled.empty() ? found[0] : settled[0];
}

std::vector<std::string> TKavit::CloseNoticesUntilExit(DWORD timeoutMs, DWORD& exitCode) {
    std::vector<std::string> texts;
    DWORD start = GetTickCount();
    while (GetTickCount() - start < timeoutMs) {
        if (WaitExit(0, exitCode))
            return texts;
        std::vector<TNotice> boxes = Notices();
        if (!boxes.empty()) {
            Sleep(20);
            boxes = Notices();
            if (!boxes.empty()) {
                texts.push_back(boxes[0].text);
                CloseNotice(boxes[0]);
            }
        }
        Sleep(5);
    }
    Fail("the program still runs %lu ms later; boxes seen: %s",
         static_cast<unsigned long>(timeoutMs), DescribeTexts(texts).c_str());
}

void TKavit::Command(UINT id) const {
    Post(WM_COMMAND, id, 0);
}

void TKavit::Post(UINT message, WPARAM wParam, LPARAM lParam) const {
    if (!PostMessageA(window, message, wParam, lParam))
        Fail("PostMessageA(0x%X) to the program's window: %s", message,
             Win32ErrorText(GetLastError()).c_str());
}

void CloseNotice(const TNotice& notice) {
    PostMessageA(notice.box, WM_COMMAND, IDOK, 0);
    if (!WaitUntil([&] { return !IsWindow(notice.box) || !IsWindowVisible(notice.box); }, 3000))
        Fail("message box \"%s\" did not close on OK", notice.text.c_str());
}
