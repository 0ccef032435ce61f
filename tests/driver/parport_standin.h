// A machine as the hardware back end of LPTWDMIO.SYS sees it: parport's port devices with their
// allocate/free/waiters routines, the PnP manager's removal notifications, the I/O ports, the pool
// and the running Windows version. Every routine also checks the IRQL it is called at.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

extern "C" {
#include "tests/driver/kernel/ntddk.h"
}

namespace standin {

struct Parport {
    std::wstring name; // what IOCTL_INTERNAL_GET_PARALLEL_PNP_INFO answers: L"LPT1"..
    uintptr_t base;
    bool allocated = false; // by anyone: our driver, or a print job
    int waiters = 0;        // print jobs waiting; FreePort hands the port to the first
    int infoHeld = 0;       // port information given out and not released
    int fileRefs = 0;       // file objects open on the device
    int frees = 0;
    DEVICE_OBJECT device{};
};

struct Registration {
    int parport;
    PDRIVER_NOTIFICATION_CALLBACK_ROUTINE callback;
    PVOID context;
    bool active;
};

struct Access { // a read or a write of one register
    uintptr_t address;
    uint8_t value;
};

struct Machine {
    std::vector<Parport> parports; // index N: \Device\ParallelPortN
    std::map<uintptr_t, uint8_t> registers;
    std::vector<Access> accesses;
    std::vector<Registration> registrations;
    std::vector<std::string> faults; // a routine called at the wrong IRQL, a double release ..
    int irql = 0;
    ULONG major = 10, minor = 0;
    bool registrationsFail = false; // IoRegisterPlugPlayNotification answers STATUS_UNSUCCESSFUL
    std::vector<POOL_TYPE> pools;
};

Machine& M();
// A fresh machine with the given ports (name, base) as parport devices 0, 1, ...
void Reset(const std::vector<std::pair<std::wstring, uintptr_t>>& ports);
// The PnP manager tells every registration on parport device n of an event; `late`: only those
// already unregistered, as XP's PnP manager may still do after IoUnregisterPlugPlayNotification.
void Notify(int n, const GUID& event, bool late = false);
int ActiveRegistrations();

} // namespace standin
