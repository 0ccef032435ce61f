#include "check/port_report.h"

#include <cstdio>

#include "common/tick_source.h"

namespace {

const DWORD LongestViewPeriodMs = 100;
const DWORD LongestSensibleInterval = 1000;

} // namespace

const char* PortName(PortCode port) {
    switch (port) {
    case PortLpt1:
        return "LPT1";
    case PortLpt2:
        return "LPT2";
    case PortLpt3:
        return "LPT3";
    default:
        return "none";
    }
}

PortCode FirstPresent(const TLptPortConnection& connection) {
    if (connection.lpt1Present)
        return PortLpt1;
    if (connection.lpt2Present)
        return PortLpt2;
    if (connection.lpt3Present)
        return PortLpt3;
    return 0;
}

std::string PortLine(PortCode present, PortCode busy) {
    if (!present && busy)
        return std::string("port: ") + PortName(busy) + " in use by another program";
    return std::string("port: ") + PortName(present);
}

std::vector<std::string> OnceLines(const TDriverReport& driver, PortCode present, PortCode busy,
                                   const std::string& held,
                                   const std::vector<std::string>& systemLines,
                                   const std::string& folderLine) {
    std::vector<std::string> lines = {"driver: " + DriverLine(driver), PortLine(present, busy),
                                      held.empty() ? "held:" : "held: " + held};
    lines.insert(lines.end(), systemLines.begin(), systemLines.end());
    lines.push_back(folderLine);
    return lines;
}

std::string PortStoppedReason(DWORD error, bool deviceStillOpens) {
    if (!deviceStillOpens)
        return "the port driver went away: its service was stopped or the driver unloaded";
    if (error == ERROR_BUSY)
        return "another program, such as Kavit.exe, took the port";
    return "";
}

DWORD ViewPeriodMs(DWORD interval) {
    DWORD period = PollPeriodMs(interval);
    return period > LongestViewPeriodMs ? LongestViewPeriodMs : period;
}

std::string IntervalWarning(DWORD interval) {
    char text[300];
    if (interval == 0)
        return "note: Interval=0 in Kavit.ini: Kavit reads the pads every 10 ms, as with "
               "Interval=10.";
    if (interval <= LongestSensibleInterval)
        return "";
    snprintf(text, sizeof text,
             "warning: Interval=%lu in Kavit.ini%s: Kavit reads the pads only every %.1f s, so "
             "a press shorter than that is missed and keys come late. Set it to 10 (milliseconds "
             "between two reads).",
             static_cast<unsigned long>(interval),
             interval > 0x7FFFFFFFu ? " (a negative number reads as this)" : "",
             PollPeriodMs(interval) / 1000.0);
    return text;
}
