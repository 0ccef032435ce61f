// The driver service: on the NT family the port driver is loaded as the kernel-driver service
// "lptwdmio" from LPTWDMIO.SYS beside the program. Kavit.exe and kavit-check both go
//
//     StartDriverService(directory);       // the service up before the device is opened
//     TLptPortConnection* connection = new TLptPortConnection;
//     ...
//     ClosePortConnection(connection);     // the device closed, then the last one out
//
// A driver is loaded only from a place that passes the folder rule (lptio/driver_place.h). A
// driver already running is judged by the same rule where its service loads it from; from a place
// others can change, its service is never touched. Otherwise the driver belongs to whoever uses
// it last: at the end the service is stopped and deleted when the connection's handle was the
// only one open (by the driver's own count, asked through a fresh handle when that one no longer
// answered), or, with a driver that cannot count, when this run installed it.
// Nothing is shown and nothing raised: what happened is kept for whoever tells the user.
#pragma once

#include <windows.h>

#include <string>

#include "lptio/driver_place.h"
#include "lptio/lptio.h"

// What StartDriverService did and found; cleared by EndDriverService.
struct TDriverService {
    // This run owns the service (created, left behind and taken over, or started by it); the last
    // one out removes it.
    bool serviceInstalled = false;
    std::string driverPath; // the file the service was pointed at; empty when none was
    // GetLastError() right after a StartServiceA that failed; 0 when the start succeeded or was
    // not tried. Only for telling the user why the driver did not load.
    DWORD serviceStartError = 0;
    // GetLastError() right after a ChangeServiceConfigA that failed to point a service left
    // behind at our driver file (the service was then not started); 0 otherwise.
    DWORD serviceConfigError = 0;
    // The folder rule's verdict on the program's folder and driver file, taken before a service
    // was created or started; PlaceSafe when that never came up. PlaceUnsafe means that nothing
    // was loaded from there.
    TDriverPlace driverPlace;
    // The same rule on the file that the service of a driver already running loads; PlaceSafe
    // when there was none to judge. PlaceUnsafe: the driver is used, its service left alone.
    TDriverPlace runningPlace;
};
const TDriverService& DriverService();

// On NT, before the port connection is built: when the driver's device does not open, installs
// and starts the service from LPTWDMIO.SYS in `directory` (with its trailing separator); when it
// does, takes over a driver left behind that nobody else holds. Nothing outside the NT family.
void StartDriverService(const std::string& directory);

// After the connection has closed its device, `handlesAtClose` being what CloseDevice answered:
// removes the service when this run is the last one out, and lets go of the service manager.
void EndDriverService(DWORD handlesAtClose);

// Closes the connection's device, deletes the connection and then ends the service as above; with
// no connection only the end of the service.
void ClosePortConnection(TLptPortConnection*& connection);

// Asks the service manager again whether it lets this process in, through the entry points that
// StartDriverService resolved: false with `error` 0 when it resolved none (no service manager on
// this Windows), false with the manager's error when it refuses, true when it opens.
bool ServiceManagerOpens(DWORD& error);
