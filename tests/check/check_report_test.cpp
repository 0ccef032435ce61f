// What kavit-check prints: the system's answers as report lines, the port line when another
// program holds the port, the live view's pace and its picture in an 80 x 25 console.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "check/pad_view.h"
#include "check/port_report.h"
#include "check/system_report.h"
#include "tests/fake/fake_win32.h"

namespace {

typedef std::vector<std::string> Strings;

const WORD X86 = 0x014C, X64 = 0x8664;
const LONG InvalidInfoClass = static_cast<LONG>(0xC0000003);
const LONG AccessDenied = static_cast<LONG>(0xC0000022);

TSystemFacts Facts(DWORD major, DWORD minor, DWORD build, WORD machine) {
    TSystemFacts facts;
    facts.versionRead = true;
    facts.major = major;
    facts.minor = minor;
    facts.build = build;
    facts.machine = machine;
    return facts;
}

TSystemFacts CodeIntegrity(TSystemFacts facts, LONG status, DWORD options) {
    facts.ciQueried = true;
    facts.ciStatus = status;
    facts.ciOptions = options;
    return facts;
}

TSystemFacts Firmware(TSystemFacts facts, TSystemFacts::TFirmware firmware, int secureBoot = -1) {
    facts.firmware = firmware;
    facts.secureBootValueRead = secureBoot >= 0;
    facts.secureBootValue = secureBoot >= 0 ? static_cast<DWORD>(secureBoot) : 0;
    return facts;
}

TEST(SystemReport, EachAnswerBecomesItsLine) {
    const TSystemFacts none;
    struct Row {
        TSystemFacts facts;
        Strings lines;
    } rows[] = {
        {Firmware(CodeIntegrity(Facts(10, 0, 22631, X64), 0, 0x01), TSystemFacts::FirmwareUefi, 1),
         {"windows: 10.0.22631 x64", "test signing: off", "secure boot: on",
          "memory integrity: off"}},
        {Firmware(CodeIntegrity(Facts(10, 0, 19045, X64), 0, 0x403), TSystemFacts::FirmwareUefi, 0),
         {"windows: 10.0.19045 x64", "test signing: on", "secure boot: off",
          "memory integrity: on"}},
        // A BIOS start says "no UEFI" whatever the registry holds.
        {Firmware(CodeIntegrity(Facts(6, 1, 7601, X86), 0, 0x03), TSystemFacts::FirmwareBios, 1),
         {"windows: 6.1.7601 x86", "test signing: on", "secure boot: no UEFI",
          "memory integrity: off"}},
        // Windows XP: no code integrity to ask.
        {Firmware(CodeIntegrity(Facts(5, 1, 2600, X86), InvalidInfoClass, 0),
                  TSystemFacts::FirmwareBios),
         {"windows: 5.1.2600 x86",
          "test signing: unknown (this Windows does not report code integrity)",
          "secure boot: no UEFI",
          "memory integrity: unknown (this Windows does not report code integrity)"}},
        // Code integrity answers but does not run; UEFI without a recorded state.
        {Firmware(CodeIntegrity(Facts(6, 2, 9200, X64), 0, 0), TSystemFacts::FirmwareUefi),
         {"windows: 6.2.9200 x64", "test signing: unknown (code integrity is not active)",
          "secure boot: unknown (UEFI, but Windows records no Secure Boot state)",
          "memory integrity: off"}},
        {CodeIntegrity(none, AccessDenied, 0x03),
         {"windows: unknown version (ntdll has no RtlGetVersion), architecture unknown",
          "test signing: unknown (code integrity query failed: status 0xC0000022)",
          "secure boot: unknown (neither the firmware type nor a Secure Boot state can be read)",
          "memory integrity: unknown (code integrity query failed: status 0xC0000022)"}},
        {none,
         {"windows: unknown version (ntdll has no RtlGetVersion), architecture unknown",
          "test signing: unknown (ntdll has no NtQuerySystemInformation)",
          "secure boot: unknown (neither the firmware type nor a Secure Boot state can be read)",
          "memory integrity: unknown (ntdll has no NtQuerySystemInformation)"}},
    };
    for (const Row& row : rows)
        EXPECT_EQ(SystemLines(row.facts), row.lines);
}

TEST(SystemReport, TestSigningOffLeadsTheDiagnosisOnlyOn64BitWindows) {
    const std::string signing = "run bcdedit /set testsigning on";
    const TDriverReport failed{false, "the driver did not start", "other advice", 31, true, false};
    TDriverReport beforeStart = failed; // the file is missing, or it is not a driver for here
    beforeStart.startFailed = false;
    auto afterStart = [](TDriverReport report) {
        report.startFailed = true;
        return report;
    };
    const TSystemFacts off = CodeIntegrity(Facts(10, 0, 22631, X64), 0, 0x01);
    struct Row {
        TSystemFacts facts;
        TDriverReport report;
        bool leads;
    } rows[] = {
        {off, failed, true},
        {off, afterStart(StartFailed(577, X64)), true},         // the signature
        {off, afterStart(StartFailed(2, X64)), false},          // a cause of its own
        {off, afterStart(StartFailed(4551, X64)), false},       // a policy
        {off, afterStart(StartFailed(0x800B010C, X64)), false}, // a revoked certificate
        {off, beforeStart, false},
        {off, TDriverReport{true, "ok", "", 0, false, false}, false},
        {CodeIntegrity(Facts(10, 0, 22631, X64), 0, 0x03), failed, false},
        {CodeIntegrity(Facts(10, 0, 19045, X86), 0, 0x01), failed, false},
        {CodeIntegrity(Facts(5, 2, 3790, X64), InvalidInfoClass, 0), failed, false},
    };
    for (const Row& row : rows) {
        TDriverReport report = row.report;
        LeadWithTestSigning(report, row.facts, signing);
        if (!row.leads) {
            EXPECT_EQ(report.reason, row.report.reason);
            EXPECT_EQ(report.advice, row.report.advice);
            continue;
        }
        EXPECT_EQ(report.reason.find("test signing is off"), 0u) << report.reason;
        EXPECT_EQ(report.reason.substr(report.reason.size() - row.report.reason.size()),
                  row.report.reason);
        EXPECT_EQ(report.advice, signing + "\n" + row.report.advice);
        EXPECT_EQ(report.code, row.report.code);
    }
}

// The words for a driver Windows 11 keeps out: 577 leads with test signing only where 64-bit
// Windows has it off (the table above), otherwise, like 4551 and 0x800B010C, with the
// CodeIntegrity log; no advice line, as printed, runs past 79 columns.
TEST(DriverReport, BlockedDriversAreToldByTheirOwnCause) {
    const TSystemFacts on = CodeIntegrity(Facts(10, 0, 22631, X64), 0, 0x03);
    const std::pair<DWORD, std::string> rows[] = {
        {577, "Windows refused the driver's signature"},
        {4551, "a Windows policy blocked the driver"},
        {0x800B010C, "Windows counts the certificate the driver is signed with as revoked"}};
    for (const auto& [code, reason] : rows) {
        TDriverReport report = StartFailed(code, X64);
        report.startFailed = true;
        LeadWithTestSigning(report, on, SignatureAdvice(X64));
        EXPECT_EQ(report.reason, reason);
        EXPECT_EQ(report.advice.find("Event Viewer names the rule"), 0u) << report.advice;
        for (const std::string& line : IndentedLines(report.advice))
            EXPECT_LE(line.size(), 79u) << line;
    }
}

// Windows' own error numbers, as the service manager answers them, each told by its cause.
TEST(DriverReport, StartErrorsAreToldByTheirCause) {
    const std::pair<DWORD, std::string> rows[] = {
        {193, "the driver is built for another kind of Windows"},
        {216, "the driver is built for another kind of Windows"},
        {1058, "the service lptwdmio is disabled"},
        {1072, "the service lptwdmio is marked for deletion"},
        {1275, "Windows blocked the driver"}};
    for (const auto& [code, reason] : rows)
        EXPECT_EQ(StartFailed(code, X64).reason, reason) << "error " << code;
}

// ---- the port
// ------------------------------------------------------------------------------------

HANDLE const Device = reinterpret_cast<HANDLE>(0xD1);

TEST(PortReport, APortAnotherHandleHoldsIsNamedAsInUse) {
    fake::Reset();
    fake::on.CreateFileA = [](LPCSTR name, DWORD a, DWORD s, LPSECURITY_ATTRIBUTES sa, DWORD d,
                              DWORD f, HANDLE t) {
        if (std::string(name) == fake::DevicePath)
            return Device;
        return fake::Defaults().CreateFileA(name, a, s, sa, d, f, t);
    };
    // LPT1 is held by another handle; LPT2 and LPT3 are not there. The driver counts no handles.
    fake::on.DeviceIoControl = [](HANDLE, DWORD code, LPVOID in, DWORD, LPVOID, DWORD, LPDWORD,
                                  LPOVERLAPPED) {
        const PortIoPair* pairs = static_cast<const PortIoPair*>(in);
        bool lpt1 = code != IoctlOpenHandles && LPT_ADDRESS_PORT(pairs[0].address) == 1;
        SetLastError(lpt1 ? ERROR_BUSY : ERROR_INVALID_FUNCTION);
        return FALSE;
    };
    TLptPortConnection connection;
    PortCode present = FirstPresent(connection);
    EXPECT_EQ(present, 0);
    PortCode busy = BusyPort(connection);
    EXPECT_EQ(busy, PortLpt1);
    EXPECT_EQ(PortLine(present, busy), "port: LPT1 in use by another program");
    EXPECT_EQ(PortLine(0, 0), "port: none");
}

TEST(PortReport, ReasonsForAStopThatFitBetterThanTheErrorText) {
    EXPECT_NE(PortStoppedReason(ERROR_ACCESS_DENIED, false).find("driver went away"),
              std::string::npos);
    EXPECT_NE(PortStoppedReason(ERROR_BUSY, true).find("another program"), std::string::npos);
    EXPECT_EQ(PortStoppedReason(ERROR_ACCESS_DENIED, true), "");
}

// The view reads at Kavit's own pace, at least every 100 ms; each odd Interval is told as what
// it really does.
TEST(PortReport, TheViewKeepsKavitsPaceAndOddIntervalsAreToldAsTheyAre) {
    struct Row {
        DWORD interval, period;
        const char* told;
    } rows[] = {
        {0, 10, "Kavit reads the pads every 10 ms, as with Interval=10"},
        {1, 1, ""},
        {10, 10, ""},
        {100, 100, ""},
        {1000, 100, ""},
        {1001, 100, "only every 1.0 s"},
        {4294967291u, 100,
         "(a negative number reads as this): Kavit reads the pads only every "
         "2147483.6 s"}, // Interval=-5
    };
    for (const Row& row : rows) {
        EXPECT_EQ(ViewPeriodMs(row.interval), row.period) << row.interval;
        std::string told = IntervalWarning(row.interval);
        EXPECT_EQ(told.empty(), !*row.told) << told;
        EXPECT_NE(told.find(row.told), std::string::npos) << told;
    }
}

// Passes and the longest gap of the last second, passes before it forgotten.
TEST(PadView, ThePaceLineCountsTheLastSecond) {
    struct Row {
        std::vector<double> passes;
        DWORD interval;
        const char* line;
    } rows[] = {
        {{}, 10, "pace: measuring (Interval=10)"},
        {{0, 10, 20, 30.5, 40}, 10, "pace: 100/s, longest gap 10.5 ms (Interval=10)"},
        {{0, 1000, 1001, 1950}, 1, "pace: 2/s, longest gap 949.0 ms (Interval=1)"},
    };
    for (const Row& row : rows) {
        TPaceMeter meter;
        for (double ms : row.passes)
            CountPass(meter, ms);
        EXPECT_EQ(PaceLine(meter, row.interval), row.line);
    }
}

// ---- the live view
// -------------------------------------------------------------------------------

Strings Lines(const std::string& text) {
    Strings lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

TEST(PadView, TheFrameFitsAn80By25ConsoleWithNothingCutOff) {
    fake::Reset();
    // The longest names a keyboard layout gives in practice.
    fake::on.GetKeyNameTextA = [](LONG lParam, LPSTR name, int size) {
        const char* text = (lParam >> 16 & 0xFF) == 0x5C ? "Right Windows" : "Num Enter Very Long";
        snprintf(name, static_cast<size_t>(size), "%s", text);
        return static_cast<int>(strlen(name));
    };
    TCodes preset;
    preset.caption = std::string(70, 'C');
    for (int i = 0; i < ButtonsPerPad; ++i) {
        preset.name1[i] = "Pad1Label" + std::to_string(100 + i); // 12 characters
        preset.name2[i] = "Pad2Label" + std::to_string(100 + i);
        preset.vk1[i] = 92;
        preset.scan1[i] = 0x5C; // "Right Windows": its name and "(vk 92)" fit together
        preset.vk2[i] = 255;
        preset.scan2[i] = 0x1C; // the long name leaves no room for the code
    }
    TPadReading reading;
    for (int pad = 0; pad < PadCount; ++pad)
        for (int button = 0; button < ButtonsPerPad; ++button)
            reading.held[pad][button] = true;
    for (const TCodes* keys :
         {static_cast<const TCodes*>(&preset), static_cast<const TCodes*>(nullptr)}) {
        TViewSetup setup;
        setup.port = PortLpt1;
        setup.interval = 4294967291u;
        setup.preset = keys;
        setup.verdicts = "driver: ok, port: LPT1, folder: " + std::string(70, 'F');
        std::string frame = Frame(setup, reading);
        Strings lines = Lines(frame);
        EXPECT_EQ(static_cast<int>(lines.size()), FrameLines());
        EXPECT_LE(lines.size(), 24u) << "the cursor below the frame needs the 25th row";
        for (const std::string& line : lines)
            EXPECT_LE(line.size(), 79u) << line;
        EXPECT_EQ(lines[0].find("driver: ok, port: LPT1, folder: FFF"), 0u) << lines[0];
        EXPECT_EQ(lines[1].find("LPT1 every 100 ms"), 0u) << lines[1];
        if (!keys)
            continue;
        EXPECT_NE(lines[1].find("CCC...\""), std::string::npos) << lines[1];
        for (int i = 0; i < ButtonsPerPad; ++i) {
            EXPECT_NE(frame.find(preset.name1[i] + " Right Windows (vk 92)"), std::string::npos)
                << preset.name1[i];
            EXPECT_NE(frame.find(preset.name2[i] + " Num Enter Very Long"), std::string::npos)
                << preset.name2[i];
        }
    }
}

// ---- what README and help.htm show of it
// ----------------------------------------------------------------

// A sample in a document: the lines between `from` and `to`, each without its indent and the
// explanation that follows two blanks, each ended by a line feed.
std::string Sample(const char* path, const std::string& from, const std::string& to) {
    std::ifstream file(path, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << path << ": " << from;
    at = at == std::string::npos ? text.size() : at + from.size();
    std::istringstream in(text.substr(at, text.find(to, at) - at));
    std::string sample;
    for (std::string line; std::getline(in, line);) {
        line.erase(0, line.find_first_not_of(' '));
        if (!line.empty())
            sample += line.substr(0, line.find("  ")) + "\n";
    }
    return sample;
}

// README's and help.htm's samples of --once are lines kavit-check prints for such a PC, in its
// order, and README counts them right.
TEST(Documents, SamplesOfOnceAreWhatKavitCheckPrints) {
    TPadReading reading;
    reading.held[0][2] = reading.held[1][11] = true;
    const TSystemFacts facts =
        Firmware(CodeIntegrity(Facts(10, 0, 22631, X64), 0, 0x401), TSystemFacts::FirmwareUefi, 1);
    std::string printed = "\n";
    for (const std::string& line :
         OnceLines(TDriverReport{true, "ok", "", 0, false, false}, PortLpt1, 0, HeldList(reading),
                   SystemLines(facts), "folder: safe"))
        printed += line + "\n";
    const char* const words[] = {"", "", "", "", "", "", "six", "seven", "eight", "nine", "ten"};
    EXPECT_EQ(Sample(KAVIT_README, "kavit-check --once     the report as ", " lines"),
              std::string(words[std::count(printed.begin(), printed.end(), '\n') - 1]) + "\n");
    for (const std::string& sample :
         {Sample(KAVIT_README, "`kavit-check --once` prints\n\n", "\n\n"),
          Sample(KAVIT_HELP_HTM, "restart anything:</p>\n<pre>", "</pre>"),
          Sample(KAVIT_HELP_HTM, "prints</p>\n<pre>", "</pre>")})
        EXPECT_NE(printed.find("\n" + sample), std::string::npos) << sample;
}

} // namespace
