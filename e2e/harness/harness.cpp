#include "e2e/harness/harness.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "e2e/common/sim_client.h"

std::string Format(const char* format, ...) {
    va_list args, copy;
    va_start(args, format);
    va_copy(copy, args);
    std::string text(std::max(vsnprintf(nullptr, 0, format, copy), 0), '\0');
    va_end(copy);
    vsnprintf(&text[0], text.size() + 1, format, args); // with its '\0' on text[size()]
    va_end(args);
    return text;
}

std::string LastErrorText() {
    return Win32ErrorText(GetLastError());
}

LONGLONG Now() {
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return counter.QuadPart;
}

double MsBetween(LONGLONG from, LONGLONG to) {
    static const double frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart);
    }();
    return static_cast<double>(to - from) * 1000.0 / frequency;
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs, DWORD stepMs) {
    for (DWORD start = GetTickCount(); !condition(); Sleep(stepMs))
        if (GetTickCount() - start >= timeoutMs)
            return condition();
    return true;
}

bool ReadFileBytes(const std::string& path, std::string& bytes) {
    bytes.clear();
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    char buffer[4096];
    DWORD n = 0;
    bool ok = true;
    while ((ok = ReadFile(file, buffer, sizeof(buffer), &n, nullptr) != FALSE) && n > 0)
        bytes.append(buffer, n);
    CloseHandle(file);
    return ok;
}

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
    FILE* file = fopen(path.c_str(), "wb");
    bool written = file && fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return file && fclose(file) == 0 && written;
}
