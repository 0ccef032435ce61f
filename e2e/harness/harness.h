// Small pieces every end-to-end case uses: failing with a reason, waiting with a deadline, the
// high-resolution clock.
#pragma once

#include <windows.h>

#include <functional>
#include <stdexcept>
#include <string>

// Ends a case at its first failure: later steps build on earlier ones. The case's wrapper
// (KAVIT_E2E_CASE) hands the reason to GoogleTest with the place of the Fail or Expect.
struct TCaseFailure : std::runtime_error {
    TCaseFailure(const std::string& reason, const char* f, int l)
        : std::runtime_error(reason), file(f), line(l) {}
    const char* file;
    int line;
};

#define Fail(...) FailAt(__FILE__, __LINE__, __VA_ARGS__)
#define Expect(condition, ...) ((condition) ? (void)0 : Fail(__VA_ARGS__))
[[noreturn]] void FailAt(const char* file, int line, const char* format, ...)
    __attribute__((format(gnu_printf, 3, 4)));
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
