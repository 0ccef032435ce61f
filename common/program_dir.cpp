#include "common/program_dir.h"

#include <windows.h>

#include <vector>

#include "lptio/driver_place.h"

std::string programDir;

namespace {

// The longest name the program opens beside itself through the ANSI file functions
// ("Kavit.ini"): every such path must stay within what they take. The driver's path only goes to
// the service manager, which has no such limit.
const size_t LongestNameBeside = 9;

// Everything up to the last separator; a drive colon ends a directory too ("C:Kavit.exe").
std::string DirectoryPart(const char* path, size_t length) {
    size_t end = 0;
    for (size_t i = 0; i < length; ++i)
        if (path[i] == '\\' || path[i] == '/' || path[i] == ':')
            end = i + 1;
    return std::string(path, end);
}

bool FitsBeside(const std::string& directory) {
    return directory.size() + LongestNameBeside < MAX_PATH;
}

// The program's path read in full as Windows keeps it, shortened to its 8.3 form and then
// converted to the ANSI code page without any best-fit stand-ins; empty when a character has no
// ANSI form (8.3 names switched off, or a short name that is not plain either) or the result is
// still too long.
std::string ShortProgramDirectory() {
    const DWORD WidestPath = 32768; // the longest path Windows has, in characters
    std::vector<WCHAR> wide(WidestPath), shortened(WidestPath);
    DWORD length = GetModuleFileNameW(nullptr, wide.data(), WidestPath);
    if (length == 0 || length >= WidestPath)
        return std::string();
    length = GetShortPathNameW(wide.data(), shortened.data(), WidestPath);
    if (length == 0 || length >= WidestPath)
        return std::string();
    char ansi[MAX_PATH];
    BOOL substituted = FALSE;
    int bytes =
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, shortened.data(),
                            static_cast<int>(length), ansi, MAX_PATH, nullptr, &substituted);
    if (bytes <= 0 || substituted)
        return std::string();
    std::string directory = DirectoryPart(ansi, static_cast<size_t>(bytes));
    return FitsBeside(directory) ? directory : std::string();
}

} // namespace

std::string ProgramDirectory(std::string* problem) {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    // A path that fills the buffer was cut off (Windows XP does not even end it with a zero).
    bool cutOff = length == 0 || length >= MAX_PATH;
    std::string directory = DirectoryPart(path, cutOff ? 0 : length);
    // No file name holds a '?': it is what the ANSI functions put for a character that the code
    // page lacks, so such a folder name leads nowhere.
    bool plain = directory.find('?') == std::string::npos;
    if (!cutOff && plain && FitsBeside(directory))
        return directory;
    directory = ShortProgramDirectory();
    if (directory.empty() && problem) {
        std::string shown = length == 0 ? std::string()
                            : cutOff    ? std::string(path, MAX_PATH - 1) + "..."
                                        : std::string(path, length);
        *problem = "Kavit cannot use the folder it was started from:\n" + shown + "\n\n" +
                   (plain ? "Its path is too long for Kavit."
                          : "Its name has characters outside the character set that Windows "
                            "gives Kavit, and Windows has no short (8.3) name for it.") +
                   " Move the Kavit folder to one with a short, plain name, such as " +
                   SafeFolderExample + ".";
    }
    return directory;
}
