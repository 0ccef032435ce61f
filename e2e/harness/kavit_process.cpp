#include "e2e/harness/kavit_process.h"

#include "e2e/common/sim_client.h"
#include "e2e/harness/harness.h"
#include "e2e/common/key_hook.h"

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
    ASSERT_TRUE(CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                               workingDir.c_str(), &startup, &info))
        << "CreateProcessW: " << LastErrorText();
    CloseHandle(info.hThread);
    process = info.hProcess;
    pid = info.dwProcessId;
}

HWND TKavit::FindOwnWindow() const {
    HWND found = nullptr;
    DWORD owner = 0;
    for (HWND w = nullptr;
         (w = FindWindowExA(nullptr, w, MainWindowClassName, MainWindowTitle)) != nullptr;)
        if (GetWindowThreadProcessId(w, &owner) && owner == pid)
            found = w;
    return found;
}

void TKavit::WaitReady(DWORD timeoutMs) {
    DWORD exitCode = 0;
    ASSERT_TRUE(
        WaitUntil([&] { return (window = FindOwnWindow()) != nullptr || !Running(); }, timeoutMs))
        << "no \"Kavit Tray\" window " << timeoutMs << " ms after start" << Boxes();
    if (!window)
        WaitExit(1000, exitCode);
    ASSERT_TRUE(window != nullptr)
        << "the program ended (exit code " << exitCode << ") before its window appeared";
    windowTime = Now();
    ASSERT_TRUE(WaitUntil([&] { return TrayIconPresent(window); }, timeoutMs))
        << "window found but no tray icon " << timeoutMs << " ms later" << Boxes();
    trayTime = Now();
}

bool TKavit::WaitExit(DWORD timeoutMs, DWORD& exitCode) {
    exitCode = 0;
    bool ended = !process || WaitForSingleObject(process, timeoutMs) == WAIT_OBJECT_0;
    if (ended && process)
        GetExitCodeProcess(process, &exitCode);
    return ended;
}

void TKavit::Kill() {
    if (!process)
        return;
    TerminateProcess(process, 999); // fails harmlessly once it has ended
    WaitForSingleObject(process, 5000);
    CloseHandle(process);
    process = nullptr;
}

std::vector<TNotice> TKavit::Notices() const {
    std::vector<TNotice> found;
    for (HWND box = nullptr; (box = FindWindowExA(nullptr, box, "#32770", nullptr)) != nullptr;) {
        DWORD owner = 0;
        char caption[1024] = "", text[1024] = "";
        if (!GetWindowThreadProcessId(box, &owner) || owner != pid || !IsWindowVisible(box))
            continue;
        GetWindowTextA(box, caption, sizeof(caption));
        // The static text control of a message box has the id 0xFFFF. This is GetDlgItemTextA
        // with a deadline: a program stuck elsewhere must not hang the harness.
        if (HWND label = GetDlgItem(box, 0xFFFF))
            SendMessageTimeoutA(label, WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text),
                                SMTO_ABORTIFHUNG, 2000, nullptr);
        found.push_back({box, caption, text, GetWindow(box, GW_OWNER)});
    }
    return found;
}

std::string TKavit::Boxes() const {
    std::vector<TNotice> boxes = Notices();
    return boxes.empty() ? "" : "; a box says: " + boxes[0].text;
}

TNotice TKavit::WaitNotice(DWORD timeoutMs) {
    std::vector<TNotice> found;
    WaitUntil([&] { return !(found = Notices()).empty() || !Running(); }, timeoutMs);
    DWORD exitCode = 0;
    [&] {
        ASSERT_FALSE(found.empty() && !Running() && WaitExit(0, exitCode))
            << "expected a message box, but the program ended (exit code " << exitCode << ")";
        ASSERT_FALSE(found.empty()) << "no message box within " << timeoutMs << " ms";
    }();
    // GetDlgItemTextA can race the box's creation; read again once it has settled.
    Sleep(20);
    std::vector<TNotice> settled = Notices();
    return settled.empty() ? found[0] : settled[0];
}

std::vector<std::string> TKavit::CloseNoticesUntilExit(DWORD timeoutMs, DWORD& exitCode) {
    std::vector<std::string> texts;
    for (DWORD start = GetTickCount(); GetTickCount() - start < timeoutMs; Sleep(5)) {
        if (WaitExit(0, exitCode))
            return texts;
        if (Notices().empty())
            continue;
        TNotice box = WaitNotice(1000); // its text read once settled
        texts.push_back(box.text);
        CloseNotice(box);
    }
    [&] {
        FAIL() << "the program still runs " << timeoutMs
               << " ms later; boxes seen: " << testing::PrintToString(texts);
    }();
    return texts;
}

void TKavit::Post(UINT message, WPARAM wParam, LPARAM lParam) const {
    ASSERT_TRUE(PostMessageA(window, message, wParam, lParam))
        << "PostMessageA(" << message << ") to the program's window: " << LastErrorText();
}

void CloseNotice(const TNotice& notice) {
    PostMessageA(notice.box, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(
        WaitUntil([&] { return !IsWindow(notice.box) || !IsWindowVisible(notice.box); }, 3000))
        << "message box \"" << notice.text << "\" did not close on OK";
}
