// The pad scanner: two twelve-button pads as a matrix on the parallel port.
//
// Six data lines select, four status lines report. In each step of a pass one select line is
// driven low; a pressed button whose select line is low pulls its pad's input line low. Every
// button that changed (with repeat, every held button too) becomes one keybd_event, sent in the
// order the pass read the buttons once its reads are in.
#include "scanner/scanner.h"

#include <windows.h>

#include "common/program_state.h"
#include "common/tray_icon.h"
#include "lptio/lptio.h"
#include "scanner/pad_pass.h"
#include "settings/settings.h"

namespace {

// The key one keybd_event sends: the low bytes of the codes and the extended flag whole.
struct TKey {
    BYTE vk;
    BYTE scan;
    DWORD ext; // 0, or KEYEVENTF_EXTENDEDKEY
};

static_assert(ButtonsPerPad == PadButtonCount, "a preset has a key for every button");

// Pad 1 buttons 1..12, then pad 2 buttons 1..12. A set flag means a key-down went out and no
// key-up since; sentKey holds the key that key-down used, so that the key-up releases that very
// key even when the preset or its keys changed while the button was held.
BYTE ButtonState[PadCount * ButtonsPerPad];
TKey sentKey[PadCount * ButtonsPerPad];

int ButtonIndex(int pad, int button) {
    return (pad - 1) * ButtonsPerPad + (button - 1);
}

// ---- a port that stops answering ---------------------------------------------------------------
// A printer may hold the port for a moment: one failed pass changes nothing. But once passes
// keep failing, no pass will ever see the held buttons let go, and their keys would stay down in
// Windows; so after half a second of failing passes, or at once when the device says it is gone,
// every held key is let go.

const DWORD PortLostMilliseconds = 500;

bool passesFailing; // every pass since failingSince has failed
DWORD failingSince; // GetTickCount() at the first of them

// ---- key events --------------------------------------------------------------------------------

// The key that the current preset assigns to a button; false when there is no current preset.
bool AssignedKey(int pad, int button, TKey& key) {
    int32_t current = PresetTable.currentPreset;
    if (current < 0 || static_cast<size_t>(current) >= PresetTable.presets.size())
        return false;
    const TCodes& codes = PresetTable.presets[static_cast<size_t>(current)];
    int i = button - 1;
    // Codes above 255 are legal in Kavit.ini; keybd_event takes bytes.
    if (pad == 1)
        key = TKey{static_cast<BYTE>(codes.vk1[i]), static_cast<BYTE>(codes.scan1[i]),
                   static_cast<DWORD>(codes.ext1[i])};
    else
        key = TKey{static_cast<BYTE>(codes.vk2[i]), static_cast<BYTE>(codes.scan2[i]),
                   static_cast<DWORD>(codes.ext2[i])};
    return true;
}

bool SameKey(const TKey& a, const TKey& b) {
    return a.vk == b.vk && a.scan == b.scan && a.ext == b.ext;
}

void KeyDown(const TKey& key) {
    keybd_event(key.vk, key.scan, key.ext, KavitKeyMark);
}

void KeyUp(const TKey& key) {
    keybd_event(key.vk, key.scan, key.ext + KEYEVENTF_KEYUP, KavitKeyMark);
}

// The shell is asked only when the icon really changes: a held button with repeat costs no
// shell call after its first key-down.
void ShowTrayIcon(HICON icon) {
    if (currentTrayIcon != icon)
        TrayIcon(TrayModify, icon);
}

// One button, as the pass read it. False ends the pass: there is no preset to take a key from.
bool HandleButton(void*, const TButtonRead& read) {
    int index = ButtonIndex(read.pad, read.button);

    // Each flag is set or cleared before its events go out: the hooks' and the shell's calls let
    // messages of other programs in while they wait, and one of them may be the session's end,
    // which lets go of what the flags call held.
    if (read.released) {
        if (ButtonState[index]) {
            ButtonState[index] = 0;
            KeyUp(sentKey[index]);
            ShowTrayIcon(FirstIcon);
        }
        return true;
    }

    if (ButtonState[index] && AppSettings.repeat != 1)
        return true;
    TKey key;
    if (!AssignedKey(read.pad, read.button, key))
        return false;
    TKey previous = sentKey[index];
    bool wasDown = ButtonState[index] != 0;
    sentKey[index] = key;
    ButtonState[index] = 1;
    // With repeat, a held button whose key was changed under it lets go of the old key first;
    // otherwise the old key would stay down for good.
    if (wasDown && !SameKey(previous, key))
        KeyUp(previous);
    KeyDown(key);
    ShowTrayIcon(SecondIcon);
    return true;
}

void ReleaseAll() {
    for (int index = 0; index < PadCount * ButtonsPerPad; ++index) {
        if (ButtonState[index]) {
            ButtonState[index] = 0;
            KeyUp(sentKey[index]);
        }
    }
}

// After each pass; `error` is the last error of a pass that the port failed. Letting go again on
// later failing passes finds nothing held, and the icon already resting: each key goes up once.
void WatchPort(TPassOutcome outcome, DWORD error) {
    if (outcome != PassPortFailed) {
        passesFailing = false;
        return;
    }
    DWORD now = GetTickCount();
    if (!passesFailing) {
        passesFailing = true;
        failingSince = now;
    }
    // Unsigned, so right across the wrap of the tick count too.
    if (LptDeviceGone(error) || now - failingSince > PortLostMilliseconds) {
        ReleaseAll();
        ShowTrayIcon(FirstIcon);
    }
}

} // namespace

void ScanPads() {
    // Without a way to the ports every read would come back 0, which reads as buttons held.
    if (!PortConnection || !PortConnection->IsOpen())
        return;
    // A failed pass sends nothing; the next tick runs a full pass again.
    TPassOutcome outcome = PadPass(*PortConnection, selectedPort,
                                   AppSettings.secondPlayer == 1 ? 2 : 1, HandleButton, nullptr);
    WatchPort(outcome, outcome == PassPortFailed ? GetLastError() : 0);
}

// The tray icon is left alone: at shutdown it has already been removed.
void ReleaseHeldKeys() {
    ReleaseAll();
    passesFailing = false;
}
