#include "tests/app/app_test_support.h"

#include "app/app_state.h"
#include "common/tick_source.h"
#include "common/tray_icon.h"
#include "lptio/driver_service.h"
#include "scanner/scanner.h"
#include "settings/presets.h"
#include "settings/settings.h"

namespace app_test {

void ResetProgram() {
    // Whatever a failed test left behind goes first, while the stand-in still answers for it.
    ClosePortConnection(PortConnection);
    ReleaseHeldKeys();
    StopTicks();
    fake::Reset();
    MainWindow = nullptr;
    programDir.clear();
    selectedPort = 0;
    FirstIcon = nullptr;
    SecondIcon = nullptr;
    PopupMenu = nullptr;
    assignIndex = 0;
    taskbarCreatedMessage = 0;
    sessionEnded = false;
    currentTrayIcon = nullptr;
    SetTrayTip(nullptr);
    PresetTable = TPresetTable{};
    AppSettings = TAppSettings{};
}

void Queue(UINT message, WPARAM wParam, LPARAM lParam) {
    fake::Post(fake::Window, message, wParam, lParam);
}

void AtLoopEnd(std::function<void()> look) {
    fake::on.GetMessageA = [look](LPMSG msg, HWND window, UINT low, UINT high) {
        BOOL more = fake::Defaults().GetMessageA(msg, window, low, high);
        if (!more)
            look();
        return more;
    };
}

void FailFileWrites() {
    auto base = fake::on.CreateFileA;
    fake::on.CreateFileA = [base](LPCSTR name, DWORD access, DWORD share,
                                  LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                                  HANDLE templateFile) -> HANDLE {
        if ((access & GENERIC_WRITE) && std::string(name) != fake::DevicePath) {
            SetLastError(ERROR_ACCESS_DENIED);
            return INVALID_HANDLE_VALUE;
        }
        return base(name, access, share, security, disposition, flags, templateFile);
    };
}

LPARAM KeyData(int scan, bool extended) {
    return static_cast<LPARAM>(1 | (scan & 0xFF) << 16 | (extended ? 1 << 24 : 0));
}

int Find(const std::string& fn, std::function<bool(const fake::Call&)> match, int from) {
    for (size_t i = static_cast<size_t>(from); i < fake::calls.size(); ++i)
        if (fake::calls[i].fn == fn && (!match || match(fake::calls[i])))
            return static_cast<int>(i);
    return -1;
}

int FindText(const std::string& fn, const std::string& text, int from) {
    return Find(
        fn, [&](const fake::Call& c) { return !c.text.empty() && c.text[0] == text; }, from);
}

std::vector<std::string> NamesAfter(int from) {
    std::vector<std::string> names;
    for (size_t i = static_cast<size_t>(from) + 1; i < fake::calls.size(); ++i)
        names.push_back(fake::calls[i].fn);
    return names;
}

fake::Checked<std::string> Notices() {
    fake::Checked<std::string> texts(std::vector<std::string>(), "Notices()");
    for (const fake::Call& c : fake::CallsTo("MessageBoxA"))
        texts.push_back(c.text[0]);
    return texts;
}

std::vector<BYTE> PortAddressesAfter(int from) {
    std::vector<BYTE> addresses;
    for (size_t i = static_cast<size_t>(from); i < fake::calls.size(); ++i)
        if (fake::calls[i].fn == "DeviceIoControl")
            for (size_t b = 0; b < fake::calls[i].bytes.size(); b += 2)
                addresses.push_back(fake::calls[i].bytes[b]);
    return addresses;
}

} // namespace app_test
