#include "e2e/harness/screen.h"

#include "e2e/common/sim_client.h"
#include "e2e/harness/harness.h"

bool CaptureClient(HWND window, TCapture& capture, std::string& reason) {
    RECT client;
    if (!GetClientRect(window, &client) || client.right <= 0 || client.bottom <= 0) {
        reason = "the window has no client area";
        return false;
    }
    capture.width = client.right;
    capture.height = client.bottom;
    HDC source = GetDC(window);
    if (!source) {
        reason = "GetDC: " + Win32ErrorText(GetLastError());
        return false;
    }
    HDC memory = CreateCompatibleDC(source);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = capture.width;
    info.bmiHeader.biHeight = -capture.height; // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = bitmap != nullptr;
    if (ok) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        ok = BitBlt(memory, 0, 0, capture.width, capture.height, source, 0, 0, SRCCOPY) != FALSE;
        GdiFlush();
        if (ok) {
            const DWORD* p = static_cast<const DWORD*>(bits);
            capture.pixels.resize(static_cast<size_t>(capture.width) * capture.height);
            for (size_t i = 0; i < capture.pixels.size(); i++)
                capture.pixels[i] = RGB((p[i] >> 16) & 0xFF, (p[i] >> 8) & 0xFF, p[i] & 0xFF);
        } else {
            reason = "BitBlt: " + Win32ErrorText(GetLastError());
        }
        SelectObject(memory, old);
        DeleteObject(bitmap);
    } else {
        reason = "CreateDIBSection failed";
    }
    DeleteDC(memory);
    ReleaseDC(window, source);
    return ok;
}

TInk FindInk(const TCapture& capture, int top, int bottom) {
    TInk ink;
    ink.left = capture.width;
    ink.top = bottom;
    for (int y = top; y < bottom && y < capture.height; y++) {
        for (int x = 0; x < capture.width; x++) {
            COLORREF c = capture.At(x, y);
            int r = GetRValue(c), g = GetGValue(c), b = GetBValue(c);
            // Blue on white blends to (v, v, 255): blue stays full whatever the smoothing.
            if (b < 235 || r - g > 24 || g - r > 24)
                ink.notBlue++;
            if (r > 200 && g > 200)
                continue; // background
            ink.count++;
            if (r < 40 && g < 40 && b > 215)
                ink.solidBlue++;
            if (x < ink.left)
                ink.left = x;
            if (x > ink.right)
                ink.right = x;
            if (y < ink.top)
                ink.top = y;
            if (y > ink.bottom)
                ink.bottom = y;
        }
    }
    return ink;
}

int DefaultFontWidth(const std::string& text) {
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    SIZE size = {};
    GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return size.cx;
}

bool SaveBitmap(const TCapture& capture, const std::string& path) {
    int rowBytes = (capture.width * 3 + 3) & ~3;
    BITMAPFILEHEADER file = {};
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof(header);
    header.biWidth = capture.width;
    header.biHeight = capture.height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biSizeImage = static_cast<DWORD>(rowBytes * capture.height);
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof(file) + sizeof(header);
    file.bfSize = file.bfOffBits + header.biSizeImage;
    std::string bytes(reinterpret_cast<const char*>(&file), sizeof(file));
    bytes.append(reinterpret_cast<const char*>(&header), sizeof(header));
    for (int y = capture.height - 1; y >= 0; y--) {
        std::string row(static_cast<size_t>(rowBytes), '\0');
        for (int x = 0; x < capture.width; x++) {
            COLORREF c = capture.At(x, y);
            row[3 * x] = static_cast<char>(GetBValue(c));
            row[3 * x + 1] = static_cast<char>(GetGValue(c));
            row[3 * x + 2] = static_cast<char>(GetRValue(c));
        }
        bytes += row;
    }
    return WriteFileBytes(path, bytes);
}
