#include "app/port_wait.h"

#include <string>

#include "app/app_state.h"
#include "common/port_in_use.h"
#include "common/tray_icon.h"

namespace {

// Tried in this order; the first that answers is the one the pads hang on.
const PortCode PortSearchOrder[] = {PortLpt1, PortLpt2, PortLpt3};

const UINT PortWaitMilliseconds = 1000;

bool FindAnsweringPort() {
    for (PortCode port : PortSearchOrder) {
        if (PortConnection->PortPresent(port)) {
            selectedPort = port;
            return true;
        }
    }
    return false;
}

// "Kavit program: LPT2 in use by another program"
std::string PortInUseTip(PortCode port) {
    return "Kavit program: LPT" + std::to_string(LPT_ADDRESS_PORT(port)) +
           " in use by another program";
}

} // namespace

void ChoosePort() {
    if (FindAnsweringPort())
        return;
    PortCode busy = BusyPort(*PortConnection);
    if (!busy)
        return;
    SetTrayTip(PortInUseTip(busy).c_str());
    SetTimer(MainWindow, TimerPortWait, PortWaitMilliseconds, nullptr);
}

void LookForPortAgain() {
    if (!FindAnsweringPort() && BusyPort(*PortConnection))
        return;
    KillTimer(MainWindow, TimerPortWait);
    SetTrayTip(nullptr);
    TrayIcon(TrayModify, currentTrayIcon);
}
