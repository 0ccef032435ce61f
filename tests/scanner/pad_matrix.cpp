#include "tests/scanner/pad_matrix.h"

#include <string>

#include "wire/pad_wiring.h"
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
    bool ours = LPT_ADDRESS_PORT(address) == LPT_ADDRESS_PORT(port);
    unsigned reg = LPT_ADDRESS_OFFSET(address);
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
    held[pad - 1] = static_cast<unsigned short>(held[pad - 1] | 1u << (button - 1));
}

void PadMatrix::Release(int pad, int button) {
    held[pad - 1] = static_cast<unsigned short>(held[pad - 1] & ~(1u << (button - 1)));
}

void PadMatrix::ReleaseAll() {
    held[0] = held[1] = 0;
}

BYTE PadMatrix::Status() const {
    // Error and the three reserved bits high, every input line at its released value.
    BYTE idle = 0x0F;
    for (const TInputLine& line : InputLines)
        idle |= line.releasedBit;
    return PadStatus(held, data, idle);
}

} // namespace padsim
