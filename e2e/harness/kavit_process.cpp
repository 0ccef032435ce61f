#include "e2e/harness/kavit_process.h"

#include "e2e/common/sim_client.h"
#include "e2e/harness/harness.h"
#include "e2e/common/key_hook.h"

namespace {

struct TBoxSearch {
    DWORD pid;
    std::vector<TNotice>* found;
};

BOOL CALLBACK CollectBoxes(HWND window, LPARAM data) {
    TBoxSearch* search = reinterpret_cast<TBoxSearch*>(data);
    DWORD pid = 0;
    char className[64] = "", caption[1024] = "", text[1024] = "";
    GetWindowThreadProcessId(window, &pid);
    GetClassNameA(window, className, sizeof(className));
    if (pid != search->pid || !IsWindowVisible(window) || lstrcmpA(className, "#32770") != 0)
        return TRUE;
    GetWindowTextA(window, caption, sizeof(caption));
    // The static text control of a message box has the id 0xFFFF. This is GetDlgItemTextA with
    // a deadline: a program stuck elsewhere must not hang the harness.
    HWND label = GetDlgItem(window, 0xFFFF);
    DWORD_PTR copied = 0;
    if (label)
        SendMessageTimeoutA(label, WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text),
                            SMTO_ABORTIFHUNG, 2000, &copied);
    search->found->push_back({window, caption, text, GetWindow(window, GW_OWNER)});
    return TRUE;
}

} // namespace

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
    for (HWND w = nullptr; (w = FindWindowExA(nullptr, w, KavitClass, KavitTitle)) != nullptr;)
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

bool TKavit::Running() const {
    return process && WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
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
    TBoxSearch search = {pid, &found};
    EnumWindows(CollectBoxes, reinterpret_cast<LPARAM>(&search));
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
    [&] {
        FAIL() << "the program still runs " << timeoutMs
               << " ms later; boxes seen: " << testing::PrintToString(texts);
    }();
    return texts;
}

void TKavit::Command(UINT id) const {
    Post(WM_COMMAND, id, 0);
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
