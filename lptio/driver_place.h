// Whether the place the driver is loaded from can be changed by someone other than an
// administrator. Whoever can change LPTWDMIO.SYS or its folder can put their own code into the
// kernel the next time an administrator starts Kavit, and a check of the file's contents cannot
// help: the file can be swapped between the check and the start. So the folder and the file are
// judged by who may change them, before a service is created, repointed or started.
#pragma once

#include <windows.h>

#include <string>

// Where to tell people to put Kavit: a folder that only administrators can change.
extern const char SafeFolderExample[]; // "C:\Program Files\Kavit"

enum TPlaceVerdict {
    PlaceSafe,      // only SYSTEM, Administrators, TrustedInstaller and this user can change it
    PlaceUnsafe,    // someone else can: no driver may come from there
    PlaceNotJudged, // the volume keeps no access rights (FAT32, exFAT): nothing to judge
};

struct TDriverPlace {
    TPlaceVerdict verdict = PlaceSafe;
    // PlaceUnsafe: what makes it so, "C:\Kavit\ can be changed by Everyone (S-1-1-0): write
    // data"; PlaceNotJudged: why not; PlaceSafe: empty.
    std::string reason;
};

// The rule on one security descriptor in self-relative form (as GetFileSecurityA hands it out):
// empty when only trusted accounts can change the object, otherwise why not, starting with what
// follows the object's name (" can be changed by ...", " is owned by ...", " has no access
// list ..."). `user` is the running user's SID, or null; `folder` tells that delete-child counts.
std::string JudgeSecurity(const BYTE* descriptor, DWORD size, const BYTE* user, bool folder);

// Judges `directory` (with its trailing separator) and the driver file in it. Loads ADVAPI32.DLL
// for the time of the check; a driver file that does not exist is not judged (nothing can be
// loaded from it).
TDriverPlace JudgeDriverPlace(const std::string& directory);
