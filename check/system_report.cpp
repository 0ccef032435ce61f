// Every function read here is looked up at run time: Windows XP lacks most of them, and the
// program must start there all the same (its import list stays XP's).
#include "check/system_report.h"

#include <cstdio>

namespace {

// SYSTEM_INFORMATION_CLASS SystemCodeIntegrityInformation and its answer.
const ULONG SystemCodeIntegrityInformation = 103;
struct TCodeIntegrityInformation {
    ULONG length; // in: the size of this structure
    ULONG options;
};
const DWORD CiEnabled = 0x01;  // CODEINTEGRITY_OPTION_ENABLED
const DWORD CiTestSign = 0x02; // CODEINTEGRITY_OPTION_TESTSIGN
const DWORD CiHvci = 0x400;    // CODEINTEGRITY_OPTION_HVCI_KMCI_ENABLED

// NTSTATUS values that mean "this Windows does not know that question".
const LONG StatusNotImplemented = static_cast<LONG>(0xC0000002);
const LONG StatusInvalidInfoClass = static_cast<LONG>(0xC0000003);

// RTL_OSVERSIONINFOW; the CSD text is UTF-16 on Windows.
struct TOsVersionInfo {
    ULONG size;
    ULONG major, minor, build, platform;
    unsigned short csd[128];
};

const DWORD FirmwareTypeBios = 1; // FIRMWARE_TYPE
const DWORD FirmwareTypeUefi = 2;

const char SecureBootKey[] = "SYSTEM\\CurrentControlSet\\Control\\SecureBoot\\State";
const char SecureBootValue[] = "UEFISecureBootEnabled";

bool Succeeded(LONG status) {
    return status >= 0;
}

const char* ArchitectureName(WORD machine) {
    switch (machine) {
    case MachineI386:
        return "x86";
    case MachineAmd64:
        return "x64";
    case MachineArm64:
        return "ARM64";
    default:
        return nullptr;
    }
}

// Why code integrity gave no answer, in a few words; empty when it did answer.
std::string CodeIntegrityUnknown(const TSystemFacts& facts) {
    if (!facts.ciQueried)
        return "unknown (ntdll has no NtQuerySystemInformation)";
    if (Succeeded(facts.ciStatus))
        return "";
    if (facts.ciStatus == StatusInvalidInfoClass || facts.ciStatus == StatusNotImplemented)
        return "unknown (this Windows does not report code integrity)";
    char text[80];
    snprintf(text, sizeof text, "unknown (code integrity query failed: status 0x%08lX)",
             static_cast<unsigned long>(static_cast<DWORD>(facts.ciStatus)));
    return text;
}

std::string WindowsLine(const TSystemFacts& facts) {
    const char* architecture = ArchitectureName(facts.machine);
    std::string arch = architecture ? architecture : "architecture unknown";
    if (!facts.versionRead)
        return "windows: unknown version (ntdll has no RtlGetVersion), " + arch;
    char text[64];
    snprintf(text, sizeof text, "windows: %lu.%lu.%lu ", static_cast<unsigned long>(facts.major),
             static_cast<unsigned long>(facts.minor), static_cast<unsigned long>(facts.build));
    return text + arch;
}

std::string TestSigningLine(const TSystemFacts& facts) {
    std::string unknown = CodeIntegrityUnknown(facts);
    if (!unknown.empty())
        return "test signing: " + unknown;
    if (!(facts.ciOptions & CiEnabled))
        return "test signing: unknown (code integrity is not active)";
    return facts.ciOptions & CiTestSign ? "test signing: on" : "test signing: off";
}

std::string SecureBootLine(const TSystemFacts& facts) {
    if (facts.firmware == TSystemFacts::FirmwareBios)
        return "secure boot: no UEFI";
    if (facts.secureBootValueRead)
        return facts.secureBootValue ? "secure boot: on" : "secure boot: off";
    if (facts.firmware == TSystemFacts::FirmwareUefi)
        return "secure boot: unknown (UEFI, but Windows records no Secure Boot state)";
    return "secure boot: unknown (neither the firmware type nor a Secure Boot state can be read)";
}

std::string MemoryIntegrityLine(const TSystemFacts& facts) {
    std::string unknown = CodeIntegrityUnknown(facts);
    if (!unknown.empty())
        return "memory integrity: " + unknown;
    return facts.ciOptions & CiHvci ? "memory integrity: on" : "memory integrity: off";
}

void ReadVersion(HMODULE ntdll, TSystemFacts& facts) {
    typedef LONG(WINAPI * TRtlGetVersion)(TOsVersionInfo*);
    TRtlGetVersion rtlGetVersion = EntryPoint<TRtlGetVersion>(ntdll, "RtlGetVersion");
    TOsVersionInfo info = {};
    info.size = sizeof info;
    if (rtlGetVersion && Succeeded(rtlGetVersion(&info))) {
        facts.versionRead = true;
        facts.major = info.major;
        facts.minor = info.minor;
        facts.build = info.build;
    }
}

void ReadCodeIntegrity(HMODULE ntdll, TSystemFacts& facts) {
    typedef LONG(WINAPI * TNtQuerySystemInformation)(ULONG, void*, ULONG, ULONG*);
    TNtQuerySystemInformation query =
        EntryPoint<TNtQuerySystemInformation>(ntdll, "NtQuerySystemInformation");
    if (!query)
        return;
    TCodeIntegrityInformation info = {sizeof info, 0};
    ULONG returned = 0;
    facts.ciQueried = true;
    facts.ciStatus = query(SystemCodeIntegrityInformation, &info, sizeof info, &returned);
    facts.ciOptions = info.options;
}

// GetFirmwareType where it exists (Windows 8 and later). Before that, a firmware variable that
// cannot exist is asked for: ERROR_INVALID_FUNCTION means a BIOS start, any other failure UEFI.
void ReadFirmware(TSystemFacts& facts) {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    typedef BOOL(WINAPI * TGetFirmwareType)(DWORD*);
    TGetFirmwareType getFirmwareType = EntryPoint<TGetFirmwareType>(kernel, "GetFirmwareType");
    DWORD type = 0;
    if (getFirmwareType && getFirmwareType(&type)) {
        if (type == FirmwareTypeBios)
            facts.firmware = TSystemFacts::FirmwareBios;
        else if (type == FirmwareTypeUefi)
            facts.firmware = TSystemFacts::FirmwareUefi;
        return;
    }
    typedef DWORD(WINAPI * TGetFirmwareVariable)(LPCSTR, LPCSTR, void*, DWORD);
    TGetFirmwareVariable getVariable =
        EntryPoint<TGetFirmwareVariable>(kernel, "GetFirmwareEnvironmentVariableA");
    if (!getVariable)
        return;
    BYTE buffer[4];
    SetLastError(0);
    if (getVariable("", "{00000000-0000-0000-0000-000000000000}", buffer, sizeof buffer) == 0)
        facts.firmware = GetLastError() == ERROR_INVALID_FUNCTION ? TSystemFacts::FirmwareBios
                                                                  : TSystemFacts::FirmwareUefi;
}

void ReadSecureBootState(TSystemFacts& facts) {
    HMODULE advapi = LoadLibraryA("ADVAPI32.DLL");
    if (!advapi)
        return;
    typedef LONG(WINAPI * TRegOpenKeyExA)(HKEY, LPCSTR, DWORD, DWORD, HKEY*);
    typedef LONG(WINAPI * TRegQueryValueExA)(HKEY, LPCSTR, DWORD*, DWORD*, BYTE*, DWORD*);
    typedef LONG(WINAPI * TRegCloseKey)(HKEY);
    TRegOpenKeyExA open = EntryPoint<TRegOpenKeyExA>(advapi, "RegOpenKeyExA");
    TRegQueryValueExA query = EntryPoint<TRegQueryValueExA>(advapi, "RegQueryValueExA");
    TRegCloseKey close = EntryPoint<TRegCloseKey>(advapi, "RegCloseKey");
    HKEY key = nullptr;
    if (open && query && close &&
        open(HKEY_LOCAL_MACHINE, SecureBootKey, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
        DWORD type = 0, value = 0, size = sizeof value;
        if (query(key, SecureBootValue, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) ==
                ERROR_SUCCESS &&
            type == REG_DWORD && size == sizeof value) {
            facts.secureBootValueRead = true;
            facts.secureBootValue = value;
        }
        close(key);
    }
    FreeLibrary(advapi);
}

} // namespace

TSystemFacts ReadSystemFacts(WORD nativeMachine) {
    TSystemFacts facts;
    facts.machine = nativeMachine;
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    if (ntdll) {
        ReadVersion(ntdll, facts);
        ReadCodeIntegrity(ntdll, facts);
    }
    ReadFirmware(facts);
    ReadSecureBootState(facts);
    return facts;
}

std::vector<std::string> SystemLines(const TSystemFacts& facts) {
    return {WindowsLine(facts), TestSigningLine(facts), SecureBootLine(facts),
            MemoryIntegrityLine(facts)};
}

bool TestSigningOff(const TSystemFacts& facts) {
    return facts.ciQueried && Succeeded(facts.ciStatus) && (facts.ciOptions & CiEnabled) &&
           !(facts.ciOptions & CiTestSign);
}

void LeadWithTestSigning(TDriverReport& report, const TSystemFacts& facts,
                         const std::string& signingAdvice) {
    bool is64Bit = facts.machine == MachineAmd64 || facts.machine == MachineArm64;
    if (!report.startFailed || report.ownCause || !is64Bit || !TestSigningOff(facts))
        return;
    report.reason = "test signing is off, so this 64-bit Windows loads no test-signed driver "
                    "such as LPTWDMIO.SYS; " +
                    report.reason;
    if (report.advice.empty() || report.advice == signingAdvice)
        report.advice = signingAdvice;
    else
        report.advice = signingAdvice + "\n" + report.advice;
}
