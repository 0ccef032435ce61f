// The simulated driver on its own, through the same calls the program makes: it must behave as
// the port and the pads do, or every later case proves nothing.
#include "e2e/harness/cases.h"
#include "e2e/harness/harness.h"

namespace {

BYTE ReadOne(TEnv& env, BYTE address) {
    BYTE pair[2] = {address, 0};
    if (!env.sim.ReadPorts(pair, 1))
        Fail("read of 0x%02X refused: %s", address, Win32ErrorText(env.sim.lastError).c_str());
    return pair[1];
}

void WriteOne(TEnv& env, BYTE address, BYTE value) {
    BYTE pair[2] = {address, value};
    if (!env.sim.WritePorts(pair, 1))
        Fail("write of 0x%02X refused: %s", address, Win32ErrorText(env.sim.lastError).c_str());
}

// Status register of one pad line pulled low, the others idle (0x7F: Busy reads 0 when high).
struct TLineCase {
    int pad;
    int firstButton;
    BYTE statusWhenPressed;
    const char* line;
};
const TLineCase LineCases[] = {
    {1, 1, 0x3F, "Acknowledge low"},
    {1, 7, 0xFF, "Busy low, read inverted"},
    {2, 1, 0x5F, "Paper out low"},
    {2, 7, 0x6F, "Select low"},
};
// Select pattern of each step (one of D5..D0 low) with D6/D7 set, to show they do not matter.
const BYTE StepPatterns[6] = {0xDF, 0xEF, 0xF7, 0xFB, 0xFD, 0xFE};

void PadMatrix(TEnv& env) {
    env.MakeProgramDir(true, false);
    env.PreloadDriver(SIM_PORT_LPT1);
    Expect(ReadOne(env, 0x11) == 0x7F, "idle status 0x%02X, expected 0x7F", ReadOne(env, 0x11));
    for (const TLineCase& line : LineCases) {
        for (int i = 0; i < 6; i++) {
            int button = line.firstButton + i;
            if (!env.sim.SetPad(line.pad, ButtonBit(button)))
                Fail("set buttons refused: %s", Win32ErrorText(env.sim.lastError).c_str());
            for (int step = 0; step < 6; step++) {
                WriteOne(env, 0x10, StepPatterns[step]);
                BYTE want = step == i ? line.statusWhenPressed : 0x7F;
                BYTE got = ReadOne(env, 0x11);
                Expect(got == want,
                       "pad %d button %d pressed, data 0x%02X: status 0x%02X, expected 0x%02X (%s "
                       "only in step %d)",
                       line.pad, button, StepPatterns[step], got, want, line.line, i + 1);
            }
            // No select line low: nothing reaches the status lines.
            WriteOne(env, 0x10, 0xFF);
            Expect(ReadOne(env, 0x11) == 0x7F, "pad %d button %d read with no select line low",
                   line.pad, button);
        }
        env.sim.ReleaseAll();
    }
    // Several buttons on different lines and steps at once, all select lines low.
    env.sim.SetPad(1, ButtonBit(1) | ButtonBit(12));
    env.sim.SetPad(2, ButtonBit(3) | ButtonBit(8));
    WriteOne(env, 0x10, 0x00);
    BYTE all = ReadOne(env, 0x11);
    Expect(all == 0x8F, "four lines pulled at once: status 0x%02X, expected 0x8F", all);
    WriteOne(env, 0x10, 0xFB); // D2 low: only button 4/10 lines
    Expect(ReadOne(env, 0x11) == 0x7F, "buttons on other select lines answered on D2");
    // The data register keeps what was written, all eight bits.
    for (BYTE v : {0x00, 0x55, 0xAA, 0xFF, 0xC3}) {
        WriteOne(env, 0x10, v);
        Expect(ReadOne(env, 0x10) == v, "data register reads 0x%02X after writing 0x%02X",
               ReadOne(env, 0x10), v);
    }
    BYTE control = ReadOne(env, 0x12);
    Expect(control != 0x00 && control != 0xFF, "control register of a present port reads 0x%02X",
           control);
}

void AbsentPorts(TEnv& env) {
    env.MakeProgramDir(true, false);
    env.PreloadDriver(SIM_PORT_LPT3);
    for (BYTE port : {Lpt1, Lpt2}) {
        WriteOne(env, port, 0x55); // accepted, goes nowhere
        for (BYTE reg = 0; reg < 3; reg++) {
            BYTE v = ReadOne(env, static_cast<BYTE>(port | reg));
            Expect(v == 0xFF, "absent port 0x%02X register %d reads 0x%02X, expected 0xFF", port,
                   reg, v);
        }
    }
    WriteOne(env, Lpt3, 0x55);
    Expect(ReadOne(env, Lpt3) == 0x55, "present LPT3 does not keep its data register");
    Expect(ReadOne(env, Lpt3 | 1) == 0x7F, "present LPT3 status not idle");
    // Plugging LPT1 in gives it its own registers, untouched by the writes while it was absent.
    env.sim.SetPorts(SIM_PORT_LPT1 | SIM_PORT_LPT3);
    Expect(ReadOne(env, Lpt1) == 0x00, "LPT1 data 0x%02X after plugging in, expected 0x00",
           ReadOne(env, Lpt1));
    env.sim.SetPorts(0);
    Expect(ReadOne(env, Lpt3) == 0xFF, "LPT3 still answers with no port present");
}

void BadAddresses(TEnv& env) {
    env.MakeProgramDir(true, false);
    env.PreloadDriver(SIM_PORT_LPT1 | SIM_PORT_LPT2 | SIM_PORT_LPT3);
    WriteOne(env, Lpt1, 0x12);
    const BYTE bad[] = {0x00, 0x01, 0x03, 0x13, 0x1F, 0x40, 0xF0};
    for (BYTE address : bad) {
        BYTE pairs[4] = {0x10, 0x99, address, 0x77};
        Expect(!env.sim.ReadPorts(pairs, 2) && env.sim.lastError != 0,
               "read batch naming 0x%02X was carried out", address);
        Expect(pairs[1] == 0x99, "refused read batch changed the buffer");
        BYTE writes[4] = {0x10, 0x34, address, 0x77};
        Expect(!env.sim.WritePorts(writes, 2) && env.sim.lastError != 0,
               "write batch naming 0x%02X was carried out", address);
        Expect(ReadOne(env, Lpt1) == 0x12,
               "a refused batch wrote its good pair: LPT1 data 0x%02X, expected 0x12",
               ReadOne(env, Lpt1));
    }
    // Batches of any length work and keep their order.
    BYTE batch[8] = {0x10, 0x3E, 0x20, 0x3D, 0x30, 0x3B, 0x10, 0x1F};
    Expect(env.sim.WritePorts(batch, 4), "four-pair write refused: %s",
           Win32ErrorText(env.sim.lastError).c_str());
    BYTE back[6] = {0x10, 0, 0x20, 0, 0x30, 0};
    Expect(env.sim.ReadPorts(back, 3), "three-pair read refused");
    Expect(back[1] == 0x1F && back[3] == 0x3D && back[5] == 0x3B,
           "batch read back %02X %02X %02X, expected 1F 3D 3B", back[1], back[3], back[5]);
}

void FaultsAndLog(TEnv& env) {
    env.MakeProgramDir(true, false);
    env.PreloadDriver(SIM_PORT_LPT1);
    env.ClearLog();
    WriteOne(env, 0x10, 0x2F);
    ReadOne(env, 0x11);
    env.sim.SetFaults(SIM_FAULT_READS);
    BYTE pair[2] = {0x11, 0x42};
    Expect(!env.sim.ReadPorts(pair, 1) && env.sim.lastError != 0,
           "read carried out while reads fail");
    Expect(pair[1] == 0x42, "a refused read changed the buffer");
    WriteOne(env, 0x10, 0x37); // writes still work
    env.sim.SetFaults(SIM_FAULT_WRITES);
    ReadOne(env, 0x10);
    BYTE w[2] = {0x10, 0x00};
    Expect(!env.sim.WritePorts(w, 1), "write carried out while writes fail");
    env.sim.SetFaults(0);

    const std::vector<TSimLogEntry>& log = env.PollLog();
    struct TWant {
        UCHAR op, address, value;
    } want[] = {
        {SIM_OP_WRITE, 0x10, 0x2F},
        {SIM_OP_READ, 0x11, 0x7F},
        {SIM_OP_READ | SIM_OP_REFUSED, 0x11, 0x42},
        {SIM_OP_WRITE, 0x10, 0x37},
        {SIM_OP_READ, 0x10, 0x37},
        {SIM_OP_WRITE | SIM_OP_REFUSED, 0x10, 0x00},
    };
    Expect(log.size() == 6, "%zu accesses logged, expected 6", log.size());
    for (size_t i = 0; i < 6; i++) {
        Expect(log[i].op == want[i].op && log[i].address == want[i].address &&
                   log[i].value == want[i].value && log[i].call == i + 1,
               "log entry %zu is %s", i, DescribeAccess(log[i]).c_str());
    }
    TSimState state;
    Expect(env.sim.GetState(state), "state refused");
    Expect(state.readCalls == 3 && state.writeCalls == 3 && state.failedCalls == 2,
           "counters %lu reads, %lu writes, %lu refused; expected 3, 3, 2",
           static_cast<unsigned long>(state.readCalls),
           static_cast<unsigned long>(state.writeCalls),
           static_cast<unsigned long>(state.failedCalls));
    Expect(state.data[0] == 0x37, "LPT1 data 0x%02X in state, expected 0x37", state.data[0]);
}

void UnloadAndReload(TEnv& env) {
    env.MakeProgramDir(true, false);
    env.PreloadDriver(SIM_PORT_LPT2);
    TSimState first;
    Expect(env.sim.GetState(first), "state refused");
    env.sim.SetPad(1, 0x0FFF);
    env.UnloadDriver(); // stops the service: the unload routine must let the device go
    TSimDevice probe;
    Expect(!probe.Open(), "device still opens after the driver was stopped");
    env.PreloadDriver(SIM_PORT_LPT1);
    TSimState second;
    Expect(env.sim.GetState(second), "state refused after reload");
    Expect(second.loadStamp != first.loadStamp, "the driver was not loaded again");
    Expect(second.buttons[0] == 0 && second.ports == SIM_PORT_LPT1,
           "a reloaded driver kept old buttons 0x%03X / ports 0x%lX", second.buttons[0],
           static_cast<unsigned long>(second.ports));
    env.UnloadDriver();
}

} // namespace

void AddDriverCases(std::vector<TCase>& cases) {
    cases.push_back({"driver_pad_matrix", PadMatrix, false});
    cases.push_back({"driver_absent_ports", AbsentPorts, false});
    cases.push_back({"driver_bad_address_fails_batch", BadAddresses, false});
    cases.push_back({"driver_faults_and_log", FaultsAndLog, false});
    cases.push_back({"driver_unload_and_reload", UnloadAndReload, false});
}
