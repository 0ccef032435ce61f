// padsim: presses and releases the buttons of the simulated pads behind LPTWDMIO.SYS, and shows
// the key events that Kavit sends for them (`watch`, which run-kavit.sh keeps running: Wine
// serves one low-level keyboard hook per session reliably, not one per short-lived command).
//
//   padsim press <pad> <button>     pad 1..2, button 1..12
//   padsim release <pad> <button>
//   padsim tap <pad> <button> [ms]  press, hold (default 150 ms), release
//   padsim demo                     every button of pad 1, a chord, every button of pad 2
//   padsim watch [seconds]          shows every key event until Kavit ends (or the time is up)
//   padsim ports <mask>             present ports: 1 LPT1, 2 LPT2, 4 LPT3 (sum them; 0 = none)
//   padsim reset                    all released, LPT1 only, log cleared
//   padsim state                    what the simulated hardware holds now
//   padsim preset <n>               choose preset n from Kavit's menu
//   padsim quit                     "Exit" from Kavit's menu
//   padsim unload                   stop and delete the driver service (after Kavit has ended)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

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

bool ParseNumber(const char* text, long low, long high, long& value) {
    char* end = nullptr;
    value = strtol(text, &end, 0);
    return end != text && *end == 0 && value >= low && value <= high;
}

bool ParsePadButton(int argc, char** argv, int& pad, int& button) {
    long p = 0, b = 0;
    if (argc < 4 || !ParseNumber(argv[2], 1, PadCount, p) ||
        !ParseNumber(argv[3], 1, PadButtonCount, b)) {
        fprintf(stderr, "padsim: pad must be 1 or 2 and button 1 to 12\n");
        return false;
    }
    pad = static_cast<int>(p);
    button = static_cast<int>(b);
    return true;
}

// ---- key events, caught with a low-level hook and passed on ------------------------------------

// A whole line at once (the C library locks the stream for it), shown at once.
void PrintLine(const char* text) {
    fputs(text, stdout);
    fflush(stdout);
}

LRESULT CALLBACK ShowKey(int code, WPARAM message, LPARAM data) {
    if (code == HC_ACTION) {
        const KBDLLHOOKSTRUCT* key = reinterpret_cast<const KBDLLHOOKSTRUCT*>(data);
        bool extended = (key->flags & LLKHF_EXTENDED) != 0;
        char name[64] = "?";
        LONG keyData = static_cast<LONG>((key->scanCode & 0xFF) << 16 | (extended ? 1 << 24 : 0));
        if (!GetKeyNameTextA(keyData, name, sizeof(name)))
            strcpy(name, "?");
        char line[160];
        snprintf(line, sizeof(line), "    key %-4s %-12s vk=0x%02lX scan=0x%02lX ext=%d\n",
                 (key->flags & LLKHF_UP) ? "up" : "down", name,
                 static_cast<unsigned long>(key->vkCode), static_cast<unsigned long>(key->scanCode),
                 extended ? 1 : 0);
        PrintLine(line);
    }
    return CallNextHookEx(nullptr, code, message, data);
}

DWORD WINAPI HookThread(LPVOID ready) {
    HHOOK hook = SetWindowsHookExA(WH_KEYBOARD_LL, ShowKey, GetModuleHandleA(nullptr), 0);
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
    SetEvent(static_cast<HANDLE>(ready));
    if (!hook)
        return 1;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0)
        DispatchMessageA(&msg);
    UnhookWindowsHookEx(hook);
    return 0;
}

void StartKeyDisplay() {
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    CreateThread(nullptr, 0, HookThread, ready, 0, nullptr);
    WaitForSingleObject(ready, 5000);
}

// ---- the simulated pads ------------------------------------------------------------------------

bool Report(TSimDevice& device, bool ok, const char* what) {
    if (!ok)
        fprintf(stderr, "padsim: %s refused: %s\n", what, Win32ErrorText(device.lastError).c_str());
    return ok;
}

void PrintState(TSimDevice& device) {
    TSimState state;
    if (!Report(device, device.GetState(state), "state"))
        return;
    printf("ports present:");
    for (int i = 0; i < 3; i++)
        if (state.ports & (1u << i))
            printf(" LPT%d", i + 1);
    printf(state.ports ? "\n" : " none\n");
    for (int pad = 0; pad < PadCount; pad++) {
        printf("pad %d pressed:", pad + 1);
        bool any = false;
        for (int b = 1; b <= PadButtonCount; b++)
            if (state.buttons[pad] & ButtonBit(b)) {
                printf(" %d", b);
                any = true;
            }
        printf(any ? "\n" : " none\n");
    }
    printf("port calls since reset: %lu reads, %lu writes, %lu refused\n",
           static_cast<unsigned long>(state.readCalls),
           static_cast<unsigned long>(state.writeCalls),
           static_cast<unsigned long>(state.failedCalls));
}

bool Change(TSimDevice& device, int pad, USHORT press, USHORT release, const char* what) {
    char line[96];
    snprintf(line, sizeof(line), "pad %d %s\n", pad, what);
    PrintLine(line);
    return Report(device, device.ChangeButtons(pad, press, release), "buttons");
}

// Presses (or releases) one button, saying so as "button 3 down".
bool Set(TSimDevice& device, int pad, int button, bool down, const char* word) {
    char what[48];
    snprintf(what, sizeof(what), "button %d %s", button, word);
    return Change(device, pad, down ? ButtonBit(button) : 0, down ? 0 : ButtonBit(button), what);
}

bool Tap(TSimDevice& device, int pad, int button, DWORD ms) {
    if (!Set(device, pad, button, true, "down"))
        return false;
    Sleep(ms);
    bool ok = Set(device, pad, button, false, "up");
    Sleep(60); // the program scans every Interval ms: let its key-up show before the next line
    return ok;
}

int Demo(TSimDevice& device) {
    const USHORT chord = ButtonBit(2) | ButtonBit(7);
    bool ok = true;
    for (int b = 1; ok && b <= PadButtonCount; b++)
        ok = Tap(device, 1, b, 150);
    ok = ok && Change(device, 1, chord, 0, "buttons 2 and 7 down together (7 is read first)");
    Sleep(300);
    ok = ok && Change(device, 1, 0, chord, "buttons 2 and 7 up");
    Sleep(100);
    if (ok)
        PrintLine("pad 2 (Kavit reads it only with SecondPlayer=1 in Kavit.ini)\n");
    for (int b = 1; ok && b <= PadButtonCount; b++)
        ok = Tap(device, 2, b, 150);
    if (ok)
        PrintLine("demo done\n");
    return ok ? 0 : 1;
}

HWND FindKavit() {
    return FindWindowA(KavitClass, KavitTitle);
}

int Watch(DWORD seconds) {
    PrintLine("showing the key events Kavit sends (Ctrl-C to stop)\n");
    DWORD start = GetTickCount();
    bool seen = FindKavit() != nullptr;
    for (;;) {
        Sleep(200);
        bool running = FindKavit() != nullptr;
        if (seen && !running) {
            PrintLine("Kavit has ended\n");
            return 0;
        }
        seen = seen || running;
        if (seconds && GetTickCount() - start >= seconds * 1000)
            return 0;
    }
}

int SendCommand(UINT id, const char* what) {
    HWND kavit = FindKavit();
    if (!kavit) {
        fprintf(stderr, "padsim: Kavit is not running on this Wine desktop\n");
        return 1;
    }
    PostMessageA(kavit, WM_COMMAND, id, 0);
    printf("%s\n", what);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return Usage();
    const char* command = argv[1];
    if (!strcmp(command, "quit"))
        return SendCommand(CmdExit, "asked Kavit to exit");
    if (!strcmp(command, "preset")) {
        long n = 0;
        if (argc < 3 || !ParseNumber(argv[2], 1, 1000, n))
            return Usage();
        return SendCommand(CmdPresetBase + static_cast<UINT>(n) - 1, "preset chosen");
    }
    if (!strcmp(command, "unload")) {
        std::string reason;
        if (!DriverService::Remove(reason)) {
            fprintf(stderr, "padsim: %s\n", reason.c_str());
            return 1;
        }
        return 0;
    }
    if (!strcmp(command, "watch")) {
        long seconds = 0;
        if (argc > 2 && !ParseNumber(argv[2], 1, 86400, seconds))
            return Usage();
        StartKeyDisplay();
        return Watch(static_cast<DWORD>(seconds));
    }

    TSimDevice device;
    if (!device.Open()) {
        fprintf(stderr,
                "padsim: cannot open %s: %s\n"
                "  The simulated driver is loaded by Kavit.exe when it starts; is Kavit running\n"
                "  in this Wine prefix (./run-kavit.sh)?\n",
                LPT_USER_PATH, Win32ErrorText(device.lastError).c_str());
        return 1;
    }
    int pad = 0, button = 0;
    if (!strcmp(command, "press") || !strcmp(command, "release")) {
        if (!ParsePadButton(argc, argv, pad, button))
            return Usage();
        bool press = !strcmp(command, "press");
        return Set(device, pad, button, press, press ? "pressed" : "released") ? 0 : 1;
    }
    if (!strcmp(command, "tap")) {
        long ms = 150;
        if (!ParsePadButton(argc, argv, pad, button) ||
            (argc > 4 && !ParseNumber(argv[4], 1, 60000, ms)))
            return Usage();
        return Tap(device, pad, button, static_cast<DWORD>(ms)) ? 0 : 1;
    }
    if (!strcmp(command, "demo"))
        return Demo(device);
    if (!strcmp(command, "ports")) {
        long mask = 0;
        if (argc < 3 || !ParseNumber(argv[2], 0, 7, mask)) {
            fprintf(stderr, "padsim: port mask must be 0 to 7\n");
            return Usage();
        }
        if (!Report(device, device.SetPorts(static_cast<ULONG>(mask)), "ports"))
            return 1;
        printf("present ports set; Kavit chooses its port when it starts\n");
        return 0;
    }
    if (!strcmp(command, "reset"))
        return Report(device, device.Reset(), "reset") ? 0 : 1;
    if (!strcmp(command, "state")) {
        PrintState(device);
        return 0;
    }
    return Usage();
}
