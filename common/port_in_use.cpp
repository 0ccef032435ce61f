#include "common/port_in_use.h"

PortCode BusyPort(TLptPortConnection& connection) {
    if (connection.deviceHandle == INVALID_HANDLE_VALUE)
        return 0;
    const PortCode codes[] = {PortLpt1, PortLpt2, PortLpt3};
    for (PortCode code : codes) {
        PortIoPair data = {static_cast<RegisterAddress>(code | RegData), 0};
        if (!connection.ReadPorts(&data, 1) && GetLastError() == ERROR_BUSY)
            return code;
    }
    return 0;
}
