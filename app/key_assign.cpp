#include "app/key_assign.h"

#include <vector>

#include "app/app_state.h"
#include "scanner/scanner.h"
#include "settings/presets.h"
#include "settings/settings.h"

namespace {

// assignIndex once every button of the sequence has its key, with one pad or with two.
const int32_t SequenceComplete = 2 * ButtonsPerPad;

// COLORREF is 0x00BBGGRR: this is blue 255, green 0, red 0.
const COLORREF LabelColour = 0x00FF0000;

const char PromptLine[] = "Press key for emulation:";
const int LabelX = 16;
const int PromptY = 10;
const int ButtonLineY = 30;

// The presets as they were when the sequence under way began. All of them: whichever preset the
// keys went to, a cancel puts it back.
std::vector<TCodes> presetsBeforeTeaching;

int32_t SequenceLength() {
    return ButtonsPerPad + ButtonsPerPad * AppSettings.secondPlayer;
}

TCodes& CurrentPreset() {
    return PresetTable.presets[static_cast<size_t>(PresetTable.currentPreset)];
}

// Key number n of a sequence (1..24) is for pad 1 button n, or for pad 2 button n - 12.
void StoreKey(int32_t n, int32_t vk, int32_t scan, int32_t ext) {
    TCodes& preset = CurrentPreset();
    if (n <= ButtonsPerPad) {
        preset.vk1[n - 1] = vk;
        preset.scan1[n - 1] = scan;
        preset.ext1[n - 1] = ext;
    } else {
        preset.vk2[n - 1 - ButtonsPerPad] = vk;
        preset.scan2[n - 1 - ButtonsPerPad] = scan;
        preset.ext2[n - 1 - ButtonsPerPad] = ext;
    }
}

} // namespace

void StartTeaching() {
    // The window is hidden only between sequences.
    if (!IsWindowVisible(MainWindow))
        presetsBeforeTeaching = PresetTable.presets;
    ShowWindow(MainWindow, SW_SHOWNORMAL);
}

void CancelTeaching() {
    ShowWindow(MainWindow, SW_HIDE);
    assignIndex = 0;
    // The table never changes its length while the program runs; the check only guards against
    // a cancel with no sequence begun.
    if (presetsBeforeTeaching.size() == PresetTable.presets.size())
        PresetTable.presets = presetsBeforeTeaching;
}

void TakeKey(WPARAM wParam, LPARAM lParam) {
    // A hidden window can keep the keyboard focus when nothing else takes it: keys that reach it
    // then are not meant for it.
    if (!IsWindowVisible(MainWindow))
        return;
    // A pad button held while the window has the focus sends its key here too; taken, it would
    // teach every button the pad's own key. Only keys from elsewhere count.
    if (static_cast<ULONG_PTR>(GetMessageExtraInfo()) == KavitKeyMark)
        return;

    if (assignIndex >= SequenceLength()) {
        // The sequence is complete: this key only confirms it and is stored nowhere.
        ShowWindow(MainWindow, SW_HIDE);
        assignIndex = 0;
        SaveSettingsOrTell();
        return;
    }

    int32_t n = ++assignIndex;
    // Key data: bits 16..23 the scan code, bit 24 set for the keys of the extended set (the right
    // Ctrl and Alt, the arrows and the block above them, the keypad's Enter and /).
    DWORD keyData = static_cast<DWORD>(lParam);
    StoreKey(n, static_cast<int32_t>(wParam), static_cast<int32_t>((keyData >> 16) & 0xFF),
             static_cast<int32_t>((keyData >> 24) & 1));
    if (n == ButtonsPerPad && AppSettings.secondPlayer == 0)
        assignIndex = SequenceComplete;

    RECT whole = {0, 0, MainWindowWidth, MainWindowHeight};
    InvalidateRect(MainWindow, &whole, TRUE);
    UpdateWindow(MainWindow);
}

std::string AssignLabel(int32_t index) {
    if (index >= SequenceComplete)
        return "Complete, press any key to save";
    const TCodes& preset = CurrentPreset();
    if (index < ButtonsPerPad)
        return "Player 1: for [" + preset.name1[index] + "] Button";
    return "Player 2: for [" + preset.name2[index - ButtonsPerPad] + "] Button";
}

void PaintAssignWindow(HWND window) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    // Font and text background stay as the device context has them; the class brush is white.
    SetTextColor(dc, LabelColour);
    TextOutA(dc, LabelX, PromptY, PromptLine, sizeof PromptLine - 1);
    std::string label = AssignLabel(assignIndex);
    TextOutA(dc, LabelX, ButtonLineY, label.c_str(), static_cast<int>(label.size()));
    EndPaint(window, &paint);
}
