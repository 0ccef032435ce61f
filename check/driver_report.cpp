// Why the port driver did not load. The driver service is installed and started as Kavit.exe
// does it and keeps only the error of the start; the rest is found out here: the file beside the
// program, its machine type against this Windows', and whether the service manager lets us in.
#include "check/driver_report.h"

#include <cstdio>

#include "common/program_dir.h"

namespace {

// Service-manager answers that have a plain meaning for the user go by Windows' names; MinGW's
// winerror.h lacks two of them. Windows 11 stops a driver that the vulnerable driver blocklist or
// an App Control policy names with the policy violation or a revoked certificate too.
#ifndef ERROR_INVALID_IMAGE_HASH
#define ERROR_INVALID_IMAGE_HASH 577L // the signature was refused
#endif
#ifndef ERROR_SYSTEM_INTEGRITY_POLICY_VIOLATION
#define ERROR_SYSTEM_INTEGRITY_POLICY_VIOLATION 4551L
#endif
const DWORD ErrorCertRevoked = static_cast<DWORD>(CERT_E_REVOKED); // an HRESULT, negative

// Where Windows says which rule kept a driver out.
const char CodeIntegrityLog[] =
    "Event Viewer names the rule that blocked it: Applications and Services Logs > Microsoft > "
    "Windows > CodeIntegrity > Operational.";

bool FileExists(const std::string& path, DWORD& error) {
    if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES)
        return true;
    error = GetLastError();
    return false;
}

std::string DirectoryOf(const std::string& path) {
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

TDriverReport Failed(const std::string& reason, const std::string& advice, DWORD code) {
    TDriverReport report;
    report.reason = reason;
    report.advice = advice;
    report.code = code;
    return report;
}

const char NotAdminAdvice[] =
    "Open a command prompt with \"Run as administrator\" and start kavit-check there (on Windows "
    "XP, log on as an administrator). Kavit.exe asks for these rights itself.";

} // namespace

std::string SignatureAdvice(WORD native) {
    if (native == MachineI386)
        return "32-bit Windows loads unsigned drivers unless a policy forbids it: ask whoever "
               "set up this computer.";
    return "64-bit Windows loads only drivers signed for it; this one is test-signed. With "
           "BitLocker or device encryption on, first keep the recovery key at hand and suspend "
           "it. Then, in an administrator prompt, run\n"
           "    bcdedit /set testsigning on\n"
           "and restart Windows (if bcdedit refuses, switch Secure Boot off in the firmware "
           "settings first). help.htm, \"Before you start\", has every step and its undoing. Or, "
           "for one start of Windows only: hold Shift while choosing "
           "Restart, then Troubleshoot > Advanced options > Startup Settings > \"Disable driver "
           "signature enforcement\" (F8 at start-up on Windows Vista and 7).";
}

namespace {

// A reason that test signing does not explain: the file, the rights, the service's state, a
// block list.
TDriverReport OwnCause(const std::string& reason, const std::string& advice, DWORD code) {
    TDriverReport report = Failed(reason, advice, code);
    report.ownCause = true;
    return report;
}

} // namespace

TDriverReport StartFailed(DWORD error, WORD native) {
    switch (error) {
    case ERROR_ACCESS_DENIED:
        return OwnCause("not running as an administrator: the driver may not be started",
                        NotAdminAdvice, error);
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return OwnCause("Windows cannot find the driver file LPTWDMIO.SYS",
                        "Put LPTWDMIO.SYS beside kavit-check.exe and Kavit.exe.", error);
    case ERROR_INVALID_IMAGE_HASH:
        // With test signing off on 64-bit Windows, that is named first (LeadWithTestSigning).
        return Failed("Windows refused the driver's signature",
                      std::string(CodeIntegrityLog) +
                          " If test signing is on, sign the driver again on this PC with "
                          "signtool (help.htm, \"Driver signing\"); a policy such as the "
                          "Microsoft Vulnerable Driver Blocklist or App Control may refuse it "
                          "too.",
                      error);
    case ERROR_SYSTEM_INTEGRITY_POLICY_VIOLATION:
        return OwnCause("a Windows policy blocked the driver",
                        std::string(CodeIntegrityLog) +
                            " It is the Microsoft Vulnerable Driver Blocklist (Windows Security "
                            "> Device security > Core isolation), or an App Control policy: ask "
                            "whoever manages this PC.",
                        error);
    case ErrorCertRevoked:
        return OwnCause("Windows counts the certificate the driver is signed with as revoked",
                        std::string(CodeIntegrityLog) +
                            " Sign the driver again with a certificate of this PC's own: "
                            "help.htm, \"Driver signing\", has the steps.",
                        error);
    case ERROR_BAD_EXE_FORMAT:
    case ERROR_EXE_MACHINE_TYPE_MISMATCH:
        return OwnCause("the driver is built for another kind of Windows",
                        std::string("Use the LPTWDMIO.SYS built for ") + MachineName(native) +
                            " Windows.",
                        error);
    case ERROR_SERVICE_MARKED_FOR_DELETE:
        return OwnCause("the service lptwdmio is marked for deletion",
                        "Close the other program that holds the driver (Kavit or kavit-check) "
                        "first, then try again: the service goes once the last of them has let go "
                        "of the driver. Restart Windows only if it stays.",
                        error);
    case ERROR_SERVICE_DISABLED:
        return OwnCause("the service lptwdmio is disabled",
                        "Remove it in an administrator prompt with\n"
                        "    sc delete lptwdmio\n"
                        "and try again.",
                        error);
    case ERROR_DRIVER_BLOCKED:
        return OwnCause("Windows blocked the driver",
                        std::string(CodeIntegrityLog) +
                            " Then look at the Microsoft Vulnerable Driver Blocklist (Windows "
                            "Security > Device security > Core isolation) and any App Control "
                            "policy. Memory integrity alone does not keep this driver out: leave "
                            "it on.",
                        error);
    case ERROR_SERVICE_ALREADY_RUNNING:
        return OwnCause("the service lptwdmio runs, but its device " LPT_USER_PATH " does not "
                        "open",
                        "Another driver may be registered under the name lptwdmio: in an "
                        "administrator prompt, \"sc qc lptwdmio\" shows its file.",
                        error);
    default:
        return Failed("the driver did not start", "", error);
    }
}

namespace {

// Without a service the installation stopped before creating one: most often the service manager
// turned us away. Asked again here.
TDriverReport NoService() {
    DWORD error = 0;
    if (!ServiceManagerOpens(error)) {
        if (error == 0)
            return Failed("this Windows offers no service manager for the driver", "", 0);
        if (error == ERROR_ACCESS_DENIED)
            return Failed("not running as an administrator: the driver service cannot be "
                          "installed",
                          NotAdminAdvice, error);
        return Failed("the service manager cannot be opened", "", error);
    }
    return Failed("the service lptwdmio could neither be created nor opened",
                  "In an administrator prompt, \"sc query lptwdmio\" shows what is there.", 0);
}

} // namespace

std::string FolderLine(const TLptPortConnection& connection) {
    if (!connection.isNT)
        return "folder: not judged, Windows 9x keeps no access rights";
    TDriverPlace place = JudgeDriverPlace(ProgramDirectory());
    return "folder: " + (place.verdict == PlaceSafe ? std::string("safe") : place.reason);
}

std::string DriverLine(const TDriverReport& report) {
    if (report.ok || report.code == 0)
        return report.reason;
    return report.reason + " (" + ErrorText(report.code) + ")";
}

std::vector<std::string> IndentedLines(const std::string& text) {
    const size_t width = 79;
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string paragraph = text.substr(start, end - start);
        // A paragraph's own indent (a command to type) stays on each of its lines.
        size_t pos = paragraph.find_first_not_of(' ');
        if (pos == std::string::npos)
            pos = paragraph.size();
        const std::string indent = "    " + paragraph.substr(0, pos);
        std::string line = indent;
        while (pos < paragraph.size()) {
            size_t wordEnd = paragraph.find(' ', pos);
            if (wordEnd == std::string::npos)
                wordEnd = paragraph.size();
            size_t length = wordEnd - pos;
            if (line.size() > indent.size() && line.size() + 1 + length > width) {
                lines.push_back(line);
                line = indent;
            }
            if (line.size() > indent.size())
                line += ' ';
            line += paragraph.substr(pos, length);
            pos = paragraph.find_first_not_of(' ', wordEnd);
            if (pos == std::string::npos)
                break;
        }
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

std::string ErrorText(DWORD code) {
    char text[512] = "";
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, 0, text, sizeof text, nullptr);
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' ||
                          text[length - 1] == ' ' || text[length - 1] == '.'))
        text[--length] = 0;
    char number[32];
    snprintf(number, sizeof number, "error %lu", static_cast<unsigned long>(code));
    return length ? std::string(number) + ": " + text : std::string(number);
}

WORD NativeMachine() {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    // Windows 10 1511 and later name the machine itself (an x86 program on ARM64 included).
    typedef BOOL(WINAPI * TIsWow64Process2)(HANDLE, USHORT*, USHORT*);
    TIsWow64Process2 isWow64Process2 = EntryPoint<TIsWow64Process2>(kernel, "IsWow64Process2");
    USHORT process = 0, native = 0;
    if (isWow64Process2 && isWow64Process2(GetCurrentProcess(), &process, &native) && native)
        return native;
#ifdef _WIN64
    return MachineAmd64;
#else
    // Looked up at run time: older systems than XP SP2 lack it.
    typedef BOOL(WINAPI * TIsWow64Process)(HANDLE, PBOOL);
    TIsWow64Process isWow64Process = EntryPoint<TIsWow64Process>(kernel, "IsWow64Process");
    BOOL wow64 = FALSE;
    if (isWow64Process && isWow64Process(GetCurrentProcess(), &wow64) && wow64)
        return MachineAmd64;
    return MachineI386;
#endif
}

bool ReadFileMachine(const std::string& path, WORD& machine) {
    machine = 0;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    unsigned char head[4096];
    DWORD got = 0;
    BOOL read = ReadFile(file, head, sizeof head, &got, nullptr);
    CloseHandle(file);
    if (!read)
        return false;
    // "MZ", the offset of the PE header at 0x3C, there "PE\0\0" and the machine word.
    if (got < 0x40 || head[0] != 'M' || head[1] != 'Z')
        return true;
    DWORD pe =
        head[0x3C] | head[0x3D] << 8 | head[0x3E] << 16 | static_cast<DWORD>(head[0x3F]) << 24;
    if (pe > got - 6 || head[pe] != 'P' || head[pe + 1] != 'E' || head[pe + 2] || head[pe + 3])
        return true;
    machine = static_cast<WORD>(head[pe + 4] | head[pe + 5] << 8);
    return true;
}

const char* MachineName(WORD machine) {
    switch (machine) {
    case MachineI386:
        return "32-bit (x86)";
    case MachineAmd64:
        return "64-bit (x64)";
    case MachineArm64:
        return "ARM64";
    default:
        return "unknown";
    }
}

TDriverReport DiagnoseDriver(TLptPortConnection& connection) {
    const TDriverService& service = DriverService();
    if (connection.deviceHandle != INVALID_HANDLE_VALUE) {
        TDriverReport report;
        report.ok = true;
        report.reason = "ok";
        return report;
    }
    if (!connection.isNT) {
        TDriverReport report;
        report.ok = connection.IsOpen();
        report.reason = "not needed: direct port access (Windows 9x)";
        return report;
    }

    if (service.driverPlace.verdict == PlaceUnsafe)
        return Failed("not loaded, because " + service.driverPlace.reason,
                      "Other users of this PC could change Kavit's driver there. Move Kavit "
                      "(all its files) into a folder that only administrators can change, such "
                      "as " +
                          std::string(SafeFolderExample) + ".",
                      0);

    std::string path = service.driverPath;
    if (path.empty())
        path = ProgramDirectory() + DriverFileName;
    DWORD error = 0;
    if (!FileExists(path, error))
        return Failed("the driver file LPTWDMIO.SYS is missing from " + DirectoryOf(path),
                      "Put LPTWDMIO.SYS beside kavit-check.exe and Kavit.exe.", error);

    WORD native = NativeMachine();
    WORD file = 0;
    bool readable = ReadFileMachine(path, file);
    if (readable && file == 0)
        return Failed("LPTWDMIO.SYS is no driver: the file is not a Windows program image",
                      "Put the real LPTWDMIO.SYS from the Kavit package beside the programs.",
                      service.serviceStartError);
    if (file && file != native) {
        std::string reason = std::string("LPTWDMIO.SYS is a ") + MachineName(file) +
                             " driver, but this Windows is " + MachineName(native);
        return Failed(reason,
                      std::string("Use the LPTWDMIO.SYS built for ") + MachineName(native) +
                          " Windows: the " + (native == MachineI386 ? "32" : "64") +
                          "-bit package (" + (native == MachineI386 ? "win32" : "win64") +
                          " zip) holds it, with the Kavit.exe that goes with it.",
                      service.serviceStartError);
    }

    // A service left behind that could not be pointed at our file was not started.
    if (service.serviceConfigError)
        return StartFailed(service.serviceConfigError, native);
    if (!service.serviceInstalled)
        return NoService();
    if (service.serviceStartError) {
        TDriverReport report = StartFailed(service.serviceStartError, native);
        report.startFailed = true;
        return report;
    }

    // Started, yet no device: ask the device itself why.
    HANDLE device = OpenLptDevice();
    error = GetLastError();
    if (device != INVALID_HANDLE_VALUE)
        CloseHandle(device);
    return Failed("the driver started, but its device " LPT_USER_PATH " does not open",
                  "LPTWDMIO.SYS may be another driver of that name, not the port-access driver.",
                  error);
}
