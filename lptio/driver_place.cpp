// The folder rule: who may change the driver's folder and file, read from their access lists.
#include "lptio/driver_place.h"

#include <algorithm>
#include <vector>

#include "lptio/lptio.h"

const char DriverFileName[] = "LPTWDMIO.SYS";
const char SafeFolderExample[] = "C:\\Program Files\\Kavit";

namespace {

// Access rights that let their holder change a file, or the files of a folder, in the order in
// which a reason names the first one found; `upPath`: also on a folder further up the path,
// where only replacing an entry matters.
struct TRight {
    DWORD mask;
    const char* name;
    bool folderOnly, upPath;
};
const TRight ChangingRights[] = {
    {0x00000002, "write data", false, false},                // FILE_WRITE_DATA, FILE_ADD_FILE
    {0x00000004, "append data", false, false},               // FILE_APPEND_DATA, ADD_SUBDIRECTORY
    {0x00000010, "write extended attributes", false, false}, // FILE_WRITE_EA
    {0x00000100, "write attributes", false, false},          // FILE_WRITE_ATTRIBUTES
    {0x00010000, "delete", false, true},                     // DELETE
    {0x00000040, "delete files in it", true, true},          // FILE_DELETE_CHILD
    {0x00040000, "change its permissions", false, true},     // WRITE_DAC
    {0x00080000, "take ownership", false, true},             // WRITE_OWNER
    {0x40000000, "generic write", false, false},             // GENERIC_WRITE
    {0x10000000, "generic all", false, true},                // GENERIC_ALL
    {0x02000000, "maximum allowed", false, true},            // MAXIMUM_ALLOWED
};

// Layout of the parts of a self-relative security descriptor and its access list.
const WORD DaclPresent = 0x0004;  // SE_DACL_PRESENT
const WORD SelfRelative = 0x8000; // SE_SELF_RELATIVE
const BYTE InheritOnly = 0x08;    // INHERIT_ONLY_ACE
const BYTE AllowedAce = 0x00;     // ACCESS_ALLOWED_ACE_TYPE
const BYTE AllowedObjectAce = 0x05;
const BYTE AllowedCallbackAce = 0x09;
const BYTE AllowedCallbackObjectAce = 0x0B;

WORD Word(const BYTE* at) {
    return static_cast<WORD>(at[0] | at[1] << 8);
}
DWORD Dword(const BYTE* at) {
    return at[0] | at[1] << 8 | at[2] << 16 | static_cast<DWORD>(at[3]) << 24;
}

// Length of the SID at `at`, 0 when it does not fit in `room` bytes.
DWORD SidLength(const BYTE* at, DWORD room) {
    if (room < 8)
        return 0;
    DWORD length = 8 + 4u * at[1];
    return at[0] == 1 && length <= room ? length : 0;
}

// "S-1-5-32-544"
std::string SidText(const BYTE* sid) {
    unsigned long long authority = 0;
    for (int i = 2; i < 8; ++i)
        authority = authority << 8 | sid[i];
    std::string text = "S-1-" + std::to_string(authority);
    for (BYTE i = 0; i < sid[1]; ++i)
        text += "-" + std::to_string(Dword(sid + 8 + 4 * i));
    return text;
}

// Accounts whose name tells people more than the number.
const char* SidName(const std::string& sid) {
    static const std::pair<const char*, const char*> names[] = {
        {"S-1-1-0", "Everyone"},
        {"S-1-3-0", "CREATOR OWNER"},
        {"S-1-5-4", "INTERACTIVE"},
        {"S-1-5-7", "ANONYMOUS LOGON"},
        {"S-1-5-11", "Authenticated Users"},
        {"S-1-5-32-545", "Users"},
        {"S-1-5-32-546", "Guests"},
        {"S-1-5-32-547", "Power Users"},
    };
    for (const auto& name : names)
        if (sid == name.first)
            return name.second;
    return nullptr;
}

std::string Who(const BYTE* sid) {
    std::string text = SidText(sid);
    const char* name = SidName(text);
    return name ? std::string(name) + " (" + text + ")" : text;
}

const char SystemSid[] = "S-1-5-18";
const char AdministratorsSid[] = "S-1-5-32-544";
const char TrustedInstallerSid[] = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
const char CreatorOwnerSid[] = "S-1-3-0";

bool SameSid(const BYTE* a, const BYTE* b) {
    return a && b && a[1] == b[1] && std::equal(a, a + 8 + 4 * a[1], b);
}

// Accounts that may change the driver: the system, administrators, Windows' installer, and the
// user who runs Kavit (an administrator, or the driver could not be loaded at all).
bool Trusted(const BYTE* sid, const BYTE* user) {
    std::string text = SidText(sid);
    return text == SystemSid || text == AdministratorsSid || text == TrustedInstallerSid ||
           SameSid(sid, user);
}

// The first changing right in `mask`, or null.
const char* ChangingRight(DWORD mask, TPathPart part) {
    for (const TRight& right : ChangingRights)
        if ((mask & right.mask) && (part != PartFile || !right.folderOnly) &&
            (part != PartAncestor || right.upPath))
            return right.name;
    return nullptr;
}

// Where the SID of an allow entry starts, 0 when the entry is no allow entry.
DWORD AllowedSidOffset(const BYTE* ace, DWORD aceSize) {
    switch (ace[0]) {
    case AllowedAce:
    case AllowedCallbackAce:
        return 8;
    case AllowedObjectAce:
    case AllowedCallbackObjectAce: {
        if (aceSize < 12)
            return aceSize; // too short to hold a SID: reported as unreadable
        DWORD flags = Dword(ace + 8);
        return 12 + (flags & 1 ? 16 : 0) + (flags & 2 ? 16 : 0);
    }
    default:
        return 0;
    }
}

const char Unreadable[] = ": its access rights cannot be read";

} // namespace

std::string JudgeSecurity(const BYTE* descriptor, DWORD size, const BYTE* user, TPathPart part) {
    if (!descriptor || size < 20 || !(Word(descriptor + 2) & SelfRelative))
        return Unreadable;
    WORD control = Word(descriptor + 2);
    DWORD ownerAt = Dword(descriptor + 4);
    DWORD daclAt = Dword(descriptor + 16);
    if (ownerAt) {
        const BYTE* owner = descriptor + ownerAt;
        if (ownerAt >= size || !SidLength(owner, size - ownerAt))
            return Unreadable;
        if (!Trusted(owner, user))
            return " is owned by " + Who(owner);
    }
    // No list at all gives every right to everyone.
    if (!(control & DaclPresent) || !daclAt)
        return " has no access list, so anyone can change it";
    if (daclAt > size - 8)
        return Unreadable;
    const BYTE* acl = descriptor + daclAt;
    DWORD aclSize = Word(acl + 2);
    if (aclSize < 8 || aclSize > size - daclAt)
        return Unreadable;
    DWORD at = 8;
    for (WORD i = 0, count = Word(acl + 4); i < count; ++i) {
        if (at + 4 > aclSize)
            return Unreadable;
        const BYTE* ace = acl + at;
        DWORD aceSize = Word(ace + 2);
        if (aceSize < 8 || aceSize > aclSize - at)
            return Unreadable;
        at += aceSize;
        DWORD sidAt = AllowedSidOffset(ace, aceSize);
        if (!sidAt)
            continue; // deny and audit entries take nothing away from the rule
        if (sidAt >= aceSize || !SidLength(ace + sidAt, aceSize - sidAt))
            return Unreadable;
        const BYTE* sid = ace + sidAt;
        const char* right = ChangingRight(Dword(ace + 4), part);
        if (!right || Trusted(sid, user))
            continue;
        // Up the path only the folder itself counts: what its children inherit shows on them.
        if (part == PartAncestor && (ace[1] & InheritOnly))
            continue;
        // Given to whoever creates a file later, and not to the object itself.
        if (SidText(sid) == CreatorOwnerSid && (ace[1] & InheritOnly))
            continue;
        return " can be changed by " + Who(sid) + ": " + right;
    }
    return std::string();
}

namespace {

typedef BOOL(WINAPI* TGetFileSecurityA)(LPCSTR name, SECURITY_INFORMATION what,
                                        PSECURITY_DESCRIPTOR descriptor, DWORD size,
                                        LPDWORD needed);
typedef BOOL(WINAPI* TOpenProcessToken)(HANDLE process, DWORD access, PHANDLE token);
typedef BOOL(WINAPI* TGetTokenInformation)(HANDLE token, TOKEN_INFORMATION_CLASS what,
                                           LPVOID buffer, DWORD size, PDWORD needed);

// The root of the volume that holds `path`: "C:\" or "\\server\share\"; empty when the path
// names neither.
std::string VolumeRoot(const std::string& path) {
    if (path.size() >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/'))
        return path.substr(0, 3);
    if (path.size() > 2 && (path[0] == '\\' || path[0] == '/') &&
        (path[1] == '\\' || path[1] == '/')) {
        size_t server = path.find_first_of("\\/", 2);
        size_t share = server == std::string::npos ? server : path.find_first_of("\\/", server + 1);
        if (share != std::string::npos)
            return path.substr(0, share + 1);
    }
    return std::string();
}

// The running user's SID, empty when the token cannot be read.
std::vector<BYTE> UserSid(HMODULE advapi) {
    TOpenProcessToken openProcessToken = EntryPoint<TOpenProcessToken>(advapi, "OpenProcessToken");
    TGetTokenInformation getTokenInformation =
        EntryPoint<TGetTokenInformation>(advapi, "GetTokenInformation");
    std::vector<BYTE> sid;
    HANDLE token = nullptr;
    if (!openProcessToken || !getTokenInformation ||
        !openProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return sid;
    // A TOKEN_USER with a SID of at most 15 sub-authorities fits.
    union {
        TOKEN_USER user;
        BYTE bytes[256];
    } buffer;
    DWORD needed = 0;
    if (getTokenInformation(token, TokenUser, &buffer, sizeof buffer, &needed)) {
        const BYTE* at = static_cast<const BYTE*>(buffer.user.User.Sid);
        DWORD room = static_cast<DWORD>(buffer.bytes + sizeof buffer - at);
        if (at >= buffer.bytes && at < buffer.bytes + sizeof buffer) {
            DWORD length = SidLength(at, room);
            sid.assign(at, at + length);
        }
    }
    CloseHandle(token);
    return sid;
}

// Empty when `path` is safe, otherwise the reason, which names it. A file that is not there is
// safe: nothing can be loaded from it.
std::string JudgeObject(TGetFileSecurityA getFileSecurity, const std::string& path,
                        const std::vector<BYTE>& user, TPathPart part) {
    std::vector<BYTE> descriptor(1024);
    DWORD needed = 0;
    const SECURITY_INFORMATION what = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    BOOL read = getFileSecurity(path.c_str(), what, descriptor.data(),
                                static_cast<DWORD>(descriptor.size()), &needed);
    if (!read && GetLastError() == ERROR_INSUFFICIENT_BUFFER && needed > descriptor.size()) {
        descriptor.resize(needed);
        read = getFileSecurity(path.c_str(), what, descriptor.data(), needed, &needed);
    }
    if (!read) {
        DWORD error = GetLastError();
        if (part == PartFile && (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND))
            return std::string();
        return path + Unreadable + " (error " + std::to_string(error) + ")";
    }
    std::string why = JudgeSecurity(descriptor.data(), static_cast<DWORD>(descriptor.size()),
                                    user.empty() ? nullptr : user.data(), part);
    return why.empty() ? why : path + why;
}

// The folders of `directory` from its volume's root down, each with its trailing separator.
std::vector<std::string> FoldersDown(const std::string& directory) {
    std::string root = VolumeRoot(directory);
    std::vector<std::string> folders = {root};
    for (size_t at = directory.find_first_of("\\/", root.size()); at != std::string::npos;
         at = directory.find_first_of("\\/", at + 1))
        folders.push_back(directory.substr(0, at + 1));
    return folders;
}

// Everything up to the last separator.
std::string DirectoryOf(const std::string& path) {
    size_t at = path.find_last_of("\\/");
    return at == std::string::npos ? std::string() : path.substr(0, at + 1);
}

// Empty when `path` is no junction, symbolic link or mount point.
std::string JudgeLink(const std::string& path) {
    // Asked with a trailing separator, Wine answers for the folder a link points to.
    std::string entry = path;
    if (entry.size() > VolumeRoot(entry).size() && entry.find_last_of("\\/") == entry.size() - 1)
        entry.pop_back();
    DWORD attributes = GetFileAttributesA(entry.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return path + " is a junction or symbolic link, which can be pointed elsewhere";
    return std::string();
}

} // namespace

TDriverPlace JudgeDriverPath(const std::string& path) {
    TDriverPlace place;
    std::string directory = DirectoryOf(path);
    std::string root = VolumeRoot(directory);
    if (root.empty()) {
        place.verdict = PlaceUnsafe;
        place.reason =
            "\"" + path + "\" is no full path, so it cannot be judged from its drive's root";
        return place;
    }
    DWORD flags = 0;
    if (GetVolumeInformationA(root.c_str(), nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) &&
        !(flags & FS_PERSISTENT_ACLS)) {
        place.verdict = PlaceUnsafe;
        place.reason = "the drive of " + directory +
                       " keeps no access rights, as FAT32 and exFAT drives do, so anyone can "
                       "change what is on it";
        return place;
    }
    HMODULE advapi = LoadLibraryA("ADVAPI32.DLL");
    TGetFileSecurityA getFileSecurity =
        advapi ? EntryPoint<TGetFileSecurityA>(advapi, "GetFileSecurityA") : nullptr;
    if (!getFileSecurity) {
        place.reason = directory + Unreadable + ": this Windows offers no way to read them";
    } else {
        std::vector<BYTE> user = UserSid(advapi);
        // From the root down: whoever may replace a folder may replace everything below it,
        // however their lists read.
        std::vector<std::string> folders = FoldersDown(directory);
        for (size_t i = 0; i < folders.size() && place.reason.empty(); ++i) {
            place.reason = JudgeLink(folders[i]);
            if (place.reason.empty())
                place.reason = JudgeObject(getFileSecurity, folders[i], user,
                                           i + 1 < folders.size() ? PartAncestor : PartFolder);
        }
        if (place.reason.empty())
            place.reason = JudgeLink(path);
        if (place.reason.empty())
            place.reason = JudgeObject(getFileSecurity, path, user, PartFile);
    }
    if (!place.reason.empty())
        place.verdict = PlaceUnsafe;
    if (advapi)
        FreeLibrary(advapi);
    return place;
}

TDriverPlace JudgeDriverPlace(const std::string& directory) {
    return JudgeDriverPath(directory + DriverFileName);
}

namespace {

typedef DWORD(WINAPI* TGetFinalPathNameByHandleW)(HANDLE file, LPWSTR path, DWORD size,
                                                  DWORD flags);

// The path an open file resolves to, links and substituted drives followed, as the ANSI
// functions and the service manager take it ("C:\Kavit\LPTWDMIO.SYS"); empty where Windows
// cannot tell (XP has no such call) or the path has a character outside the ANSI code page
// (a best-fit stand-in could name another file).
std::string FinalPath(HANDLE file) {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    TGetFinalPathNameByHandleW getFinalPath =
        kernel ? EntryPoint<TGetFinalPathNameByHandleW>(kernel, "GetFinalPathNameByHandleW")
               : nullptr;
    if (!getFinalPath)
        return std::string();
    const DWORD WidestPath = 32768;
    std::vector<WCHAR> wide(WidestPath);
    DWORD length = getFinalPath(file, wide.data(), WidestPath, 0); // normalised, with a drive
    if (length == 0 || length >= WidestPath)
        return std::string();
    std::vector<char> ansi(length * 2 + 1);
    BOOL substituted = FALSE;
    int bytes =
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(length),
                            ansi.data(), static_cast<int>(ansi.size()), nullptr, &substituted);
    if (bytes <= 0 || substituted)
        return std::string();
    std::string path(ansi.data(), static_cast<size_t>(bytes));
    // "\\?\C:\..." and "\\?\UNC\server\share\...".
    if (path.compare(0, 8, "\\\\?\\UNC\\") == 0)
        return "\\\\" + path.substr(8);
    if (path.compare(0, 4, "\\\\?\\") == 0)
        return path.substr(4);
    return path;
}

} // namespace

bool SamePath(std::string a, std::string b) {
    for (std::string* path : {&a, &b})
        for (char& c : *path)
            if (c >= 'a' && c <= 'z')
                c = static_cast<char>(c - 'a' + 'A');
    return a == b;
}

TPinnedDriver PinDriver(const std::string& directory) {
    TPinnedDriver pinned;
    std::string typed = directory + DriverFileName;
    pinned.path = typed;
    // Others may read it (the kernel's loader does), nobody may write, rename or delete it; a
    // link is opened as itself, so that it shows as one.
    pinned.file = CreateFileA(typed.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (pinned.file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
            pinned.place.verdict = PlaceUnsafe;
            pinned.place.reason = typed + " cannot be held unchanged while it loads (error " +
                                  std::to_string(error) + ": another program may be writing it)";
            return pinned;
        }
    }
    pinned.place = JudgeDriverPath(typed);
    std::string final =
        pinned.file == INVALID_HANDLE_VALUE ? std::string() : FinalPath(pinned.file);
    if (pinned.place.verdict == PlaceSafe && !final.empty() && !SamePath(final, typed)) {
        pinned.place = JudgeDriverPath(final);
        pinned.path = final;
    }
    if (pinned.place.verdict == PlaceUnsafe)
        UnpinDriver(pinned);
    return pinned;
}

void UnpinDriver(TPinnedDriver& pinned) {
    if (pinned.file != INVALID_HANDLE_VALUE)
        CloseHandle(pinned.file);
    pinned.file = INVALID_HANDLE_VALUE;
}
