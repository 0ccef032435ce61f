#include "tests/scanner/pad_matrix.h"

#include <string>

#include "tests/fake/fake_win32.h"

namespace padsim {

HANDLE const DeviceHandle = reinterpret_cast<HANDLE>(0xDE71);

namespace {

// Status bits that carry no pad: Error high, the three reserved bits high.
const BYTE IdleOtherBits = 0x0F;

// Input line of each pad half: first (buttons 1..6), second (7..12).
const BYTE InputLine[2][2] = {
    {0x40, 0x80}, // pad 1: Acknowledge, Busy
    {0x20, 0x10}, // pad 2: Paper out, Select
};

// The select line of a button, as a data-register bit: button 1 on D5 .. button 6 on D0.
BYTE SelectBit(int button) {
    int step = (button - 1) % 6 + 1;
    return static_cast<BYTE>(1 << (6 - step));
}

} // namespace

void PadMatrix::Install() {
    fake::on.CreateFileA = [this](LPCSTR name, DWORD access, DWORD share,
                                  LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                                  HANDLE templateFile) -> HANDLE {
        if (deviceOpens && std::string(name ? name : "") == fake::DevicePath)
            return DeviceHandle;
        return fake::Defaults().CreateFileA(name, access, share, security, disposition, flags,
                                            templateFile);
    };
    fake::on.DeviceIoControl = [this](HANDLE device, DWORD code, LPVOID in, DWORD inSize,
                                      LPVOID out, DWORD outSize, LPDWORD returned,
                                      LPOVERLAPPED) -> BOOL {
        // A driver that cannot tell how many handles are open: the program keeps the older
        // rule for its service. Not a port access.
        if (code == IoctlOpenHandles)
            return FALSE;
        ++deviceCalls;
        if (device != DeviceHandle || in != out || inSize != outSize) {
            SetLastError(ERROR_INVALID_FUNCTION);
            return FALSE;
        }
        if (deviceCalls == failAt || failing) {
            SetLastError(failError);
            return FALSE;
        }
        if (!Transfer(code, static_cast<BYTE*>(in), inSize)) {
            SetLastError(ERROR_INVALID_FUNCTION);
            return FALSE;
        }
        if (returned)
            *returned = outSize;
        return TRUE;
    };
}

bool PadMatrix::Transfer(DWORD code, BYTE* pairs, DWORD size) {
    if (code != IoctlReadPorts && code != IoctlWritePorts)
        return false;
    for (DWORD i = 0; i + 1 < size; i += 2) {
        BYTE address = pairs[i];
        BYTE& value = pairs[i + 1];
        bool ours = (address & 0xF0) == port;
        BYTE reg = address & 0x0F;
        if (code == IoctlWritePorts) {
            if (ours && reg == RegData)
                data = value;
            else if (ours && reg == RegControl)
                control = value;
        } else if (!ours) {
            value = 0xFF;
        } else if (reg == RegData) {
            value = data;
        } else if (reg == RegStatus) {
            value = Status();
        } else {
            value = control;
        }
    }
    return true;
}

void PadMatrix::Press(int pad, int button) {
    pressed[pad - 1][button - 1] = true;
}

void PadMatrix::Release(int pad, int button) {
    pressed[pad - 1][button - 1] = false;
}

void PadMatrix::ReleaseAll() {
    for (auto& pad : pressed)
        for (bool& button : pad)
            button = false;
}

BYTE PadMatrix::Status() const {
    // Connector levels first: every input line high (released) unless pulled low.
    BYTE levels = 0xF0;
    for (int pad = 1; pad <= 2; ++pad)
        for (int button = 1; button <= 12; ++button)
            if (pressed[pad - 1][button - 1] && !(data & SelectBit(button)))
                levels &= static_cast<BYTE>(~InputLine[pad - 1][(button - 1) / 6]);
    // The port inverts Busy on its way into bit 7.
    return static_cast<BYTE>((levels ^ 0x80) | IdleOtherBits);
}

} // namespace padsim
