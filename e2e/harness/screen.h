// Reads back what a window painted, by copying its client area from a device context (Wine's
// PrintWindow gives nothing for a window that does not answer WM_PRINTCLIENT).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct TCapture {
    int width = 0, height = 0;
    std::vector<COLORREF> pixels; // row-major, top row first
    COLORREF At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

bool CaptureClient(HWND window, TCapture& capture, std::string& reason);

// The box around the text pixels in rows [top, bottom): pixels clearly darker than the white
// background. Empty (right < left) when there are none.
struct TInk {
    int left = 0, top = 0, right = -1, bottom = -1;
    int count = 0;     // text pixels
    int solidBlue = 0; // of them, pure blue: RGB(0, 0, 255) within a small tolerance
    int notBlue = 0;   // pixels whose colour is neither white, blue nor a blend of the two
};
TInk FindInk(const TCapture& capture, int top, int bottom);

// Width in pixels of `text` in the font a window's device context starts with.
int DefaultFontWidth(const std::string& text);

// Saves a capture as a 24-bit BMP, for a failure report.
bool SaveBitmap(const TCapture& capture, const std::string& path);
