#include "settings/text_file.h"

#include <windows.h>

#include <cstring>

#include "settings/text_reader.h"

namespace {

const DWORD FileChunk = 64 * 1024; // bytes per ReadFile or WriteFile call

bool WriteAll(HANDLE file, const std::string& content) {
    const char* next = content.data();
    size_t left = content.size();
    while (left) {
        DWORD part = left < FileChunk ? static_cast<DWORD>(left) : FileChunk;
        DWORD written = 0;
        // A write that reports success but moves nothing would loop for ever: count it as failed.
        if (!WriteFile(file, next, part, &written, nullptr) || written == 0 || written > part)
            return false;
        next += written;
        left -= written;
    }
    return true;
}

} // namespace

std::string TemporaryPath(const std::string& path) {
    // No longer than the file itself: a folder that leaves just room for "Kavit.ini" within the
    // ANSI path limit leaves room for its temporary too.
    size_t from = path.size() < 3 ? 0 : path.size() - 3;
    char mark = path.compare(from, std::string::npos, "$$$") == 0 ? '~' : '$';
    std::string temporary = path;
    for (size_t i = from; i < temporary.size(); ++i)
        temporary[i] = mark;
    return temporary;
}

bool ReadWholeFile(const std::string& path, std::string& content) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    content.clear();
    bool ok = true;
    for (;;) {
        size_t have = content.size();
        content.resize(have + FileChunk);
        DWORD got = 0;
        if (!ReadFile(file, &content[have], FileChunk, &got, nullptr) || got > FileChunk) {
            ok = false;
            got = 0;
        }
        content.resize(have + got);
        if (!ok || got == 0 || std::memchr(content.data() + have, EndOfFileChar, got))
            break;
    }
    CloseHandle(file); // everything is read; a failing close loses nothing
    return ok;
}

bool ReplaceWholeFile(const std::string& path, const std::string& content) {
    std::string temporary = TemporaryPath(path);
    HANDLE file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bool written = WriteAll(file, content) && FlushFileBuffers(file);
    // Closed exactly once, whatever happened before: a failed close is not retried.
    bool closed = CloseHandle(file) != FALSE;
    if (written && closed &&
        MoveFileExA(temporary.c_str(), path.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    DeleteFileA(temporary.c_str());
    return false;
}
