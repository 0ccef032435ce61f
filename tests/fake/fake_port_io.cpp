// The direct transport's port instructions in the host build: logged and answered through
// fake::on.PortIn / fake::on.PortOut instead of touching real I/O ports.
#include "lptio/lptio.h"
#include "tests/fake/fake_win32.h"

BYTE TLptPortConnection::PortIn(WORD address) {
    if (fake::recording)
        fake::calls.push_back(fake::Call{"PortIn", {address}, {}, {}});
    return fake::on.PortIn(address);
}

void TLptPortConnection::PortOut(WORD address, BYTE value) {
    if (fake::recording)
        fake::calls.push_back(fake::Call{"PortOut", {address, value}, {}, {}});
    fake::on.PortOut(address, value);
}
