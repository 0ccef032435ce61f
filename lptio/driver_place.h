// Whether the place the driver is loaded from can be changed by someone other than an
// administrator. Whoever can change LPTWDMIO.SYS, its folder, or any folder above it can put
// their own code into the kernel the next time an administrator starts Kavit, and a check of the
// file's contents cannot help: the file can be swapped between the check and the start. So the
// whole path is judged by who may change or replace what it names, a path through a link is
// refused (a link can be repointed after the check), and the file is held open from before the
// check until its service has started, so that what loads is what was judged.
#pragma once

#include <windows.h>

#include <string>

extern const char DriverFileName[]; // "LPTWDMIO.SYS", beside the program

// Where to tell people to put Kavit: a folder that only administrators can change.
extern const char SafeFolderExample[]; // "C:\Program Files\Kavit"

enum TPlaceVerdict {
    PlaceSafe,   // only SYSTEM, Administrators, TrustedInstaller and this user can change it
    PlaceUnsafe, // someone else can, or nobody can tell: no driver may come from there
};

struct TDriverPlace {
    TPlaceVerdict verdict = PlaceSafe;
    // PlaceUnsafe: what makes it so, "C:\Kavit\ can be changed by Everyone (S-1-1-0): write
    // data"; PlaceSafe: empty.
    std::string reason;
};

// What a judged object is to the driver file.
enum TPathPart {
    PartFile,     // the file itself
    PartFolder,   // the folder that holds it (and Kavit.exe)
    PartAncestor, // a folder further up, the volume's root included
};

// The rule on one security descriptor in self-relative form (as GetFileSecurityA hands it out):
// empty when only trusted accounts can change the object, otherwise why not, starting with what
// follows the object's name (" can be changed by ...", " is owned by ...", " has no access
// list ..."). `user` is the running user's SID, or null. Of a folder further up only what lets
// someone replace an entry counts (delete, delete-child, permissions, ownership): creating
// folders in C:\ is normal.
std::string JudgeSecurity(const BYTE* descriptor, DWORD size, const BYTE* user, TPathPart part);

// Judges the driver file `path` ("C:\Kavit\LPTWDMIO.SYS") and every folder from its volume's
// root down. Loads ADVAPI32.DLL for the time of the check; a driver file that does not exist is
// not judged (nothing can be loaded from it).
TDriverPlace JudgeDriverPath(const std::string& path);
// The same for LPTWDMIO.SYS in `directory` (with its trailing separator).
TDriverPlace JudgeDriverPlace(const std::string& directory);

// LPTWDMIO.SYS of a folder, held open so that nobody can write, replace, rename or delete it
// until it is unpinned, and judged while so held.
struct TPinnedDriver {
    HANDLE file = INVALID_HANDLE_VALUE; // INVALID_HANDLE_VALUE: no such file, or refused
    std::string path; // what a service is to load: the path the open file resolves to
    TDriverPlace place;
};
TPinnedDriver PinDriver(const std::string& directory);
void UnpinDriver(TPinnedDriver& pinned);

// "c:\kavit\lptwdmio.sys" names the same file as "C:\Kavit\LPTWDMIO.SYS"; any other spelling
// counts as another path.
bool SamePath(std::string a, std::string b);
