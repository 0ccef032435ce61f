// Why the port driver did or did not load, in words a user can act on.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "lptio/driver_service.h"
#include "lptio/lptio.h"

struct TDriverReport {
    bool ok = false;    // the ports can be reached (through the driver, or directly on 9x)
    std::string reason; // one line: "ok", or why the driver did not load
    std::string advice; // what to do about it, may span lines; empty when there is nothing to do
    DWORD code = 0;     // the Windows error code behind the reason, 0 when there is none
    bool startFailed = false; // the file looked right, the service was there, its start failed
    bool ownCause = false;    // the error names a cause that test signing does not explain
};

// Looks at a connection just built after StartDriverService (its service, if it installed one,
// still registered) and at the driver file beside the program.
TDriverReport DiagnoseDriver(TLptPortConnection& connection);

// The service manager's answer to the driver's start, in words.
TDriverReport StartFailed(DWORD error, WORD native);

// What to do so that this Windows loads a driver signed only for testing, as ours is.
std::string SignatureAdvice(WORD native);

// "folder: safe", or "folder: " and what lets others change the driver's folder or file, or why
// that cannot be judged.
std::string FolderLine(const TLptPortConnection& connection);

// What follows "driver: ": the reason, and the error behind it when there is one.
std::string DriverLine(const TDriverReport& report);

// Advice as the report prints it: each line indented by four blanks and wrapped between words so
// that none is longer than 79 characters (an 80-column console wraps a full line by itself).
std::vector<std::string> IndentedLines(const std::string& text);

// "error 577: Windows cannot verify the digital signature for this file."
std::string ErrorText(DWORD code);

// Machine types, as IMAGE_FILE_MACHINE_* names them.
const WORD MachineI386 = 0x014C;
const WORD MachineAmd64 = 0x8664;
const WORD MachineArm64 = 0xAA64;

// The machine type a program must be built for to run natively here.
WORD NativeMachine();
// The machine type in a PE file's header, 0 when the file is no PE image. False when the file
// cannot be read.
bool ReadFileMachine(const std::string& path, WORD& machine);
// "64-bit (x64)"
const char* MachineName(WORD machine);
