// What kavit-check says about the port itself: which one answers, which one another program
// holds, why reading stopped, and how the live view paces itself against Kavit.ini's Interval.
#pragma once

#include <windows.h>

#include <string>

#include "lptio/lptio.h"

// The first port that passed the presence test at connection time, 0 for none.
PortCode FirstPresent(const TLptPortConnection& connection);

// The first port whose batches the driver refuses with ERROR_BUSY because another handle (a
// running Kavit.exe, say) holds it; 0 for none. Asks only when the driver's device is open.
PortCode BusyPort(TLptPortConnection& connection);

// "port: LPT1", "port: LPT2 in use by another program", or "port: none".
std::string PortLine(PortCode present, PortCode busy);

// Why reading the pads stopped, when a plainer reason than the error's text fits: the driver's
// device no longer opens, or another program took the port. Empty: the error's text says it.
std::string PortStoppedReason(DWORD error, bool deviceStillOpens);

// How often the live view reads and redraws: Kavit's own period for the Interval of Kavit.ini
// (common/tick_source.h), but at least every 100 ms (a large or negative Interval would freeze
// the view).
DWORD ViewPeriodMs(DWORD interval);

// A line on an Interval that does not mean what it says (0) or with which Kavit misses presses
// (over a second); empty from 1 to 1000 ms.
std::string IntervalWarning(DWORD interval);
