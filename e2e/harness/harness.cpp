#include "e2e/harness/harness.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace {

std::string FormatList(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    int n = vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text(n > 0 ? static_cast<size_t>(n) : 0, '\0');
    if (n > 0)
        vsnprintf(&text[0], text.size() + 1, format, args);
    return text;
}

std::string Printable(const std::string& line) {
    std::string out;
    for (unsigned char c : line) {
        if (c >= 32 && c < 127) {
            out += static_cast<char>(c);
        } else {
            char code[8];
            snprintf(code, sizeof(code), "\\x%02X", c);
            out += code;
        }
    }
    return out;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end + 1 - start));
        start = end + 1;
    }
    return lines;
}

} // namespace

std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = FormatList(format, args);
    va_end(args);
    return text;
}

void FailAt(const char* file, int line, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = FormatList(format, args);
    va_end(args);
    throw TCaseFailure(text, file, line);
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
    DWORD start = GetTickCount();
    for (;;) {
        if (condition())
            return true;
        if (GetTickCount() - start >= timeoutMs)
            return condition();
        Sleep(stepMs);
    }
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
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD n = 0;
    bool ok = bytes.empty() ||
              (WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr) &&
               n == bytes.size());
    return CloseHandle(file) && ok;
}

std::string DescribeDifference(const std::string& expected, const std::string& actual) {
    if (expected == actual)
        return "";
    std::vector<std::string> want = SplitLines(expected), got = SplitLines(actual);
    for (size_t i = 0; i < want.size() || i < got.size(); i++) {
        if (i < want.size() && i < got.size() && want[i] == got[i])
            continue;
        return Format("line %zu differs: expected \"%s\", got \"%s\" (%zu bytes expected, %zu "
                      "found)",
                      i + 1, i < want.size() ? Printable(want[i]).c_str() : "<end of file>",
                      i < got.size() ? Printable(got[i]).c_str() : "<end of file>", expected.size(),
                      actual.size());
    }
    return "contents differ";
}
