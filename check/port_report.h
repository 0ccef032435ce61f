// What kavit-check says about the port itself: which one answers, which one another program
// holds, why reading stopped, and how the live view paces itself against Kavit.ini's Interval.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "check/driver_report.h"
#include "common/port_in_use.h" // BusyPort
#include "lptio/lptio.h"

// "LPT1", "LPT2", "LPT3", or "none" for 0.
const char* PortName(PortCode port);

// The first port that passed the presence test at connection time, 0 for none.
PortCode FirstPresent(const TLptPortConnection& connection);

// "port: LPT1", "port: LPT2 in use by another program", or "port: none".
std::string PortLine(PortCode present, PortCode busy);

// What --once prints, line by line: driver, port, held buttons ("1:3 2:12"), the system lines,
// then the folder line.
std::vector<std::string> OnceLines(const TDriverReport& driver, PortCode present, PortCode busy,
                                   const std::string& held,
                                   const std::vector<std::string>& systemLines,
                                   const std::string& folderLine);

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
