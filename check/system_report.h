// What this Windows says about itself that decides whether the port driver can load: its version
// and architecture, test signing, Secure Boot and memory integrity. Read before anyone reboots
// anything, and never guessed: what cannot be read is reported as unknown, with the reason.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "check/driver_report.h"

// The answers as Windows gave them; the lines below are made from these alone.
struct TSystemFacts {
    // RtlGetVersion
    bool versionRead = false;
    DWORD major = 0, minor = 0, build = 0;
    WORD machine = 0; // the architecture Windows runs on, as IMAGE_FILE_MACHINE_*; 0 unknown

    // NtQuerySystemInformation(SystemCodeIntegrityInformation)
    bool ciQueried = false; // false: ntdll has no NtQuerySystemInformation
    LONG ciStatus = 0;      // its NTSTATUS
    DWORD ciOptions = 0;    // CodeIntegrityOptions, when ciStatus is a success

    // Firmware: GetFirmwareType (Windows 8 and later), else the firmware-variable probe.
    enum TFirmware { FirmwareUnknown, FirmwareBios, FirmwareUefi } firmware = FirmwareUnknown;
    // HKLM\SYSTEM\CurrentControlSet\Control\SecureBoot\State, UEFISecureBootEnabled
    bool secureBootValueRead = false;
    DWORD secureBootValue = 0;
};

TSystemFacts ReadSystemFacts(WORD nativeMachine);

// The four report lines, in this order: "windows: 10.0.22631 x64", "test signing: on",
// "secure boot: no UEFI", "memory integrity: off"; each may read "...: unknown (<why>)".
std::vector<std::string> SystemLines(const TSystemFacts& facts);

// True when Windows answered that test signing is off: a test-signed driver cannot load.
bool TestSigningOff(const TSystemFacts& facts);

// When this 64-bit Windows runs without test signing and Windows refused to start the driver
// (a refused signature, or a failure with no cause of its own such as a missing file), the
// report names that first, before the error, and puts the way to switch it on first in its
// advice.
void LeadWithTestSigning(TDriverReport& report, const TSystemFacts& facts,
                         const std::string& signingAdvice);
