// Two twelve-button pads wired to one parallel port, behind a simulated port driver: tests (and
// benchmarks) run the real TLptPortConnection and scanner against it through the Win32 stand-in.
//
//   PadMatrix matrix;        // a member that outlives the test's handlers
//   fake::Reset();
//   matrix.Install();        // the driver's device opens; its batches reach this matrix
//   matrix.Press(1, 7);      // pad 1, button 7
//
// The pads answer by wire/pad_wiring.h's PadStatus, the model the simulated driver answers by.
#pragma once

#include <windows.h>

#include <utility>
#include <vector>

#include "lptio/lptio.h"

namespace padsim {

extern HANDLE const DeviceHandle; // what CreateFileA answers for the driver's device

class PadMatrix {
  public:
    // Scripts fake::on.CreateFileA and fake::on.DeviceIoControl. Call after fake::Reset().
    void Install();

    void Press(int pad, int button);
    void Release(int pad, int button);
    void ReleaseAll();

    // The status register as the port would read it now.
    BYTE Status() const;

    PortCode port = PortLpt1; // where the pads are wired; other ports read 0xFF
    bool deviceOpens = true;  // false: the device is missing, as without the driver
    BYTE data = 0x00;         // the data register: the last value written
    BYTE control = 0x0C;      // the control register, never written by the scanner

    unsigned deviceCalls = 0; // DeviceIoControl calls so far
    // The device call with this number (counting deviceCalls from 1) fails with the last error
    // failError, touching neither register nor buffer. 0: none fails.
    unsigned failAt = 0;
    bool failing = false; // every device call fails so, as after the port or driver went away
    DWORD failError = ERROR_WRITE_FAULT;
    bool knowsRunPairs = true; // false: a driver older than IoctlRunPairs ("invalid function")
    // Every register access while fake::recording, in order: its address (OR PairRead for a
    // read) and the value.
    std::vector<std::pair<BYTE, BYTE>> accesses;

  private:
    bool Transfer(DWORD code, BYTE* pairs, DWORD size);
    void Access(bool read, BYTE address, BYTE& value);

    unsigned short held[2] = {}; // bit b-1: button b of that pad
};

} // namespace padsim
