// Small pieces every end-to-end case uses: waiting with a deadline, the high-resolution clock,
// files byte for byte. Failures are GoogleTest's: main() installs a listener that ends a case at
// its first fatal failure (ASSERT_*, FAIL), wherever it is written, since later steps build on
// earlier ones; so a helper returning a value asserts inside a lambda and returns only on success.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

std::string Format(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));

LONGLONG Now(); // performance counter
double MsBetween(LONGLONG from, LONGLONG to);

// Polls `condition` every `stepMs` until it holds (true) or `timeoutMs` have passed (false).
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs, DWORD stepMs = 2);

// Win32ErrorText(GetLastError()): "error 2 (The system cannot find the file specified)".
std::string LastErrorText();

bool ReadFileBytes(const std::string& path, std::string& bytes);
bool WriteFileBytes(const std::string& path, const std::string& bytes);
