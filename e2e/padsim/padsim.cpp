// padsim: presses and releases the buttons of the simulated pads behind LPTWDMIO.SYS, and shows
// the key events that Kavit sends for them (`watch`, which run-kavit.sh keeps running: Wine
// serves one low-level keyboard hook per session reliably, not one per short-lived command).
// Without arguments it prints its usage; Commands below says what each command does.
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "e2e/common/key_hook.h"
#include "e2e/common/sim_client.h"
#include "e2e/harness/kavit_process.h"
#include "wire/pad_wiring.h"

namespace {

int Usage() {
    fprintf(stderr, "usage: padsim press|release <pad> <button>   pad 1..2, button 1..12\n"
                    "       padsim tap <pad> <button> [ms]\n"
                    "       padsim demo | watch [seconds] | state | reset | ports <mask 0..7>\n"
                    "       padsim preset <n> | quit | unload\n");
    return 2;
}

// Prints a whole line at once (the C library locks the stream for it) and shows it at once: the
// hook thread of `watch` prints too.
void Say(const char* format, ...) {
    char line[160];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof(line), format, args);
    va_end(args);
    fputs(line, stdout);
    fflush(stdout);
}

void ShowKey(const TKeyEvent& key) {
    char name[64] = "?";
    LONG keyData = static_cast<LONG>((key.scan & 0xFF) << 16 | (key.extended ? 1 << 24 : 0));
    if (!GetKeyNameTextA(keyData, name, sizeof(name)))
        strcpy(name, "?");
    Say("    key %-4s %-12s vk=0x%02lX scan=0x%02lX ext=%d\n", key.up ? "up" : "down", name, key.vk,
        key.scan, key.extended ? 1 : 0);
}

bool Report(TSimDevice& device, bool ok, const char* what) {
    if (!ok)
        fprintf(stderr, "padsim: %s refused: %s\n", what, Win32ErrorText(device.lastError).c_str());
    return ok;
}

// "ports present: LPT1 LPT3", or " none": the set bits of `mask`.
void PrintBits(const std::string& what, unsigned mask, int count, const char* item) {
    printf("%s", what.c_str());
    for (int i = 0; i < count; i++)
        if (mask & (1u << i))
            printf(item, i + 1);
    printf(mask & ((1u << count) - 1) ? "\n" : " none\n");
}

bool PrintState(TSimDevice& device, const long*) {
    TSimState state;
    if (!Report(device, device.GetState(state), "state"))
        return true; // said, and still exit status 0
    PrintBits("ports present:", state.ports, 3, " LPT%d");
    for (int pad = 0; pad < PadCount; pad++)
        PrintBits("pad " + std::to_string(pad + 1) + " pressed:", state.buttons[pad],
                  PadButtonCount, " %d");
    printf("port calls since reset: %lu reads, %lu writes, %lu refused\n", state.readCalls,
           state.writeCalls, state.failedCalls);
    return true;
}

bool Change(TSimDevice& device, int pad, USHORT buttons, bool down, const char* what) {
    Say("pad %d %s\n", pad, what);
    return Report(device, device.ChangeButtons(pad, down ? buttons : 0, down ? 0 : buttons),
                  "buttons");
}

// One button, said as "pad 1 button 3 down".
bool Set(TSimDevice& device, long pad, long button, bool down, const char* word) {
    char what[48];
    snprintf(what, sizeof(what), "button %ld %s", button, word);
    return Change(device, pad, ButtonBit(button), down, what);
}

bool Tap(TSimDevice& device, long pad, long button, long ms) {
    if (!Set(device, pad, button, true, "down"))
        return false;
    Sleep(ms);
    bool ok = Set(device, pad, button, false, "up");
    Sleep(60); // the program scans every Interval ms: let its key-up show before the next line
    return ok;
}

bool Demo(TSimDevice& device, const long*) {
    const USHORT chord = ButtonBit(2) | ButtonBit(7);
    bool ok = true;
    for (int b = 1; ok && b <= PadButtonCount; b++)
        ok = Tap(device, 1, b, 150);
    ok = ok && Change(device, 1, chord, true, "buttons 2 and 7 down together (7 is read first)");
    Sleep(300);
    ok = ok && Change(device, 1, chord, false, "buttons 2 and 7 up");
    Sleep(100);
    if (ok)
        Say("pad 2 (Kavit reads it only with SecondPlayer=1 in Kavit.ini)\n");
    for (int b = 1; ok && b <= PadButtonCount; b++)
        ok = Tap(device, 2, b, 150);
    if (ok)
        Say("demo done\n");
    return ok;
}

bool Watch(TSimDevice&, const long* seconds) {
    std::string reason;
    KeyHook::Start(reason, ShowKey); // without a hook, it still waits for Kavit's end
    Say("showing the key events Kavit sends (Ctrl-C to stop)\n");
    DWORD start = GetTickCount();
    bool seen = FindWindowA(MainWindowClassName, MainWindowTitle) != nullptr;
    for (;;) {
        Sleep(200);
        bool running = FindWindowA(MainWindowClassName, MainWindowTitle) != nullptr;
        if (seen && !running) {
            Say("Kavit has ended\n");
            return true;
        }
        seen = seen || running;
        if (*seconds && GetTickCount() - start >= static_cast<DWORD>(*seconds) * 1000)
            return true;
    }
}

bool Send(UINT id, const char* what) {
    HWND kavit = FindWindowA(MainWindowClassName, MainWindowTitle);
    if (!kavit) {
        fprintf(stderr, "padsim: Kavit is not running on this Wine desktop\n");
        return false;
    }
    PostMessageA(kavit, WM_COMMAND, id, 0);
    printf("%s\n", what);
    return true;
}

bool Ports(TSimDevice& device, const long* n) {
    if (!Report(device, device.SetPorts(static_cast<ULONG>(n[0])), "ports"))
        return false;
    printf("present ports set; Kavit chooses its port when it starts\n");
    return true;
}

bool Unload(TSimDevice&, const long*) {
    std::string reason;
    bool ok = DriverService::Remove(reason);
    if (!ok)
        fprintf(stderr, "padsim: %s\n", reason.c_str());
    return ok;
}

struct TNumber {
    long low = 0, high = 0, fallback = 0; // high 0: no such argument
};

struct TCommand {
    const char* name;
    bool device;           // works on the simulated device, opened first
    int required;          // how many of the numbers must be given
    const char* complaint; // said when one of those is missing or out of range
    TNumber numbers[3];
    bool (*run)(TSimDevice& device, const long* numbers); // false: exit status 1
};

const char PadButtonRange[] = "pad must be 1 or 2 and button 1 to 12";
const TNumber Pad = {1, PadCount}, Button = {1, PadButtonCount};

// clang-format off
const TCommand Commands[] = {
    {"press", true, 2, PadButtonRange, {Pad, Button}, // pad 1..2, button 1..12
     [](TSimDevice& d, const long* n) { return Set(d, n[0], n[1], true, "pressed"); }},
    {"release", true, 2, PadButtonRange, {Pad, Button},
     [](TSimDevice& d, const long* n) { return Set(d, n[0], n[1], false, "released"); }},
    {"tap", true, 2, PadButtonRange, {Pad, Button, {1, 60000, 150}}, // press, hold [ms], release
     [](TSimDevice& d, const long* n) { return Tap(d, n[0], n[1], n[2]); }},
    {"demo", true, 0, nullptr, {}, Demo}, // every button of pad 1, a chord, every button of pad 2
    {"ports", true, 1, "port mask must be 0 to 7", {{0, 7}}, Ports}, // 1 LPT1 + 2 LPT2 + 4 LPT3
    {"reset", true, 0, nullptr, {}, // all released, LPT1 only, log cleared
     [](TSimDevice& d, const long*) { return Report(d, d.Reset(), "reset"); }},
    {"state", true, 0, nullptr, {}, PrintState}, // what the simulated hardware holds now
    {"preset", false, 1, nullptr, {{1, 1000}}, // choose preset n from Kavit's menu
     [](TSimDevice&, const long* n) { return Send(CmdPresetBase + n[0] - 1, "preset chosen"); }},
    {"quit", false, 0, nullptr, {}, // "Exit" from Kavit's menu
     [](TSimDevice&, const long*) { return Send(CmdExit, "asked Kavit to exit"); }},
    {"watch", false, 0, nullptr, {{1, 86400}}, Watch}, // key events until Kavit ends [or seconds]
    {"unload", false, 0, nullptr, {}, Unload}, // stop and delete the driver service (Kavit ended)
};
// clang-format on

} // namespace

int main(int argc, char** argv) {
    const TCommand* command = nullptr;
    for (const TCommand& c : Commands)
        if (argc > 1 && !strcmp(argv[1], c.name))
            command = &c;
    TSimDevice device;
    if (argc > 1 && (!command || command->device) && !device.Open()) {
        fprintf(stderr,
                "padsim: cannot open %s: %s\n"
                "  The simulated driver is loaded by Kavit.exe when it starts; is Kavit running\n"
                "  in this Wine prefix (./run-kavit.sh)?\n",
                LPT_USER_PATH, Win32ErrorText(device.lastError).c_str());
        return 1;
    }
    if (!command)
        return Usage();
    long n[3] = {};
    for (int i = 0; i < 3 && command->numbers[i].high; i++) {
        const TNumber& number = command->numbers[i];
        const char* text = i + 2 < argc ? argv[i + 2] : nullptr;
        char* end = nullptr;
        n[i] = text ? strtol(text, &end, 0) : number.fallback;
        if (text ? end == text || *end || n[i] < number.low || n[i] > number.high
                 : i < command->required) {
            if (i < command->required && command->complaint)
                fprintf(stderr, "padsim: %s\n", command->complaint);
            return Usage();
        }
    }
    return command->run(device, n) ? 0 : 1;
}
