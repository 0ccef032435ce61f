// Catches every keyboard event of the session with a low-level hook on a thread of its own. The
// harness keeps each event and swallows it, so that emulated pad keys reach no window (the key
// assignment window would take them as keys to learn); padsim shows each and passes it on.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct TKeyEvent {
    DWORD vk = 0, scan = 0;
    bool extended = false, up = false;
    LONGLONG time = 0; // performance counter when the hook saw it
    // Filled only while a window is watched (see Watch): whether it still existed and whether
    // its tray icon 1 was still in the tray when the event arrived.
    bool watched = false, windowAlive = false, trayIconPresent = false;
    long probe = -1; // what the watch's probe answered at that moment
};

// "down vk=0x26 scan=0x48 ext=1"
std::string Describe(const TKeyEvent& event);

namespace KeyHook {
// Installs the hook; false with a reason. With `show`, every event goes to it and on to the
// window with the focus instead of being kept.
bool Start(std::string& reason, void (*show)(const TKeyEvent&) = nullptr);
void Stop();
// Events seen since the last Clear, in order.
std::vector<TKeyEvent> Events();
inline size_t Count() {
    return Events().size();
}
void Clear();
// While set, every event also records the state of `window` and its tray icon, and the answer of
// `probe`, looked up while the program that sent the key waits for the hook: the state the
// program had at that moment.
void Watch(HWND window, long (*probe)() = nullptr);
// While set, events are recorded and then passed on to the window with the focus, as a keyboard
// would deliver them.
void PassOn(bool on);
} // namespace KeyHook

// Whether `owner` has tray icon `id`: a modify that changes nothing succeeds only for an icon
// that the tray holds.
bool TrayIconPresent(HWND owner, UINT id = 1);
