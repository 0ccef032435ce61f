// LPTIO: the port connection, its two transports and the presence test.
#include "lptio/lptio.h"

#include <cstring>

const char LptDevicePath[] = LPT_USER_PATH;

namespace {

// I/O base of each port for the direct transport, by the port an address names: the order
// in which the PC BIOS probes for ports, so LPT1 is the monochrome adapter's 0x3BC, not 0x378.
const WORD IoBaseLpt1 = 0x3BC;
const WORD IoBaseLpt2 = 0x378;
const WORD IoBaseOther = 0x278; // LPT3, and any nibble that names no port

// Patterns written to the data register by the presence test: all lines low, then alternate
// lines, then the other half, so that a stuck or missing line cannot read back all three.
const BYTE ProbePatterns[] = {0x00, 0x55, 0xAA};

// A register that reads all ones or all zeros is what a floating or absent bus gives back.
bool LooksLikeARegister(BYTE value) {
    return value != 0x00 && value != 0xFF;
}

// One batch through the driver, the same buffer in and out. The driver reports a bad batch
// through the last error only, so it is cleared first.
bool DriverBatch(HANDLE device, DWORD code, PortIoPair* pairs, DWORD count) {
    DWORD size = count * static_cast<DWORD>(sizeof(PortIoPair));
    DWORD returned = 0;
    SetLastError(0);
    DeviceIoControl(device, code, pairs, size, pairs, size, &returned, nullptr);
    return GetLastError() == 0;
}

} // namespace

HANDLE OpenLptDevice() {
    return CreateFileA(LptDevicePath, GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool CountOpenHandles(HANDLE device, DWORD& count) {
    DWORD answer = 0, returned = 0;
    if (!DeviceIoControl(device, IoctlOpenHandles, nullptr, 0, &answer, sizeof answer, &returned,
                         nullptr) ||
        returned != sizeof answer || answer == 0)
        return false;
    count = answer;
    return true;
}

bool LptDeviceGone(DWORD lastError) {
    switch (lastError) {
    case ERROR_FILE_NOT_FOUND: // the port is not there any more (STATUS_NO_SUCH_DEVICE)
    case ERROR_ACCESS_DENIED:  // the device is being deleted: its driver was stopped under us
                               // (STATUS_DELETE_PENDING; Wine unloads the driver at once)
    case ERROR_INVALID_HANDLE:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_DEVICE_REMOVED:
        return true;
    default:
        return false;
    }
}

WORD DirectIoAddress(RegisterAddress address) {
    WORD base;
    switch (LPT_ADDRESS_PORT(address)) {
    case 1:
        base = IoBaseLpt1;
        break;
    case 2:
        base = IoBaseLpt2;
        break;
    default:
        base = IoBaseOther;
        break;
    }
    // Bit 3 is not part of the offset: a port has eight addresses at most.
    return static_cast<WORD>(base + LPT_ADDRESS_REGISTER(address));
}

bool NtFamily() {
    OSVERSIONINFOA version;
    std::memset(&version, 0, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    // Should the query ever fail, count the system as NT: guessing wrong the other way would run
    // privileged port instructions there, which ends the process.
    version.dwPlatformId = VER_PLATFORM_WIN32_NT;
    GetVersionExA(&version);
    return version.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

TLptPortConnection::TLptPortConnection()
    : deviceHandle(INVALID_HANDLE_VALUE), isNT(NtFamily()), lpt1Present(false), lpt2Present(false),
      lpt3Present(false), runPairsRefused(false) {
    deviceHandle = OpenLptDevice();
    if (IsOpen()) {
        lpt1Present = PortPresent(PortLpt1);
        lpt2Present = PortPresent(PortLpt2);
        lpt3Present = PortPresent(PortLpt3);
    }
}

TLptPortConnection::~TLptPortConnection() {
    CloseDevice();
}

DWORD TLptPortConnection::CloseDevice() {
    DWORD count = 0;
    if (deviceHandle != INVALID_HANDLE_VALUE) {
        if (isNT)
            CountOpenHandles(deviceHandle, count);
        CloseHandle(deviceHandle);
        deviceHandle = INVALID_HANDLE_VALUE;
    }
    return count;
}

bool TLptPortConnection::IsOpen() const {
    return !(deviceHandle == INVALID_HANDLE_VALUE && isNT);
}

bool TLptPortConnection::ReadPorts(PortIoPair* pairs, DWORD count) {
    if (count == 0 || pairs == nullptr || !IsOpen())
        return false;
    if (deviceHandle != INVALID_HANDLE_VALUE)
        return DriverBatch(deviceHandle, IoctlReadPorts, pairs, count);
    for (DWORD i = 0; i < count; ++i)
        pairs[i].value = PortIn(DirectIoAddress(pairs[i].address));
    return true;
}

bool TLptPortConnection::WritePorts(PortIoPair* pairs, DWORD count) {
    if (count == 0 || pairs == nullptr || !IsOpen())
        return false;
    if (deviceHandle != INVALID_HANDLE_VALUE)
        return DriverBatch(deviceHandle, IoctlWritePorts, pairs, count);
    for (DWORD i = 0; i < count; ++i)
        PortOut(DirectIoAddress(pairs[i].address), pairs[i].value);
    return true;
}

bool TLptPortConnection::RunPairs(PortIoPair* pairs, DWORD count) {
    if (count == 0 || pairs == nullptr || !IsOpen())
        return false;
    if (deviceHandle != INVALID_HANDLE_VALUE && !runPairsRefused) {
        if (DriverBatch(deviceHandle, IoctlRunPairs, pairs, count))
            return true;
        if (GetLastError() != ERROR_INVALID_FUNCTION)
            return false;
        runPairsRefused = true;
    }
    for (DWORD i = 0; i < count; ++i) {
        bool read = (pairs[i].address & PairRead) != 0;
        PortIoPair single = {static_cast<RegisterAddress>(pairs[i].address & ~PairRead),
                             pairs[i].value};
        if (!(read ? ReadPorts(&single, 1) : WritePorts(&single, 1)))
            return false;
        pairs[i].value = single.value;
    }
    return true;
}

BYTE TLptPortConnection::ReadPort(PortCode code, BYTE reg) {
    PortIoPair pair = {static_cast<RegisterAddress>(code | reg), 0};
    ReadPorts(&pair, 1);
    return pair.value;
}

bool TLptPortConnection::WritePort(PortCode code, BYTE reg, BYTE value) {
    PortIoPair pair = {static_cast<RegisterAddress>(code | reg), value};
    return WritePorts(&pair, 1);
}

bool TLptPortConnection::PortPresent(PortCode code) {
    BYTE saved = ReadPort(code, RegData);
    bool ok = true;
    for (BYTE pattern : ProbePatterns) {
        WritePort(code, RegData, pattern);
        if (ok)
            ok = ReadPort(code, RegData) == pattern;
    }
    WritePort(code, RegData, saved);
    if (ok)
        return true;
    // A port in input (bidirectional) mode does not read back its data lines; its control and
    // status registers still show that something is there.
    if (LooksLikeARegister(ReadPort(code, RegControl)))
        return true;
    return LooksLikeARegister(ReadPort(code, RegStatus));
}
