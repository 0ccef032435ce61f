// User-mode side of the simulated port driver: opens \\.\LptAccessAgent and speaks both its
// public port batches and its private simulation codes. Used by padsim and the e2e harness.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

extern "C" {
#include "driver/simport.h"
}

inline USHORT ButtonBit(int button) {
    return static_cast<USHORT>(1u << (button - 1));
}

// "error 2 (The system cannot find the file specified.)"
std::string Win32ErrorText(DWORD error);

class TSimDevice {
  public:
    TSimDevice() = default;
    ~TSimDevice() { Close(); }
    TSimDevice(const TSimDevice&) = delete;
    TSimDevice& operator=(const TSimDevice&) = delete;

    // Opens the device; false (and lastError) when the driver is not loaded.
    bool Open();
    void Close();
    bool IsOpen() const { return handle != INVALID_HANDLE_VALUE; }

    // Each call answers false and keeps GetLastError() in lastError when the device refuses.
    bool ChangeButtons(int pad, USHORT press, USHORT release);
    bool SetPad(int pad, USHORT pressed) { return ChangeButtons(pad, pressed, 0x0FFF); }
    bool ReleaseAll() { return SetPad(1, 0) && SetPad(2, 0); }
    bool SetPorts(ULONG mask) { return Control(SIM_IOCTL_SET_PORTS, &mask, sizeof(mask)); }
    bool SetFaults(ULONG mask) { return Control(SIM_IOCTL_SET_FAULTS, &mask, sizeof(mask)); }
    bool Reset() { return Control(SIM_IOCTL_RESET); }
    bool ClearLog() { return Control(SIM_IOCTL_CLEAR_LOG); }
    bool GetState(TSimState& state);
    // Appends the log entries from index `first` on; `first` moves past what was read. Answers
    // false when the device refused, or when entries were already overwritten (lost set).
    bool ReadLog(ULONG& first, std::vector<TSimLogEntry>& entries, bool* lost = nullptr);

    // The public port interface, exactly as the program calls it, on n (port, value) pairs at
    // p: last error cleared before, success when it is still 0 after.
    bool ReadPorts(BYTE* p, DWORD n) { return Batch(LPT_IOCTL_READ_PORTS, p, 2 * n, 2 * n); }
    bool WritePorts(BYTE* p, DWORD n) { return Batch(LPT_IOCTL_WRITE_PORTS, p, 2 * n, 2 * n); }
    // Any batch, lengths as given, with the same success rule: for batches the program never
    // sends. `buffer` serves as input and output.
    bool Batch(DWORD code, BYTE* buffer, DWORD inLength, DWORD outLength);

    DWORD lastError = 0;

  private:
    bool Control(DWORD code, const void* in = nullptr, DWORD inLength = 0, void* out = nullptr,
                 DWORD outLength = 0, DWORD* returned = nullptr);
    HANDLE handle = INVALID_HANDLE_VALUE;
};

namespace DriverService {
const char Name[] = LPT_SERVICE_NAME;
const char DisplayName[] = LPT_SERVICE_DISPLAY_NAME;

enum TPresence {
    Absent,          // no such service
    MarkedForDelete, // deleted, still loaded until stopped
    Registered,      // an ordinary service entry
    Unknown,         // the service manager could not be asked
};

// Tells what the service manager holds for "lptwdmio", without changing it for long: a probe
// that finds no service creates and deletes one in passing.
TPresence Probe(std::string& detail);
// Stops and deletes the service, waits until the device is gone. False with a reason.
bool Remove(std::string& reason);
// Creates (or reuses) and starts the service from `path`; waits until the device opens.
bool Install(const std::string& path, std::string& reason);
} // namespace DriverService
