// kavit-check: tells why the port driver does not load, which ports answer, and shows both pads
// live while they are wired. Reaches the port exactly as Kavit.exe does (the same connection,
// the same driver service, the scanner's own pass over the pads) and sends no key events.
//
//   kavit-check            report, then the live view until Esc or Ctrl-C
//   kavit-check --once     report as three lines for scripts; exit status 0 when fine
//   kavit-check --help
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "check/driver_report.h"
#include "check/pad_view.h"
#include "check/port_report.h"
#include "check/system_report.h"
#include "common/notice.h"
#include "common/program_state.h"
#include "common/tick_source.h"
#include "lptio/driver_service.h"
#include "lptio/lptio.h"
#include "settings/presets.h"
#include "settings/program_presets.h"
#include "settings/settings.h"

namespace {

const DWORD DefaultInterval = 10; // ms, when there is no Kavit.ini to take it from

// Closing the console window ends the process soon after the handler returns (about five
// seconds later on current Windows): the handler waits at most this long for the clean-up.
const DWORD CleanUpWaitMs = 4000;

const char HelpText[] =
    "kavit-check: why the game pad port does not work, and both pads live.\n"
    "\n"
    "  kavit-check          report, then both pads live until Esc or Ctrl-C\n"
    "  kavit-check --once   one report for scripts, then exit\n"
    "  kavit-check --help   this text\n"
    "\n"
    "Keep it beside Kavit.exe, LPTWDMIO.SYS and Kavit.ini, and start it from a command prompt\n"
    "opened with \"Run as administrator\". Close Kavit.exe first: both reading the pads at once\n"
    "confuse each other. A Kavit.exe started while kavit-check runs finds the port\n"
    "in use: it says so in its tray tip, looks again every second, and reads the\n"
    "pads as soon as kavit-check has ended.\n"
    "\n"
    "Driver: it opens the port driver's device; when that fails it installs and starts the\n"
    "service \"lptwdmio\" from LPTWDMIO.SYS as Kavit.exe does, says in plain words why the\n"
    "driver did not load and what to do, and removes the service again when it ends (Ctrl-C\n"
    "and closing the window included) unless another program such as Kavit.exe still holds\n"
    "the driver. It loads the driver only from a folder that only administrators can change.\n"
    "Ports: it runs the presence test on LPT1, LPT2 and LPT3; Kavit.exe uses the first that\n"
    "answers.\n"
    "Live view: for both pads, every button held or not with the key the current preset of\n"
    "Kavit.ini sends for it, and the status byte read in each of the six select steps, so that\n"
    "a missing diode or a swapped wire shows. Read at Kavit's own pace for the Interval of\n"
    "Kavit.ini (10 ms without one), but at least every 100 ms, with the pace this PC keeps:\n"
    "\"pace: 100/s, longest gap 10.4 ms\". It sends no key events. It ends by itself when\n"
    "its output can no longer be written (kavit-check | more, then q).\n"
    "\n"
    "--once prints these lines:\n"
    "  driver: ok            or  driver: <why it does not load> (error N: ...)\n"
    "  port: LPT1            the port Kavit.exe would use: LPT1, LPT2, LPT3 or none, or\n"
    "                        \"LPT1 in use by another program\" (a running Kavit.exe, say)\n"
    "  held: 1:3 2:12        the held buttons as pad:button, nothing after \"held:\" when none\n"
    "  windows: 10.0.22631 x64           version and the architecture Windows runs on\n"
    "  test signing: on|off              off: 64-bit Windows loads no test-signed driver\n"
    "  secure boot: on|off|no UEFI\n"
    "  memory integrity: on|off\n"
    "  each of these four may be \"unknown (<why>)\" where Windows does not tell.\n"
    "  folder: safe          or  folder: <who else may change the driver there>\n"
    "Exit status: 0 when the driver and a port answer, 1 otherwise, 2 for a bad argument.\n";

// ---- ending from the console -----------------------------------------------------------------
// Ctrl-C, Ctrl-Break and closing the window arrive on a thread of their own. The handler only
// asks the main thread to stop and, when the process is about to be ended for it, waits until
// the main thread has removed the driver service.

HANDLE stopRequested = nullptr; // manual reset: set once, seen by every wait
HANDLE cleanedUp = nullptr;     // set after the connection is gone

BOOL WINAPI OnConsoleEvent(DWORD event) {
    SetEvent(stopRequested);
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT)
        WaitForSingleObject(cleanedUp, CleanUpWaitMs);
    return TRUE;
}

bool StopRequested() {
    return WaitForSingleObject(stopRequested, 0) == WAIT_OBJECT_0;
}

// ---- report ------------------------------------------------------------------------------------

void PrintIndented(const std::string& text) {
    for (const std::string& line : IndentedLines(text))
        printf("%s\n", line.c_str());
}

void PrintReport(const TLptPortConnection& connection, const TDriverReport& driver, PortCode busy,
                 const std::vector<std::string>& systemLines, const TViewSetup& setup,
                 const std::string& settingsNote) {
    printf("driver: %s\n", DriverLine(driver).c_str());
    if (!driver.advice.empty())
        PrintIndented(driver.advice);
    printf("%s\n", FolderLine(connection).c_str());
    if (FindWindowA(MainWindowClassName, MainWindowTitle))
        PrintIndented("Kavit.exe is running: close it, or the port it holds is in use for "
                      "kavit-check.");
    if (driver.ok) {
        const PortCode codes[] = {PortLpt1, PortLpt2, PortLpt3};
        const bool present[] = {connection.lpt1Present, connection.lpt2Present,
                                connection.lpt3Present};
        for (int i = 0; i < 3; ++i)
            printf("%s: %s\n", PortName(codes[i]),
                   present[i]         ? "answers"
                   : codes[i] == busy ? "in use by another program"
                                      : "no answer");
    }
    PortCode port = FirstPresent(connection);
    printf("%s%s\n", PortLine(port, busy).c_str(), port ? " (the one Kavit.exe uses)" : "");
    if (busy && !port)
        PrintIndented("Another program holds the port, such as a running Kavit.exe: close it "
                      "and try again.");
    else if (driver.ok && !port)
        PrintIndented("No port answers the presence test: is the parallel port enabled in the "
                      "BIOS setup,\nand does Device Manager list it?");
    for (const std::string& line : systemLines)
        printf("%s\n", line.c_str());
    printf("%s\n", settingsNote.c_str());
    std::string warning = IntervalWarning(setup.interval);
    if (!warning.empty())
        printf("%s\n", warning.c_str());
}

// ---- live view ---------------------------------------------------------------------------------

// Esc in the console's input, read without waiting; other input is dropped. Only what a peek
// showed is read: reading more would wait for it.
bool EscapePressed(HANDLE input) {
    bool escape = false;
    INPUT_RECORD records[16];
    DWORD peeked = 0;
    while (PeekConsoleInputA(input, records, 16, &peeked) && peeked > 0) {
        for (DWORD i = 0; i < peeked; ++i)
            if (records[i].EventType == KEY_EVENT && records[i].Event.KeyEvent.bKeyDown &&
                records[i].Event.KeyEvent.wVirtualKeyCode == VK_ESCAPE)
                escape = true;
        DWORD read = 0;
        if (!ReadConsoleInputA(input, records, peeked, &read) || read == 0)
            break;
    }
    return escape;
}

// Waits for the next tick of the tick source, or, when it could not start, until `ms` have
// passed; false when Esc or a stop request came first.
bool WaitTick(HANDLE input, DWORD ms) {
    HANDLE tick = TickHandle();
    DWORD start = GetTickCount();
    for (;;) {
        DWORD passed = GetTickCount() - start;
        if (!tick && passed >= ms)
            return true;
        HANDLE waits[3] = {stopRequested, tick, input};
        DWORD count = 1;
        if (tick)
            waits[count++] = tick;
        if (input)
            waits[count++] = input;
        DWORD woke = WaitForMultipleObjects(count, waits, FALSE, tick ? INFINITE : ms - passed);
        if (woke == WAIT_OBJECT_0)
            return false;
        if (woke == WAIT_TIMEOUT || (tick && woke == WAIT_OBJECT_0 + 1))
            return true;
        if (input && woke == WAIT_OBJECT_0 + count - 1 && EscapePressed(input))
            return false;
        if (woke == WAIT_FAILED)
            Sleep(1);
    }
}

double NowMs() {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

// Writes the frame's lines into the screen buffer from `origin` down, without moving the cursor
// or scrolling anything. False when the console refused a line.
bool DrawInPlace(HANDLE output, COORD origin, const std::string& frame) {
    COORD at = origin;
    size_t start = 0;
    while (start < frame.size()) {
        size_t end = frame.find('\n', start);
        if (end == std::string::npos)
            end = frame.size();
        DWORD written = 0;
        if (!WriteConsoleOutputCharacterA(output, frame.data() + start,
                                          static_cast<DWORD>(end - start), at, &written))
            return false;
        at.Y++;
        start = end + 1;
    }
    return true;
}

// Prints through the standard output; false when that fails, as it does once the pipe's reader
// (`kavit-check | head -3`) or the console is gone.
bool Emit(const std::string& text) {
    return fputs(text.c_str(), stdout) >= 0 && fflush(stdout) == 0;
}

// Why reading stopped, in the plainest words that fit.
std::string StoppedReason(DWORD error) {
    HANDLE probe = OpenLptDevice();
    bool opens = probe != INVALID_HANDLE_VALUE;
    if (opens)
        CloseHandle(probe);
    std::string reason = PortStoppedReason(error, opens);
    return reason.empty() ? ErrorText(error) : reason;
}

// Redraws the frame in place on a console, elsewhere prints it anew, each time it changed. Ends
// on Esc, Ctrl-C, or when nobody can see the output any more.
int LiveView(TLptPortConnection& connection, const TViewSetup& setup) {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (input == INVALID_HANDLE_VALUE || !GetConsoleMode(input, &mode))
        input = nullptr; // not a console: only Ctrl-C ends it
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    CONSOLE_SCREEN_BUFFER_INFO screen;
    bool console = GetConsoleScreenBufferInfo(output, &screen) != 0;
    CONSOLE_CURSOR_INFO cursor = {};
    bool cursorHidden = false;
    if (console && GetConsoleCursorInfo(output, &cursor)) {
        CONSOLE_CURSOR_INFO hidden = cursor;
        hidden.bVisible = FALSE;
        cursorHidden = SetConsoleCursorInfo(output, &hidden) != 0;
    }

    printf("\n");
    bool first = true;
    COORD origin = {0, 0};
    std::string last;
    int result = 0;
    // The same ticks as Kavit's at the same Interval: the pace line tells what this PC gives.
    StartTicks(nullptr, 0, ViewPeriodMs(setup.interval));
    TViewSetup view = setup;
    TPaceMeter meter;
    double paceShown = 0;
    do {
        double now = NowMs();
        CountPass(meter, now);
        // Once a second: a pipe gets a new frame only when something changed.
        if (view.pace.empty() || now - paceShown >= 1000) {
            view.pace = PaceLine(meter, setup.interval);
            paceShown = now;
        }
        TPadReading reading;
        if (!ReadPads(connection, setup.port, reading)) {
            std::string reason = StoppedReason(GetLastError());
            printf("The port stopped answering (%s).\n", reason.c_str());
            result = 1;
            break;
        }
        std::string frame = Frame(view, reading);
        // Only a changed picture is drawn: most passes find what the last one found.
        if (console && !first) {
            if (frame != last && !DrawInPlace(output, origin, frame)) {
                // The console is gone, or its buffer shrank under the frame: print anew.
                if (!GetConsoleScreenBufferInfo(output, &screen))
                    break;
                first = true;
            }
        }
        if ((first || (!console && frame != last)) && !Emit(frame))
            break;
        if (console && first && GetConsoleScreenBufferInfo(output, &screen)) {
            // Where the frame began, after whatever scrolling printing it caused.
            origin.X = 0;
            origin.Y = static_cast<SHORT>(screen.dwCursorPosition.Y - FrameLines());
            if (origin.Y < 0)
                origin.Y = 0;
        }
        first = false;
        last = frame;
    } while (WaitTick(input, ViewPeriodMs(setup.interval)));
    StopTicks();

    if (cursorHidden)
        SetConsoleCursorInfo(output, &cursor);
    return result;
}

// A line for each preset that follows programs. A program that an earlier preset names already
// is no use here: Kavit takes the first.
std::string FollowLines() {
    std::string lines;
    for (size_t k = 0; k < PresetTable.presets.size(); ++k) {
        std::vector<std::string> programs = ProgramsNamed(PresetTable.presets[k].header);
        if (programs.empty())
            continue;
        lines += "\npreset " + std::to_string(k + 1) + " \"" + PresetTable.presets[k].caption +
                 "\" follows";
        for (const std::string& program : programs) {
            int32_t first = PresetForProgram(program);
            lines += " " + program;
            if (first < 0)
                lines += " (not a file name: never matches)";
            else if (first != static_cast<int32_t>(k))
                lines += " (taken by preset " + std::to_string(first + 1) + ")";
        }
    }
    return lines;
}

// Keys and interval from Kavit.ini beside the program, read as Kavit.exe reads them.
std::string LoadKeys(TViewSetup& setup) {
    std::string path = ProgramDirectory() + SettingsFileName;
    setup.interval = DefaultInterval;
    if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES)
        return "keys: unknown, no Kavit.ini beside kavit-check.exe; read every 10 ms";
    if (!LoadSettings(path))
        return "keys: unknown, Kavit.ini does not load (Kavit.exe would refuse it too); read "
               "every 10 ms";
    setup.interval = AppSettings.interval;
    setup.preset = &PresetTable.presets[static_cast<size_t>(PresetTable.currentPreset)];
    char note[160];
    snprintf(note, sizeof note, "keys: preset \"%.60s\" of Kavit.ini; read every %lu ms",
             setup.preset->caption.c_str(),
             static_cast<unsigned long>(PollPeriodMs(setup.interval)));
    return note + FollowLines();
}

int Run(bool once) {
    StartDriverService(ProgramDirectory());
    TLptPortConnection* connection = new TLptPortConnection;
    WORD native = NativeMachine();
    TSystemFacts facts = ReadSystemFacts(native);
    std::vector<std::string> systemLines = SystemLines(facts);
    TDriverReport driver = DiagnoseDriver(*connection);
    LeadWithTestSigning(driver, facts, SignatureAdvice(native));
    PortCode port = driver.ok ? FirstPresent(*connection) : 0;
    PortCode busy = driver.ok && !port ? BusyPort(*connection) : 0;
    int result = driver.ok && port ? 0 : 1;

    if (once) {
        TPadReading reading;
        std::string held;
        if (port && ReadPads(*connection, port, reading))
            held = HeldList(reading);
        for (const std::string& line :
             OnceLines(driver, port, busy, held, systemLines, FolderLine(*connection)))
            printf("%s\n", line.c_str());
    } else {
        TViewSetup setup;
        setup.port = port;
        setup.verdicts = "driver: " + DriverLine(driver) + ", " + PortLine(port, busy) + ", " +
                         FolderLine(*connection);
        std::string settingsNote = LoadKeys(setup);
        PrintReport(*connection, driver, busy, systemLines, setup, settingsNote);
        fflush(stdout);
        if (result == 0 && !StopRequested() && LiveView(*connection, setup) != 0)
            result = 1;
    }
    fflush(stdout);

    // Closes the device and removes the service when no other program holds the driver.
    ClosePortConnection(connection);
    return result;
}

// Kavit.ini's loader tells of a bad preset number through the notice box, which would stop a
// console program (and a script) until someone clicks it: here the text goes to the error output.
void PrintNotice(const char* text) {
    fprintf(stderr, "Kavit.ini: %s\n", text);
}

} // namespace

int main(int argc, char** argv) {
    SetNoticeSink(PrintNotice);
    bool once = false;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--once") == 0) {
            once = true;
        } else if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0 ||
                   strcmp(argv[i], "/?") == 0) {
            fputs(HelpText, stdout);
            return 0;
        } else {
            fprintf(stderr, "kavit-check: unknown argument %s (kavit-check --help)\n", argv[i]);
            return 2;
        }
    }

    stopRequested = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    cleanedUp = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
    int result = Run(once);
    SetEvent(cleanedUp);
    return result;
}
