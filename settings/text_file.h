// Whole text files through Win32: read in one go, and replaced so that a failure part-way never
// leaves a shortened or mixed file behind.
#pragma once

#include <string>

// The whole file; reading stops early after the chunk that holds a byte 26, since nothing after
// that byte counts. False when the file cannot be opened or read.
bool ReadWholeFile(const std::string& path, std::string& content);

// The temporary file of `path`: the same path with its last three characters made "$$$"
// ("Kavit.ini" gives "Kavit.$$$"), so never longer than `path` itself.
std::string TemporaryPath(const std::string& path);

// Writes `content` to TemporaryPath(path), flushes and closes it, then moves it over `path` in
// one step. On any failure the temporary file is removed, `path` is as it was, and the result is
// false; nothing is shown.
bool ReplaceWholeFile(const std::string& path, const std::string& content);
