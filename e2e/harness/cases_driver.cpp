// The simulated driver on its own, through the same calls the program makes: it must behave as
// the port and the pads do, or every later case proves nothing.
#include "e2e/harness/cases.h"
#include "wire/pad_wiring.h"

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <cstdio>

namespace {

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

std::vector<BYTE> Pairs(const std::vector<BYTE>& addresses, BYTE value) {
    std::vector<BYTE> bytes;
    for (BYTE a : addresses)
        bytes.insert(bytes.end(), {a, value});
    return bytes;
}

// A batch refused whole: a Win32 error (`error` when given), nothing read into the buffer.
void ExpectRefused(TEnv& env, DWORD code, std::vector<BYTE> buffer, DWORD inLength, DWORD outLength,
                   const std::string& what, DWORD error = 0) {
    buffer.resize(std::max<size_t>(buffer.size(), outLength) + 2, 0xEE);
    const std::vector<BYTE> before = buffer;
    ASSERT_FALSE(env.sim.Batch(code, buffer.data(), inLength, outLength))
        << what << ": carried out";
    ASSERT_TRUE(!error || env.sim.lastError == error)
        << what << ": " << Win32ErrorText(env.sim.lastError);
    ASSERT_EQ(buffer, before) << what << ": refused, but the buffer changed";
}

// Since the last ClearLog, only refused accesses (and, with `lpt1Reads`, LPT1 data reads).
void ExpectOnlyRefusals(TEnv& env, bool lpt1Reads, const char* who) {
    for (const TSimLogEntry& e : env.PollLog())
        ASSERT_TRUE((e.op & SIM_OP_REFUSED) ||
                    (lpt1Reads && e.op == SIM_OP_READ && e.address == Lpt1))
            << who << " did " << DescribeAccess(e);
}

// Pad, its first button on a status line, and the status register with that line pulled low and
// the others idle (0x7F: Busy reads 0 when high).
const std::tuple<int, int, BYTE, const char*> LineCases[] = {
    {1, 1, 0x3F, "Acknowledge low"},
    {1, 7, 0xFF, "Busy low, read inverted"},
    {2, 1, 0x5F, "Paper out low"},
    {2, 7, 0x6F, "Select low"}};

TEST_F(E2e, driver_pad_matrix) {
    LoadDriverOnly(env, SIM_PORT_LPT1);
    ASSERT_EQ(ReadOne(env, 0x11), 0x7F) << "idle status";
    for (const auto& [pad, firstButton, statusWhenPressed, line] : LineCases) {
        for (int i = 0; i < 6; i++) {
            int button = firstButton + i;
            SCOPED_TRACE(
                Format("pad %d button %d pressed: %s only in step %d", pad, button, line, i + 1));
            Require(env.sim, env.sim.SetPad(pad, ButtonBit(button)), "set buttons refused");
            for (int step = 0; step < 6; step++) {
                // With D6/D7 set, to show they do not matter.
                BYTE pattern = static_cast<BYTE>(KeptDataBits | SelectPatterns[step]);
                WriteOne(env, 0x10, pattern);
                ASSERT_EQ(ReadOne(env, 0x11), step == i ? statusWhenPressed : 0x7F)
                    << "status with data " << int(pattern);
            }
            // No select line low: nothing reaches the status lines.
            WriteOne(env, 0x10, 0xFF);
            ASSERT_EQ(ReadOne(env, 0x11), 0x7F) << "status with no select line low";
        }
        env.sim.ReleaseAll();
    }
    // Several buttons on different lines and steps at once, all select lines low.
    env.sim.SetPad(1, ButtonBit(1) | ButtonBit(12));
    env.sim.SetPad(2, ButtonBit(3) | ButtonBit(8));
    WriteOne(env, 0x10, 0x00);
    ASSERT_EQ(ReadOne(env, 0x11), 0x8F) << "four lines pulled at once";
    WriteOne(env, 0x10, 0xFB); // D2 low: only button 4/10 lines
    ASSERT_EQ(ReadOne(env, 0x11), 0x7F) << "buttons on other select lines answered on D2";
    // The data register keeps what was written, all eight bits.
    for (BYTE v : {0x00, 0x55, 0xAA, 0xFF, 0xC3}) {
        WriteOne(env, 0x10, v);
        ASSERT_EQ(ReadOne(env, 0x10), v) << "data register after a write";
    }
    BYTE control = ReadOne(env, 0x12);
    ASSERT_TRUE(control != 0x00 && control != 0xFF)
        << "control register of a present port reads " << int(control);
}

TEST_F(E2e, driver_absent_ports) {
    LoadDriverOnly(env, SIM_PORT_LPT3);
    for (BYTE port : {Lpt1, Lpt2}) {
        WriteOne(env, port, 0x55); // accepted, goes nowhere
        for (BYTE reg = 0; reg < 3; reg++)
            ASSERT_EQ(ReadOne(env, static_cast<BYTE>(port | reg)), 0xFF)
                << "absent port " << int(port) << " register " << int(reg);
    }
    WriteOne(env, Lpt3, 0x55);
    ASSERT_EQ(ReadOne(env, Lpt3), 0x55) << "present LPT3 does not keep its data register";
    ASSERT_EQ(ReadOne(env, Lpt3 | 1), 0x7F) << "present LPT3 status not idle";
    // Plugging LPT1 in gives it its own registers, untouched by the writes while it was absent.
    env.sim.SetPorts(SIM_PORT_LPT1 | SIM_PORT_LPT3);
    ASSERT_EQ(ReadOne(env, Lpt1), 0x00) << "LPT1 data after plugging in";
    env.sim.SetPorts(0);
    ASSERT_EQ(ReadOne(env, Lpt3), 0xFF) << "LPT3 still answers with no port present";
}

TEST_F(E2e, driver_faults_and_log) {
    LoadDriverOnly(env, SIM_PORT_LPT1);
    env.ClearLog();
    WriteOne(env, 0x10, 0x2F);
    ReadOne(env, 0x11);
    env.sim.SetFaults(SIM_FAULT_READS);
    ExpectRefused(env, LPT_IOCTL_READ_PORTS, {0x11, 0x42}, 2, 2, "read while reads fail");
    WriteOne(env, 0x10, 0x37); // writes still work
    env.sim.SetFaults(SIM_FAULT_WRITES);
    ReadOne(env, 0x10);
    ExpectRefused(env, LPT_IOCTL_WRITE_PORTS, {0x10, 0x00}, 2, 2, "write while writes fail");
    env.sim.SetFaults(0);

    std::vector<std::string> got;
    for (const TSimLogEntry& e : env.PollLog())
        got.push_back(DescribeAccess(e));
    ASSERT_EQ(got, std::vector<std::string>(
                       {"write 0x10 <- 0x2F (call 1)", "read 0x11 -> 0x7F (call 2)",
                        "refused read 0x11 -> 0x42 (call 3)", "write 0x10 <- 0x37 (call 4)",
                        "read 0x10 -> 0x37 (call 5)", "refused write 0x10 <- 0x00 (call 6)"}))
        << "the driver's log";
    TSimState state = State(env);
    ASSERT_EQ(std::vector<ULONG>({state.readCalls, state.writeCalls, state.failedCalls}),
              std::vector<ULONG>({3, 3, 2}))
        << "read, write and refused calls counted";
    ASSERT_EQ(state.data[0], 0x37) << "LPT1 data in the state";
}

TEST_F(E2e, driver_unload_and_reload) {
    LoadDriverOnly(env, SIM_PORT_LPT2);
    TSimState first = State(env);
    env.sim.SetPad(1, 0x0FFF);
    env.UnloadDriver(); // stops the service: the unload routine must let the device go
    ASSERT_FALSE(TSimDevice().Open()) << "device still opens after the driver was stopped";
    env.PreloadDriver(SIM_PORT_LPT1);
    TSimState second = State(env);
    ASSERT_NE(second.loadStamp, first.loadStamp) << "the driver was not loaded again";
    ASSERT_EQ(second.buttons[0], 0) << "a reloaded driver kept old buttons";
    ASSERT_EQ(second.ports, ULONG(SIM_PORT_LPT1)) << "a reloaded driver kept old ports";
    env.UnloadDriver();
}

// Batches the program never sends, each refused whole as a write and, unless `writesOnly`, as a
// read batch, no register touched; after them good batches up to the cap are served, in order.
struct TBadBatch {
    std::string what;
    std::vector<BYTE> bytes;
    DWORD inLength, outLength;
};

void RefusedWhole(TEnv& env, const std::vector<TBadBatch>& batches, bool writesOnly, DWORD error) {
    LoadDriverOnly(env, SIM_PORT_LPT1 | SIM_PORT_LPT2 | SIM_PORT_LPT3);
    WriteOne(env, Lpt1, 0x5A);
    env.ClearLog();
    for (const TBadBatch& b : batches)
        for (bool read : {false, true}) {
            if (read && writesOnly)
                break;
            std::string what = (read ? "read batch, " : "write batch, ") + b.what;
            ExpectRefused(env, read ? LPT_IOCTL_READ_PORTS : LPT_IOCTL_WRITE_PORTS, b.bytes,
                          b.inLength, b.outLength, what, error);
            ASSERT_EQ(ReadOne(env, Lpt1), 0x5A) << what << ": LPT1 data";
        }
    ExpectOnlyRefusals(env, true, "a refused batch"); // but the checking reads above
    std::vector<BYTE> full;
    for (int i = 0; i < LPT_BATCH_MAX_PAIRS; i++) // LPT1 data, LPT2 status, LPT3 control
        full.insert(full.end(), {LPT_ADDRESS(i % 3 + 1, i % 3), 0});
    Require(env.sim, env.sim.ReadPorts(full.data(), LPT_BATCH_MAX_PAIRS), "a batch of the cap");
    std::vector<BYTE> batch = {0x10, 0x3E, 0x20, 0x3D, 0x30, 0x3B, 0x10, 0x1F},
                      back = Pairs({0x10, 0x20, 0x30}, 0);
    Require(env.sim, env.sim.WritePorts(batch.data(), 4), "four-pair write refused");
    Require(env.sim, env.sim.ReadPorts(back.data(), 3), "three-pair read refused");
    ASSERT_EQ(back, std::vector<BYTE>({0x10, 0x1F, 0x20, 0x3D, 0x30, 0x3B}))
        << "good batches after the refused ones, read back";
    ASSERT_EQ(ReadOne(env, Lpt1 | 1), 0x7F) << "status register after the refusals";
}

// A good pair, then an address of no register of a port the driver serves.
std::vector<TBadBatch> BadAddresses() {
    std::vector<TBadBatch> batches;
    for (BYTE address : {0x00, 0x01, 0x03, 0x13, 0x1F, 0x40, 0xF0})
        batches.push_back(
            {Format("a good pair, then 0x%02X", address), Pairs({0x10, address}, 0x77), 4, 4});
    return batches;
}

std::vector<TBadBatch> Malformed() {
    const DWORD over = 2 * (LPT_BATCH_MAX_PAIRS + 1); // bytes of one pair over the cap
    std::vector<TBadBatch> batches = {
        {"odd length", Pairs({0x10, 0x10}, 0xA5), 3, 4},
        {"no pair", Pairs({0x10}, 0xA5), 0, 2},
        {"output shorter than input", Pairs({0x10, 0x10}, 0xA5), 4, 2},
        {"good pair then offset 3", Pairs({0x10, 0x13}, 0xA5), 4, 4},
        {"port 4 then good pair", Pairs({0x40, 0x10}, 0xA5), 4, 4},
        {"one pair over the cap", Pairs(std::vector<BYTE>(over / 2, 0x10), 0xA5), over, over},
    };
    for (int port : {0, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15})
        batches.push_back({Format("port %d", port), Pairs({LPT_ADDRESS(port, 0)}, 0xA5), 2, 2});
    for (int reg = 3; reg <= 15; reg++)
        batches.push_back({Format("offset %d", reg), Pairs({LPT_ADDRESS(1, reg)}, 0xA5), 2, 2});
    return batches;
}

// The status register is read, never written: a write batch naming it is refused whole.
const std::vector<TBadBatch> StatusWrites = {
    {"LPT1 status", Pairs({0x11}, 0xFF), 2, 2},
    {"LPT1 data and status", Pairs({0x10, 0x11}, 0x33), 4, 4},
    {"LPT2 status and LPT1 control", Pairs({0x21, 0x12}, 0x04), 4, 4}};

const std::string Done = "carried out", Busy = Win32ErrorText(ERROR_BUSY);

// A client of the device opened as a program opens it, beside the harness's own handle (the test
// bench, which takes no part in sharing a port); outcomes as texts: Done or the Win32 error.
struct TClient : TSimDevice {
    TClient() { Open(); }
    std::string Io(DWORD code, void* buffer, DWORD inLength, DWORD outLength) {
        bool done = Batch(code, static_cast<BYTE*>(buffer), inLength, outLength);
        return done ? Done : Win32ErrorText(lastError);
    }
    std::string Read(BYTE address) {
        BYTE pair[2] = {address, 0};
        return Io(LPT_IOCTL_READ_PORTS, pair, 2, 2);
    }
    std::string Print(DWORD code, ULONG ports) { return Io(code, &ports, sizeof ports, 0); }
};

// Two programs and a print job share the ports as parport has them share: a port is taken at the
// first batch that names it, a batch for a port held elsewhere fails whole with ERROR_BUSY, and a
// held port goes to a waiting print job after a batch that does not name it.
TEST_F(E2e, driver_busy_port) {
    LoadDriverOnly(env, SIM_PORT_LPT1 | SIM_PORT_LPT2);
    TClient kavit, check, printer;
    ASSERT_EQ(State(env).held, 0u) << "a port held before any batch";
    ASSERT_EQ(kavit.Read(Lpt1 | 1), Done) << "first batch for LPT1";
    ASSERT_EQ(check.Read(Lpt1 | 1), Busy) << "second handle's batch for a held port";
    env.ClearLog();
    std::vector<BYTE> both = Pairs({Lpt2, Lpt1}, 0x01);
    ASSERT_EQ(check.Io(LPT_IOCTL_WRITE_PORTS, both.data(), 4, 4), Busy)
        << "batch for a free and a held port";
    ExpectOnlyRefusals(env, false, "a busy batch");
    ASSERT_EQ(State(env).held, ULONG(SIM_PORT_LPT1)) << "ports held after a busy batch";

    ASSERT_EQ(check.Read(Lpt2 | 1), Done) << "batch for free LPT2";
    ASSERT_EQ(printer.Print(SIM_IOCTL_PRINT, SIM_PORT_LPT2), Done) << "print job";
    ASSERT_EQ(State(env).waiting, ULONG(SIM_PORT_LPT2)) << "print job waiting for held LPT2";
    ASSERT_EQ(check.Read(Lpt2 | 1), Done) << "LPT2 batch while a print job waits";
    ASSERT_EQ(State(env).waiting, ULONG(SIM_PORT_LPT2)) << "a port in use given to the print job";
    ASSERT_EQ(check.Read(Lpt3 | 1), Done) << "batch for LPT3";
    TSimState state = State(env);
    ASSERT_EQ(state.printing, ULONG(SIM_PORT_LPT2)) << "LPT2 not given to the waiting print job";
    ASSERT_EQ(state.waiting, 0u) << "LPT2 not given to the waiting print job";
    ASSERT_EQ(check.Read(Lpt2 | 1), Busy) << "batch for the printing port";
    printer.Print(SIM_IOCTL_PRINT_DONE, SIM_PORT_LPT2);
    ASSERT_EQ(check.Read(Lpt2 | 1), Done) << "LPT2 taken back after printing";
    kavit.Close();
    Sleep(100); // the close reaches the driver after CloseHandle returns under Wine
    ASSERT_EQ(check.Read(Lpt1 | 1), Done) << "LPT1 free after its holder closed";
}

// The count of open handles: read-only, in both builds, and a short buffer fails cleanly.
void ExpectCount(TClient& client, ULONG want, const char* when) {
    ULONG count = 0;
    for (int i = 0; i < 50 && count != want; i++) {
        Sleep(i ? 20 : 0);
        ASSERT_EQ(client.Io(LPT_IOCTL_OPEN_HANDLES, &count, 0, sizeof count), Done)
            << "open-handle count";
    }
    ASSERT_EQ(count, want) << when << ": handles counted";
}

TEST_F(E2e, driver_open_handles_counted) {
    LoadDriverOnly(env, SIM_PORT_LPT1);
    env.ClearLog();
    TClient first;
    ExpectCount(first, 2, "the harness's and one");
    auto second = std::make_unique<TClient>();
    ExpectCount(first, 3, "a second open");
    second.reset();
    ExpectCount(first, 2, "after a close");
    BYTE shortBuffer[2] = {0xEE, 0xEE};
    ASSERT_EQ(first.Io(LPT_IOCTL_OPEN_HANDLES, shortBuffer, 0, 2),
              Win32ErrorText(ERROR_INSUFFICIENT_BUFFER))
        << "count into a 2-byte buffer";
    ASSERT_EQ(shortBuffer[0], 0xEE) << "a 2-byte buffer written";
    ASSERT_TRUE(env.PollLog().empty() && State(env).readCalls == 0)
        << "the count touched a register";
}

// Who may open the device, as the system reports it. Windows reports the DACL the driver set;
// Wine 8 keeps it to itself (it reports none, and does not enforce it): the host tests read the
// list the driver builds instead, and this case says which it saw.
TEST_F(E2e, driver_device_acl) {
    LoadDriverOnly(env, SIM_PORT_LPT1);
    // Both data rights too: an open without them is refused.
    HANDLE device = CreateFileA(LPT_USER_PATH, GENERIC_READ | GENERIC_WRITE | READ_CONTROL,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(device, INVALID_HANDLE_VALUE)
        << "device does not open for READ_CONTROL: " << LastErrorText();
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    DWORD error = GetSecurityInfo(device, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                  nullptr, &dacl, nullptr, &descriptor);
    CloseHandle(device);
    ASSERT_EQ(error, DWORD(ERROR_SUCCESS)) << "GetSecurityInfo: " << Win32ErrorText(error);
    std::vector<std::string> aces;
    for (DWORD i = 0; dacl && i < dacl->AceCount; i++) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        LPSTR sid = nullptr;
        if (GetAce(dacl, i, reinterpret_cast<void**>(&ace)) &&
            ConvertSidToStringSidA(&ace->SidStart, &sid))
            aces.push_back(Format("type %u mask 0x%08lX %s", ace->Header.AceType,
                                  static_cast<unsigned long>(ace->Mask), sid));
        LocalFree(sid);
    }
    LocalFree(descriptor);
    if (!dacl && GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version")) {
        printf("# driver_device_acl: Wine reports no DACL for the device (it keeps the driver's "
               "to itself); the host tests check the list the driver builds\n");
        return;
    }
    ASSERT_NE(dacl, nullptr) << "no DACL on the device: anyone may open it";
    ASSERT_EQ(aces, std::vector<std::string>(
                        {"type 0 mask 0x001F01FF S-1-5-18", "type 0 mask 0x001F01FF S-1-5-32-544"}))
        << "device DACL: SYSTEM and Administrators only";
}

// The build that ships finds no parallel port under Wine and refuses every batch and private code
// of the simulation; Kavit then starts without a port and a word, and leaves no service behind.
TEST_F(E2e, driver_shipped_build_finds_no_port) {
    PrepareProgramDir(env);
    std::string shipped = env.paths.dist + "LPTWDMIO.SYS", reason;
    ASSERT_TRUE(CopyFileA(shipped.c_str(), (env.dir + "LPTWDMIO.SYS").c_str(), FALSE))
        << "the shipped driver is missing: " << shipped << ": " << LastErrorText();
    ASSERT_TRUE(DriverService::Install(env.dir + "LPTWDMIO.SYS", reason))
        << "the shipped driver did not load: " << reason;
    TSimDevice device;
    ASSERT_TRUE(device.Open()) << "device of the shipped driver: "
                               << Win32ErrorText(device.lastError);
    for (BYTE port : {Lpt1, Lpt2, Lpt3})
        for (BYTE reg = 0; reg < 3; reg++) {
            BYTE pair[2] = {static_cast<BYTE>(port | reg), 0x42};
            ASSERT_FALSE(device.ReadPorts(pair, 1) || pair[1] != 0x42)
                << "read of " << int(pair[0]) << " carried out with no port";
            ASSERT_FALSE(device.WritePorts(pair, 1))
                << "write of " << int(pair[0]) << " carried out with no port";
        }
    TSimState state;
    ASSERT_FALSE(device.GetState(state)) << "the shipped driver answers a private simulation code";
    TClient client;
    ExpectCount(client, 2, "the shipped driver");
    client.Close();
    device.Close();
    env.UnloadDriver();

    TKavit& kavit = env.StartKavit();
    Sleep(1600); // past the start-up second: the first passes have run
    ExpectNoNotice(kavit, "Kavit at start");
    ExpectNoKeys("without a port");
    env.ExitKavit(kavit, "after Kavit ran with the shipped driver");
}

} // namespace

KAVIT_E2E_CASE_OF(driver_bad_address_fails_batch, RefusedWhole, BadAddresses(), false, 0)
KAVIT_E2E_CASE_OF(driver_malformed_batches_refused, RefusedWhole, Malformed(), false, 0)
KAVIT_E2E_CASE_OF(driver_status_write_refused, RefusedWhole, StatusWrites, true,
                  ERROR_INVALID_PARAMETER)
