// Key assignment: "Set keys" shows MainWindow, which then asks for the key of each pad button in
// turn and stores every key in the current preset the moment it is pressed. The key after
// "Complete, press any key to save" hides the window and writes Kavit.ini.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// "Set keys": shows and activates the window. A sequence still under way goes on where it
// stopped; a new one first notes the keys of every preset, for a cancel to go back to.
void StartTeaching();

// Closing the window: hides it and puts back the keys of every preset as they were when the
// sequence began; nothing is written, and the next sequence starts with the first button.
void CancelTeaching();

// WM_KEYDOWN of MainWindow: wParam the virtual-key code, lParam the key data.
void TakeKey(WPARAM wParam, LPARAM lParam);

// WM_PAINT of MainWindow: the prompt and the button the next key is for.
void PaintAssignWindow(HWND window);

// The second line of the window for an assignIndex of 0..24.
std::string AssignLabel(int32_t index);
