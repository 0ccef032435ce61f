#include "scanner/pad_pass.h"

namespace {

// Per step, the select write and one status read per input line: 18 pairs, 30 with two pads.
const int MostPairs = StepCount * (1 + InputLineCount);

} // namespace

TPassOutcome PadPass(TLptPortConnection& connection, PortCode port, int pads, TButtonSink sink,
                     void* context) {
    // The select writes keep the D6 and D7 this read finds, so it is a call of its own. A read
    // that did not happen gives no value at all rather than a 0 that looks like every Ack,
    // Paper-out and Select button held down.
    PortIoPair data = {static_cast<RegisterAddress>(port | RegData), 0};
    if (!connection.ReadPorts(&data, 1))
        return PassPortFailed;
    BYTE keep = static_cast<BYTE>(data.value & KeptDataBits);
    const int lines = pads * LinesPerPad;

    // The status register is read anew for every test, never shared within a step: one read per
    // test (19 accesses a pass, 31 with two pads) is what Kavit has always made, and the batch
    // keeps them, only in one trip into the kernel.
    PortIoPair pairs[MostPairs];
    int count = 0;
    for (int step = 1; step <= StepCount; ++step) {
        pairs[count++] = {static_cast<RegisterAddress>(port | RegData),
                          static_cast<BYTE>(keep | SelectPatterns[step - 1])};
        for (int k = 0; k < lines; ++k)
            pairs[count++] = {static_cast<RegisterAddress>(port | RegStatus | PairRead), 0};
    }
    if (!connection.RunPairs(pairs, static_cast<DWORD>(count)))
        return PassPortFailed;

    for (int step = 1; step <= StepCount; ++step) {
        const PortIoPair* reads = &pairs[(step - 1) * (1 + lines) + 1];
        for (int k = 0; k < lines; ++k) {
            const TInputLine& line = InputLines[k];
            TButtonRead read = {step, line.pad, line.firstButton + step - 1,
                                LineReleasedIn(line, reads[k].value), reads[k].value};
            if (!sink(context, read))
                return PassStopped;
        }
    }
    return PassDone;
}
