// The simulated driver on its own, through the same calls the program makes: it must behave as
// the port and the pads do, or every later case proves nothing.
#include "e2e/harness/cases.h"
#include "e2e/harness/harness.h"
#include "wire/pad_wiring.h"

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <cstdio>
#include <initializer_list>

extern "C" {
#include "driver/batch.h"
}

namespace {

// The driver loaded by the harness from a program directory without Kavit.exe.
void LoadDriverOnly(TEnv& env, ULONG ports) {
    env.MakeProgramDir(true, false);
    env.PreloadDriver(ports);
}

BYTE ReadOne(TEnv& env, BYTE address) {
    BYTE pair[2] = {address, 0};
    Require(env.sim, env.sim.ReadPorts(pair, 1), Format("read of 0x%02X refused", address));
    return pair[1];
}

void WriteOne(TEnv& env, BYTE address, BYTE value) {
    BYTE pair[2] = {address, value};
    Require(env.sim, env.sim.WritePorts(pair, 1), Format("write of 0x%02X refused", address));
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

void PadMatrix(TEnv& env) {
    LoadDriverOnly(env, SIM_PORT_LPT1);
    Expect(ReadOne(env, 0x11) == 0x7F, "idle status 0x%02X, expected 0x7F", ReadOne(env, 0x11));
    for (const TLineCase& line : LineCases) {
        for (int i = 0; i < 6; i++) {
            int button = line.firstButton + i;
            Require(env.sim, env.sim.SetPad(line.pad, ButtonBit(button)), "set buttons refused");
            for (int step = 0; step < 6; step++) {
                // With D6/D7 set, to show they do not matter.
                BYTE pattern = static_cast<BYTE>(KeptDataBits | SelectPatterns[step]);
                WriteOne(env, 0x10, pattern);
                BYTE want = step == i ? line.statusWhenPressed : 0x7F;
                BYTE got = ReadOne(env, 0x11);
                Expect(got == want,
                       "pad %d button %d pressed, data 0x%02X: status 0x%02X, expected 0x%02X (%s "
                       "only in step %d)",
                       line.pad, button, pattern, got, want, line.line, i + 1);
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
    LoadDriverOnly(env, SIM_PORT_LPT3);
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
    LoadDriverOnly(env, SIM_PORT_LPT1 | SIM_PORT_LPT2 | SIM_PORT_LPT3);
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
    Require(env.sim, env.sim.WritePorts(batch, 4), "four-pair write refused");
    BYTE back[6] = {0x10, 0, 0x20, 0, 0x30, 0};
    Expect(env.sim.ReadPorts(back, 3), "three-pair read refused");
    Expect(back[1] == 0x1F && back[3] == 0x3D && back[5] == 0x3B,
           "batch read back %02X %02X %02X, expected 1F 3D 3B", back[1], back[3], back[5]);
}

void FaultsAndLog(TEnv& env) {
    LoadDriverOnly(env, SIM_PORT_LPT1);
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
    LoadDriverOnly(env, SIM_PORT_LPT2);
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

// Batches the program never sends, each refused as a whole: nothing read into the buffer, no
// register written, a Win32 error for the caller; and the driver serves the next good batch.
struct TMalformed {
    std::string what;
    std::vector<BYTE> bytes;
    DWORD inLength, outLength;
};

std::vector<BYTE> Pairs(std::initializer_list<BYTE> addresses, BYTE value) {
    std::vector<BYTE> bytes;
    for (BYTE a : addresses) {
        bytes.push_back(a);
        bytes.push_back(value);
    }
    return bytes;
}

std::vector<TMalformed> MalformedBatches() {
    std::vector<TMalformed> batches = {
        {"odd length", Pairs({0x10, 0x10}, 0xA5), 3, 4},
        {"no pair", Pairs({0x10}, 0xA5), 0, 2},
        {"output shorter than input", Pairs({0x10, 0x10}, 0xA5), 4, 2},
        {"good pair then offset 3", Pairs({0x10, 0x13}, 0xA5), 4, 4},
        {"port 4 then good pair", Pairs({0x40, 0x10}, 0xA5), 4, 4},
    };
    std::vector<BYTE> overCap;
    for (int i = 0; i <= LPT_BATCH_MAX_PAIRS; i++) {
        overCap.push_back(0x10);
        overCap.push_back(0xA5);
    }
    DWORD overLength = static_cast<DWORD>(overCap.size());
    batches.push_back({"one pair over the cap", overCap, overLength, overLength});
    for (int port = 0; port <= 15; port++) {
        if (port >= 1 && port <= 3)
            continue;
        batches.push_back(
            {Format("port %d", port), Pairs({static_cast<BYTE>(port << 4)}, 0xA5), 2, 2});
    }
    for (int reg = 3; reg <= 15; reg++)
        batches.push_back(
            {Format("offset %d", reg), Pairs({static_cast<BYTE>(0x10 | reg)}, 0xA5), 2, 2});
    return batches;
}

void MalformedBatchesRefused(TEnv& env) {
    LoadDriverOnly(env, SIM_PORT_LPT1 | SIM_PORT_LPT2 | SIM_PORT_LPT3);
    WriteOne(env, Lpt1, 0x5A);
    env.ClearLog();
    for (const TMalformed& m : MalformedBatches()) {
        for (DWORD code : {DWORD(LPT_IOCTL_READ_PORTS), DWORD(LPT_IOCTL_WRITE_PORTS)}) {
            const char* kind = code == LPT_IOCTL_READ_PORTS ? "read" : "write";
            std::vector<BYTE> buffer = m.bytes;
            buffer.resize(std::max<size_t>(buffer.size(), m.outLength) + 2, 0xEE);
            const std::vector<BYTE> before = buffer;
            Expect(!env.sim.Batch(code, buffer.data(), m.inLength, m.outLength) &&
                       env.sim.lastError != 0,
                   "%s batch, %s: carried out", kind, m.what.c_str());
            Expect(buffer == before, "%s batch, %s: refused, but the buffer changed", kind,
                   m.what.c_str());
            Expect(ReadOne(env, Lpt1) == 0x5A, "%s batch, %s: LPT1 data 0x%02X, expected 0x5A",
                   kind, m.what.c_str(), ReadOne(env, Lpt1));
        }
    }
    // Nothing but the checking reads above reached a register.
    for (const TSimLogEntry& e : env.PollLog()) {
        if (!(e.op & SIM_OP_REFUSED))
            Expect(e.op == SIM_OP_READ && e.address == Lpt1, "a refused batch did %s",
                   DescribeAccess(e).c_str());
    }
    std::vector<BYTE> full;
    for (int i = 0; i < LPT_BATCH_MAX_PAIRS; i++) {
        full.push_back(
            static_cast<BYTE>((i % 3 + 1) << 4 | i % 3)); // LPT1 data, LPT2 status, LPT3 control
        full.push_back(0);
    }
    Expect(env.sim.ReadPorts(full.data(), LPT_BATCH_MAX_PAIRS), "a batch of %d pairs refused: %s",
           LPT_BATCH_MAX_PAIRS, Win32ErrorText(env.sim.lastError).c_str());
    WriteOne(env, Lpt1, 0x3C);
    Expect(ReadOne(env, Lpt1) == 0x3C, "good batches not served after the refused ones");
}

// A handle of its own, opened as a program opens the device, that speaks to the driver with plain
// DeviceIoControl: a client of the device beside the harness's own (which, sending private codes,
// is the test bench and takes no part in sharing a port).
struct TClient {
    HANDLE handle;
    explicit TClient(DWORD access = GENERIC_READ | GENERIC_WRITE)
        : handle(CreateFileA(LPT_USER_PATH, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)) {
        if (handle == INVALID_HANDLE_VALUE)
            Fail("device does not open: %s", Win32ErrorText(GetLastError()).c_str());
    }
    ~TClient() { Close(); }
    void Close() {
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
        handle = INVALID_HANDLE_VALUE;
    }
    // 0 when carried out, else the Win32 error.
    DWORD Io(DWORD code, void* in, DWORD inLength, void* out, DWORD outLength) {
        DWORD n = 0;
        return DeviceIoControl(handle, code, in, inLength, out, outLength, &n, nullptr)
                   ? 0
                   : GetLastError();
    }
    DWORD Read(std::initializer_list<BYTE> addresses) {
        std::vector<BYTE> pairs = Pairs(addresses, 0);
        DWORD length = static_cast<DWORD>(pairs.size());
        return Io(LPT_IOCTL_READ_PORTS, pairs.data(), length, pairs.data(), length);
    }
    DWORD Print(DWORD code, ULONG ports) { return Io(code, &ports, sizeof(ports), nullptr, 0); }
};

// A request's outcome: carried out (0) or the Win32 error `want`.
void ExpectResult(DWORD got, DWORD want, const char* what) {
    Expect(got == want, "%s: %s", what, got ? Win32ErrorText(got).c_str() : "carried out");
}

TSimState State(TEnv& env) {
    TSimState state;
    Require(env.sim, env.sim.GetState(state), "state refused");
    return state;
}

// The status register is read, never written: a write batch naming it is refused whole.
void StatusWriteRefused(TEnv& env) {
    LoadDriverOnly(env, SIM_PORT_LPT1 | SIM_PORT_LPT2);
    WriteOne(env, Lpt1, 0x5A);
    env.ClearLog();
    const std::vector<std::vector<BYTE>> batches = {Pairs({0x11}, 0xFF), Pairs({0x10, 0x11}, 0x33),
                                                    Pairs({0x21, 0x12}, 0x04)};
    for (const std::vector<BYTE>& batch : batches) {
        std::vector<BYTE> pairs = batch;
        Expect(!env.sim.WritePorts(pairs.data(), static_cast<DWORD>(pairs.size() / 2)) &&
                   env.sim.lastError == ERROR_INVALID_PARAMETER,
               "write batch of %zu pairs naming a status register: %s", pairs.size() / 2,
               env.sim.lastError ? Win32ErrorText(env.sim.lastError).c_str() : "carried out");
    }
    for (const TSimLogEntry& e : env.PollLog())
        Expect(e.op & SIM_OP_REFUSED, "a refused batch did %s", DescribeAccess(e).c_str());
    Expect(ReadOne(env, Lpt1) == 0x5A, "LPT1 data changed by a refused batch");
    Expect(ReadOne(env, Lpt1 | 1) == 0x7F, "status register does not read after the refusals");
}

// Two programs and a print job share the ports as parport has them share: a port is taken at the
// first batch that names it, a batch for a port held elsewhere fails whole with ERROR_BUSY, and a
// held port goes to a waiting print job after a batch that does not name it.
void BusyPort(TEnv& env) {
    LoadDriverOnly(env, SIM_PORT_LPT1 | SIM_PORT_LPT2);
    TClient kavit, check, printer;
    Expect(State(env).held == 0, "a port held before any batch");
    Expect(kavit.Read({Lpt1 | 1}) == 0, "first batch for LPT1 refused");
    ExpectResult(check.Read({Lpt1 | 1}), ERROR_BUSY, "second handle's batch for a held port");
    env.ClearLog();
    std::vector<BYTE> both = Pairs({Lpt2, Lpt1}, 0x01);
    ExpectResult(check.Io(LPT_IOCTL_WRITE_PORTS, both.data(), 4, both.data(), 4), ERROR_BUSY,
                 "batch for a free and a held port");
    for (const TSimLogEntry& e : env.PollLog())
        Expect(e.op & SIM_OP_REFUSED, "a busy batch did %s", DescribeAccess(e).c_str());
    Expect(State(env).held == SIM_PORT_LPT1, "ports held 0x%lX after a busy batch, expected LPT1",
           static_cast<unsigned long>(State(env).held));

    Expect(check.Read({Lpt2 | 1}) == 0, "batch for free LPT2 refused");
    Expect(printer.Print(SIM_IOCTL_PRINT, SIM_PORT_LPT2) == 0, "print job refused");
    Expect(State(env).waiting == SIM_PORT_LPT2, "print job does not wait for held LPT2");
    Expect(check.Read({Lpt2 | 1}) == 0, "LPT2 batch refused while a print job waits");
    Expect(State(env).waiting == SIM_PORT_LPT2, "a port in use given to the print job");
    Expect(check.Read({Lpt3 | 1}) == 0, "batch for LPT3 refused");
    TSimState state = State(env);
    Expect(state.printing == SIM_PORT_LPT2 && state.waiting == 0,
           "LPT2 not given to the waiting print job (printing 0x%lX, waiting 0x%lX)",
           static_cast<unsigned long>(state.printing), static_cast<unsigned long>(state.waiting));
    ExpectResult(check.Read({Lpt2 | 1}), ERROR_BUSY, "batch for the printing port");
    printer.Print(SIM_IOCTL_PRINT_DONE, SIM_PORT_LPT2);
    Expect(check.Read({Lpt2 | 1}) == 0, "LPT2 not taken back after printing");
    kavit.Close();
    Sleep(100); // the close reaches the driver after CloseHandle returns under Wine
    Expect(check.Read({Lpt1 | 1}) == 0, "LPT1 not free after its holder closed");
}

// The count of open handles: read-only, in both builds, and a short buffer fails cleanly.
void ExpectCount(TClient& client, ULONG want, const char* when) {
    ULONG count = 0;
    for (int i = 0; i < 50 && count != want; i++) {
        if (i)
            Sleep(20);
        DWORD error = client.Io(LPT_IOCTL_OPEN_HANDLES, nullptr, 0, &count, sizeof(count));
        if (error)
            Fail("open-handle count refused: %s", Win32ErrorText(error).c_str());
    }
    Expect(count == want, "%s: %lu handles counted, expected %lu", when,
           static_cast<unsigned long>(count), static_cast<unsigned long>(want));
}

void OpenHandlesCounted(TEnv& env) {
    LoadDriverOnly(env, SIM_PORT_LPT1);
    env.ClearLog();
    TClient first;
    ExpectCount(first, 2, "the harness's and one");
    {
        TClient second;
        ExpectCount(first, 3, "a second open");
    }
    ExpectCount(first, 2, "after a close");
    BYTE shortBuffer[2] = {0xEE, 0xEE};
    ExpectResult(first.Io(LPT_IOCTL_OPEN_HANDLES, nullptr, 0, shortBuffer, sizeof(shortBuffer)),
                 ERROR_INSUFFICIENT_BUFFER, "count into a 2-byte buffer");
    Expect(shortBuffer[0] == 0xEE, "a 2-byte buffer written");
    Expect(env.PollLog().empty() && State(env).readCalls == 0, "the count touched a register");
}

// Who may open the device, as the system reports it. Windows reports the DACL the driver set;
// Wine 8 keeps it to itself (it reports none, and does not enforce it): the host tests read the
// list the driver builds instead, and this case says which it saw.
bool IsWine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

std::string DescribeAce(const ACCESS_ALLOWED_ACE* ace) {
    LPSTR sid = nullptr;
    std::string text = "?";
    if (ConvertSidToStringSidA(const_cast<DWORD*>(&ace->SidStart), &sid)) {
        text = sid;
        LocalFree(sid);
    }
    return Format("type %u mask 0x%08lX %s", ace->Header.AceType,
                  static_cast<unsigned long>(ace->Mask), text.c_str());
}

void DeviceAcl(TEnv& env) {
    LoadDriverOnly(env, SIM_PORT_LPT1);
    // Both data rights too: an open without them is refused.
    HANDLE device = CreateFileA(LPT_USER_PATH, GENERIC_READ | GENERIC_WRITE | READ_CONTROL,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    Expect(device != INVALID_HANDLE_VALUE, "device does not open for READ_CONTROL: %s",
           Win32ErrorText(GetLastError()).c_str());
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    DWORD error = GetSecurityInfo(device, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                  nullptr, &dacl, nullptr, &descriptor);
    CloseHandle(device);
    std::vector<std::string> aces;
    for (DWORD i = 0; error == ERROR_SUCCESS && dacl && i < dacl->AceCount; i++) {
        void* ace = nullptr;
        if (GetAce(dacl, i, &ace))
            aces.push_back(DescribeAce(static_cast<ACCESS_ALLOWED_ACE*>(ace)));
    }
    if (descriptor)
        LocalFree(descriptor);
    Expect(error == ERROR_SUCCESS, "GetSecurityInfo: %s", Win32ErrorText(error).c_str());
    if (!dacl && IsWine()) {
        printf("# driver_device_acl: Wine reports no DACL for the device (it keeps the driver's "
               "to itself); the host tests check the list the driver builds\n");
        return;
    }
    const std::vector<std::string> want = {"type 0 mask 0x001F01FF S-1-5-18",
                                           "type 0 mask 0x001F01FF S-1-5-32-544"};
    std::string got;
    for (const std::string& a : aces)
        got += (got.empty() ? "" : "; ") + a;
    Expect(dacl && aces == want, "device DACL %s, expected SYSTEM and Administrators only",
           dacl ? got.c_str() : "absent (anyone may open it)");
}

// The build that ships, under Wine: there is no parallel port known to Windows there, so it
// finds none and refuses every batch and every private code of the simulation; Kavit then starts
// without a port and without a word, and leaves no service behind.
void HardwareBuildFindsNoPort(TEnv& env) {
    env.MakeProgramDir();
    std::string shipped = env.paths.dist + "LPTWDMIO.SYS";
    if (!CopyFileA(shipped.c_str(), (env.dir + "LPTWDMIO.SYS").c_str(), FALSE))
        Fail("the shipped driver is missing: CopyFileA(%s): %s", shipped.c_str(),
             Win32ErrorText(GetLastError()).c_str());
    env.UnloadDriver();
    std::string reason;
    if (!DriverService::Install(env.dir + "LPTWDMIO.SYS", reason))
        Fail("the shipped driver did not load: %s", reason.c_str());
    TSimDevice device;
    Expect(device.Open(), "device of the shipped driver does not open: %s",
           Win32ErrorText(device.lastError).c_str());
    for (BYTE port : {Lpt1, Lpt2, Lpt3}) {
        for (BYTE reg = 0; reg < 3; reg++) {
            BYTE pair[2] = {static_cast<BYTE>(port | reg), 0x42};
            Expect(!device.ReadPorts(pair, 1) && pair[1] == 0x42,
                   "read of 0x%02X carried out with no port", pair[0]);
            Expect(!device.WritePorts(pair, 1), "write of 0x%02X carried out with no port",
                   pair[0]);
        }
    }
    TSimState state;
    Expect(!device.GetState(state), "the shipped driver answers a private code of the simulation");
    {
        TClient client;
        ExpectCount(client, 2, "the shipped driver");
    }
    device.Close();
    env.UnloadDriver();

    env.WriteIni(StandardIni());
    TKavit& kavit = env.StartKavit();
    Sleep(1600); // past the start-up second: the first passes have run
    ExpectNoNotice(kavit, "Kavit at start");
    ExpectNoKeys("without a port");
    env.ExitKavit(kavit, "after Kavit ran with the shipped driver");
}

} // namespace

KAVIT_E2E_CASE(driver_pad_matrix, PadMatrix)
KAVIT_E2E_CASE(driver_absent_ports, AbsentPorts)
KAVIT_E2E_CASE(driver_bad_address_fails_batch, BadAddresses)
KAVIT_E2E_CASE(driver_faults_and_log, FaultsAndLog)
KAVIT_E2E_CASE(driver_unload_and_reload, UnloadAndReload)
KAVIT_E2E_CASE(driver_malformed_batches_refused, MalformedBatchesRefused)
KAVIT_E2E_CASE(driver_device_acl, DeviceAcl)
KAVIT_E2E_CASE(driver_shipped_build_finds_no_port, HardwareBuildFindsNoPort)
KAVIT_E2E_CASE(driver_status_write_refused, StatusWriteRefused)
KAVIT_E2E_CASE(driver_busy_port, BusyPort)
KAVIT_E2E_CASE(driver_open_handles_counted, OpenHandlesCounted)
