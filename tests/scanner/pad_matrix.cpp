#include "tests/scanner/pad_matrix.h"

#include <string>

#include "scanner/pad_wiring.h"
#include "tests/fake/fake_win32.h"

namespace padsim {

HANDLE const DeviceHandle = reinterpret_cast<HANDLE>(0xDE71);

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
    if (code != IoctlReadPorts && code != IoctlWritePorts &&
        (code != IoctlRunPairs || !knowsRunPairs))
        return false;
    for (DWORD i = 0; i + 1 < size; i += 2) {
        bool read = code == IoctlRunPairs ? (pairs[i] & PairRead) != 0 : code == IoctlReadPorts;
        Access(read, static_cast<BYTE>(pairs[i] & ~(code == IoctlRunPairs ? PairRead : 0)),
               pairs[i + 1]);
    }
    return true;
}

void PadMatrix::Access(bool read, BYTE address, BYTE& value) {
    bool ours = (address & 0xF0) == port;
    BYTE reg = address & 0x0F;
    if (!read) {
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
    if (fake::recording) // not while a benchmark counts the pass's allocations
        accesses.push_back({static_cast<BYTE>(address | (read ? PairRead : 0)), value});
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
    // Error and the three reserved bits high, every input line at its released value unless a
    // pressed button whose select line is low pulls it.
    BYTE status = 0x0F;
    for (const TInputLine& line : InputLines)
        status |= line.releasedBit;
    for (int pad = 1; pad <= 2; ++pad)
        for (int button = 1; button <= 12; ++button)
            if (pressed[pad - 1][button - 1] && !(data & ButtonSelectBit(button)))
                status = LinePulled(ButtonLine(pad, button), status);
    return status;
}

} // namespace padsim
