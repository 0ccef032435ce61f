// Small pieces every end-to-end case uses: failing with a reason, waiting with a deadline, the
// high-resolution clock.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

// Thrown by a case to end it with "FAIL name: reason".
struct TCaseFailure {
    std::string reason;
};

[[noreturn]] void Fail(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));
void Expect(bool condition, const char* format, ...) __attribute__((format(gnu_printf, 2, 3)));
std::string Format(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));

LONGLONG Now(); // performance counter
double MsBetween(LONGLONG from, LONGLONG to);

// Polls `condition` every `stepMs` until it holds (true) or `timeoutMs` have passed (false).
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs, DWORD stepMs = 2);

// Files, byte for byte.
bool ReadFileBytes(const std::string& path, std::string& bytes);
bool WriteFileBytes(const std::string& path, const std::string& bytes);
// "line 7 differs: expected "Preset=2", got "Preset=1"" or "" when equal.
std::string DescribeDifference(const std::string& expected, const std::string& actual);
