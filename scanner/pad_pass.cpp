#include "scanner/pad_pass.h"

namespace {

// A single-register read with the outcome in hand: a read that did not happen gives no value at
// all rather than a 0 that looks like every Ack, Paper-out and Select button held down.
bool ReadRegister(TLptPortConnection& connection, RegisterAddress address, BYTE& value) {
    PortIoPair pair = {address, 0};
    if (!connection.ReadPorts(&pair, 1))
        return false;
    value = pair.value;
    return true;
}

} // namespace

bool PadPass(TLptPortConnection& connection, PortCode port, int pads, TButtonSink sink,
             void* context) {
    BYTE data;
    if (!ReadRegister(connection, static_cast<RegisterAddress>(port | RegData), data))
        return false;
    BYTE keep = static_cast<BYTE>(data & KeptDataBits);
    for (int step = 1; step <= StepCount; ++step) {
        // A pattern that did not reach the port ends the pass: the reads after it would report
        // the buttons of whatever line was still low.
        if (!connection.WritePort(port, RegData,
                                  static_cast<BYTE>(keep | SelectPatterns[step - 1])))
            return false;
        for (int k = 0; k < pads * LinesPerPad; ++k) {
            // The status register is read anew for every test, never shared within a step: a
            // test's events go out before the next read, so each line is judged by the port as
            // it stands then, not as it stood before the previous button's events; and one read
            // per test (19 accesses a pass, 31 with two pads) is what Kavit has always made.
            const TInputLine& line = InputLines[k];
            TButtonRead read = {step, line.pad, line.firstButton + step - 1, false, 0};
            if (!ReadRegister(connection, static_cast<RegisterAddress>(port | RegStatus),
                              read.status))
                return false;
            read.released = LineReleasedIn(line, read.status);
            if (!sink(context, read))
                return false;
        }
    }
    return true;
}
