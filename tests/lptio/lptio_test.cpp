#include "lptio/lptio.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <memory>
#include <set>

#include "common/program_dir.h"
#include "lptio/driver_service.h"
#include "tests/fake/fake_win32.h"

namespace {

HANDLE const Device = reinterpret_cast<HANDLE>(0xD1);

// Registers on the far side of either transport, keyed by register address (driver) or I/O
// address (direct). A read answers (last value & andMask) | orMask: stuck lines in one place.
struct Bus {
    std::map<WORD, BYTE> value, andMask, orMask;
    BYTE Read(WORD at) {
        BYTE keep = andMask.count(at) ? andMask[at] : 0xFF;
        return static_cast<BYTE>((value[at] & keep) | orMask[at]);
    }
} bus;

// How many handles the driver counts when asked; 0: a driver that does not answer the question,
// nor do the next `refusedCounts` questions.
DWORD openHandles = 0;
int refusedCounts = 0;

BOOL AnswerOpenHandles(LPVOID out, DWORD outSize, LPDWORD returned) {
    if (openHandles == 0 || outSize < sizeof(DWORD) || refusedCounts-- > 0) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    *static_cast<DWORD*>(out) = openHandles;
    *returned = sizeof(DWORD);
    return TRUE;
}

// The device opens from the given attempt of CreateFileA on, and acts on `bus`.
void DriverFromAttempt(int first) {
    auto attempts = std::make_shared<int>(0);
    fake::on.CreateFileA = [=](LPCSTR name, DWORD a, DWORD s, LPSECURITY_ATTRIBUTES sa, DWORD d,
                               DWORD f, HANDLE t) {
        if (std::string(name) == fake::DevicePath && ++*attempts >= first)
            return Device;
        return fake::Defaults().CreateFileA(name, a, s, sa, d, f, t);
    };
    fake::on.DeviceIoControl = [](HANDLE, DWORD code, LPVOID in, DWORD size, LPVOID out,
                                  DWORD outSize, LPDWORD returned, LPOVERLAPPED) {
        if (code == IoctlOpenHandles)
            return AnswerOpenHandles(out, outSize, returned);
        auto* pairs = static_cast<PortIoPair*>(in);
        for (DWORD i = 0; i < size / 2; ++i)
            if (code == IoctlReadPorts)
                pairs[i].value = bus.Read(pairs[i].address);
            else
                bus.value[pairs[i].address] = pairs[i].value;
        return TRUE;
    };
}

// Scripts a fixed answer: Answer(fake::on.OpenServiceA, SC_HANDLE(nullptr)).
template <typename R, typename... A> void Answer(std::function<R(A...)>& handler, R result) {
    handler = [result](A...) { return result; };
}

void Windows9x() {
    fake::on.GetVersionExA = [](LPOSVERSIONINFOA info) {
        info->dwPlatformId = VER_PLATFORM_WIN32_WINDOWS;
        return TRUE;
    };
    fake::on.PortIn = [](WORD at) { return bus.Read(at); };
    fake::on.PortOut = [](WORD at, BYTE v) { bus.value[at] = v; };
}

// Register traffic as "R10" / "W10=55" (driver) or "R3BC" / "W3BC=55" (direct), in order.
fake::Checked<std::string> Ops() {
    fake::Checked<std::string> ops(std::vector<std::string>(), "Ops()");
    char text[16];
    for (const fake::Call& c : fake::calls) {
        if (c.fn == "DeviceIoControl")
            for (size_t i = 0; i + 1 < c.bytes.size(); i += 2) {
                if (c.args[1] == IoctlReadPorts)
                    std::snprintf(text, sizeof text, "R%02X", c.bytes[i]);
                else
                    std::snprintf(text, sizeof text, "W%02X=%02X", c.bytes[i], c.bytes[i + 1]);
                ops.push_back(text);
            }
        if (c.fn == "PortIn")
            std::snprintf(text, sizeof text, "R%03X", unsigned(c.args[0]));
        if (c.fn == "PortOut")
            std::snprintf(text, sizeof text, "W%03X=%02X", unsigned(c.args[0]),
                          unsigned(c.args[1]));
        if (c.fn == "PortIn" || c.fn == "PortOut")
            ops.push_back(text);
    }
    return ops;
}

// The connection as the programs build it: the driver service readied before, ended after.
struct Ready {
    Ready() { StartDriverService(ProgramDirectory()); }
};
struct Connection : Ready, TLptPortConnection {
    ~Connection() override { EndDriverService(CloseDevice()); }
};

class LptTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fake::Reset();
        bus = Bus{};
        openHandles = 0;
        refusedCounts = 0;
    }
};
using LptTransportTest = LptTest;
using PortPresentTest = LptTest;
using DriverServiceTest = LptTest;

typedef std::vector<std::string> Strings;
const Strings ServiceEntryPoints = {"OpenSCManagerA", "CloseServiceHandle",  "CreateServiceA",
                                    "StartServiceA",  "OpenServiceA",        "DeleteService",
                                    "ControlService", "ChangeServiceConfigA"};

// ---- transports -------------------------------------------------------------------------------

TEST_F(LptTransportTest, EachSetupSettlesOneTransport) {
    enum Route { Driver, Direct, Nowhere };
    static const Strings traffic[] = {{"R21", "W30=81"}, {"R379", "W278=81"}, {}};
    struct Case {
        bool nt;
        int deviceFromAttempt; // 0: never
        Route route;
    };
    static const Case cases[] = {{true, 1, Driver},
                                 {true, 2, Driver},
                                 {true, 0, Nowhere},
                                 {false, 1, Driver},
                                 {false, 0, Direct}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "nt " << c.nt << ", device from attempt " << c.deviceFromAttempt);
        SetUp();
        if (!c.nt)
            Windows9x();
        if (c.deviceFromAttempt)
            DriverFromAttempt(c.deviceFromAttempt);
        Connection lpt;
        bus.value[0x21] = bus.value[0x379] = 0x5A;
        fake::calls.clear();
        EXPECT_EQ(lpt.IsOpen(), c.route != Nowhere);
        EXPECT_EQ(lpt.ReadPort(PortLpt2, RegStatus), c.route == Nowhere ? 0 : 0x5A);
        EXPECT_EQ(lpt.WritePort(PortLpt3, RegData, 0x81), c.route != Nowhere);
        EXPECT_EQ(Ops(), traffic[c.route]);
        EXPECT_EQ(fake::calls.empty(), c.route == Nowhere);
    }
}

TEST_F(LptTransportTest, FailedVersionQueryNeverLeadsToPortInstructions) {
    Answer(fake::on.GetVersionExA, BOOL(FALSE));
    TLptPortConnection lpt;
    EXPECT_TRUE(lpt.isNT);
    EXPECT_FALSE(lpt.IsOpen());
    EXPECT_EQ(fake::Count("PortIn") + fake::Count("PortOut"), 0u);
}

TEST_F(LptTransportTest, UnavailableConnectionFailsEverythingAndLeavesBuffersAlone) {
    TLptPortConnection lpt;
    EXPECT_FALSE(lpt.lpt1Present || lpt.lpt2Present || lpt.lpt3Present);
    fake::calls.clear();
    PortIoPair pairs[2] = {{0x10, 0x5A}, {0x21, 0xA5}};
    EXPECT_FALSE(lpt.ReadPorts(pairs, 2));
    EXPECT_FALSE(lpt.WritePorts(pairs, 2));
    EXPECT_EQ(pairs[0].value, 0x5A);
    EXPECT_EQ(pairs[1].value, 0xA5);
    for (PortCode code : {PortLpt1, PortLpt2, PortLpt3}) {
        for (BYTE reg : {RegData, RegStatus, RegControl})
            EXPECT_EQ(lpt.ReadPort(code, reg), 0);
        EXPECT_FALSE(lpt.WritePort(code, RegData, 0x12));
        EXPECT_FALSE(lpt.PortPresent(code));
    }
    EXPECT_EQ(fake::calls.size(), 0u);
}

TEST_F(LptTransportTest, DriverBatchIsOneCallOnTheSameBuffer) {
    DriverFromAttempt(1);
    TLptPortConnection lpt;
    bus.value = {{0x10, 0x11}, {0x21, 0x22}, {0x32, 0x33}};
    for (bool read : {true, false}) {
        SetLastError(87); // a stale error must not fail the batch
        fake::calls.clear();
        PortIoPair pairs[3] = {{0x10, 0}, {0x21, 0x7E}, {0x32, 0}};
        ASSERT_TRUE(read ? lpt.ReadPorts(pairs, 3) : lpt.WritePorts(pairs, 3));
        ASSERT_EQ(fake::Count("DeviceIoControl"), 1u);
        uint64_t at = reinterpret_cast<uintptr_t>(pairs);
        fake::Checked<uint64_t> args = fake::CallsTo("DeviceIoControl")[0].args;
        EXPECT_NE(args[6], 0u) << "bytes-returned count";
        args[6] = 0;
        EXPECT_EQ(args,
                  (std::vector<uint64_t>{uintptr_t(Device), read ? IoctlReadPorts : IoctlWritePorts,
                                         at, 6, at, 6, 0, 0}));
        if (read)
            EXPECT_EQ(std::vector<int>({pairs[0].value, pairs[1].value, pairs[2].value}),
                      std::vector<int>({0x11, 0x22, 0x33}));
        else
            EXPECT_EQ(Ops(), (Strings{"W10=00", "W21=7E", "W32=00"}));
    }
}

TEST_F(LptTransportTest, DriverSuccessIsTheLastErrorNotTheResult) {
    struct Case {
        BOOL result;
        DWORD error;
        bool ok;
    };
    static const Case cases[] = {
        {TRUE, 0, true}, {FALSE, 0, true}, {TRUE, 31, false}, {FALSE, 1167, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "result " << c.result << ", last error " << c.error);
        SetUp();
        DriverFromAttempt(1);
        TLptPortConnection lpt;
        fake::on.DeviceIoControl = [c](HANDLE, DWORD code, LPVOID in, DWORD, LPVOID out,
                                       DWORD outSize, LPDWORD returned, LPOVERLAPPED) {
            if (code == IoctlOpenHandles)
                return AnswerOpenHandles(out, outSize, returned);
            static_cast<PortIoPair*>(in)[0].value = 0x44;
            if (c.error)
                SetLastError(c.error);
            return c.result;
        };
        PortIoPair pair = {0x11, 0};
        EXPECT_EQ(lpt.ReadPorts(&pair, 1), c.ok);
        EXPECT_EQ(lpt.WritePorts(&pair, 1), c.ok);
        EXPECT_EQ(lpt.ReadPort(PortLpt1, RegStatus), 0x44) << "what the call left, even failed";
        EXPECT_EQ(lpt.WritePort(PortLpt1, RegData, 1), c.ok);
    }
}

TEST_F(LptTransportTest, DirectBatchUsesTheOldBiosAddressesPairByPair) {
    const std::pair<RegisterAddress, WORD> table[] = {
        {0x10, 0x3BC}, {0x11, 0x3BD}, {0x12, 0x3BE}, {0x1A, 0x3BE}, {0x20, 0x378},
        {0x21, 0x379}, {0x22, 0x37A}, {0x30, 0x278}, {0x32, 0x27A}, {0x02, 0x27A},
        {0x4F, 0x27F}, {0xF1, 0x279}, {0x2F, 0x37F},
    };
    Windows9x();
    TLptPortConnection lpt;
    std::vector<PortIoPair> pairs;
    Strings reads, writes;
    char op[16];
    for (auto [address, io] : table) {
        EXPECT_EQ(DirectIoAddress(address), io) << int(address);
        pairs.push_back({address, 0});
        std::snprintf(op, sizeof op, "R%03X", io);
        reads.push_back(op);
        std::snprintf(op, sizeof op, "W%03X=%02X", io, io & 0xFF);
        writes.push_back(op);
        bus.value[io] = static_cast<BYTE>(io);
    }
    fake::calls.clear();
    ASSERT_TRUE(lpt.ReadPorts(pairs.data(), DWORD(pairs.size())));
    EXPECT_EQ(Ops(), reads);
    for (size_t i = 0; i < pairs.size(); ++i)
        EXPECT_EQ(pairs[i].value, table[i].second & 0xFF) << int(table[i].first);
    fake::calls.clear();
    ASSERT_TRUE(lpt.WritePorts(pairs.data(), DWORD(pairs.size())));
    EXPECT_EQ(Ops(), writes);
}

TEST_F(LptTransportTest, EmptyBatchFailsWithoutTouchingAnything) {
    static const char* const transports[] = {"driver", "direct", "unavailable"};
    for (const std::string transport : transports) {
        SCOPED_TRACE(transport);
        SetUp();
        if (transport == "driver")
            DriverFromAttempt(1);
        if (transport == "direct")
            Windows9x();
        TLptPortConnection lpt;
        fake::calls.clear();
        PortIoPair pair = {0x10, 0x77};
        EXPECT_FALSE(lpt.ReadPorts(&pair, 0));
        EXPECT_FALSE(lpt.WritePorts(&pair, 0));
        EXPECT_EQ(pair.value, 0x77);
        EXPECT_EQ(fake::calls.size(), 0u);
    }
}

// ---- presence test ----------------------------------------------------------------------------

TEST_F(PortPresentTest, DataRegisterPatternsDecideFirstAndTheSavedValueReturns) {
    struct Case {
        BYTE andMask, orMask; // of the data register's read-back
        bool present;
        Strings ops;
    };
    static const Case cases[] = {
        // a working register: the control and status registers are not read
        {0xFF, 0x00, true, {"R30", "W30=00", "R30", "W30=55", "R30", "W30=AA", "R30", "W30=08"}},
        // stuck high: 0x00 does not come back, no more data reads; saved is what was read
        {0xFF, 0xFF, false, {"R30", "W30=00", "R30", "W30=55", "W30=AA", "W30=FF", "R32", "R31"}},
        // D0 stuck low: 0x55 fails
        {0xFE,
         0x00,
         false,
         {"R30", "W30=00", "R30", "W30=55", "R30", "W30=AA", "W30=08", "R32", "R31"}},
        // D7 stuck low: 0xAA fails
        {0x7F,
         0x00,
         false,
         {"R30", "W30=00", "R30", "W30=55", "R30", "W30=AA", "R30", "W30=08", "R32", "R31"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "data register read back & " << int(c.andMask) << " | " << int(c.orMask));
        SetUp();
        DriverFromAttempt(1);
        TLptPortConnection lpt;
        bus.value[0x30] = 0x08;
        bus.andMask[0x30] = c.andMask;
        bus.orMask[0x30] = c.orMask;
        fake::calls.clear();
        EXPECT_EQ(lpt.PortPresent(PortLpt3), c.present);
        EXPECT_EQ(Ops(), c.ops);
    }
}

TEST_F(PortPresentTest, ControlThenStatusDecideWhenTheDataRegisterFails) {
    struct Case {
        BYTE control, status;
        bool present, statusRead;
    };
    static const Case cases[] = {
        {0xFF, 0x7F, true, true},  {0x00, 0x00, false, true}, {0xFF, 0xFF, false, true},
        {0x00, 0xFF, false, true}, {0xFF, 0x00, false, true}, {0x0C, 0x00, true, false},
        {0xE0, 0xFF, true, false}, {0x00, 0x01, true, true},  {0x00, 0xFE, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "control " << int(c.control) << ", status " << int(c.status));
        SetUp();
        DriverFromAttempt(1);
        TLptPortConnection lpt;
        bus.orMask[0x10] = 0xFF;
        bus.value[0x12] = c.control;
        bus.value[0x11] = c.status;
        fake::calls.clear();
        EXPECT_EQ(lpt.PortPresent(PortLpt1), c.present);
        fake::Checked<std::string> ops = Ops();
        EXPECT_EQ(ops[ops.size() - (c.statusRead ? 2 : 1)], "R12");
        EXPECT_EQ(ops.back(), c.statusRead ? "R11" : "R12");
        for (const std::string& op : ops)
            EXPECT_TRUE(op.rfind("W1", 0) != 0 || op.rfind("W10=", 0) == 0) << op;
    }
}

TEST_F(PortPresentTest, ConstructionTestsTheThreePortsInOrder) {
    bus.orMask[0x10] = bus.orMask[0x30] = 0xFF; // LPT1, LPT3: a floating bus...
    bus.value[0x11] = bus.value[0x31] = 0xFF;   // ...with status lines pulled up
    DriverFromAttempt(1);
    TLptPortConnection lpt;
    EXPECT_FALSE(lpt.lpt1Present);
    EXPECT_TRUE(lpt.lpt2Present);
    EXPECT_FALSE(lpt.lpt3Present);
    std::string ports;
    for (const std::string& op : Ops())
        if (ports.empty() || ports.back() != op[1])
            ports += op[1];
    EXPECT_EQ(ports, "123");
}

// ---- driver service ---------------------------------------------------------------------------

// Index of the first call to `fn` from `from` on; the log's size when there is none.
size_t At(const std::string& fn, size_t from = 0) {
    for (size_t i = from; i < fake::calls.size(); ++i)
        if (fake::calls[i].fn == fn)
            return i;
    return fake::calls.size();
}

// The service's removal as Windows sees it: stopped before it is deleted, the handles that
// opened closed, the library freed after the last of them.
void ExpectRemoval(bool manager = true, bool service = true) {
    bool removed = manager && service;
    EXPECT_EQ(fake::Count("OpenServiceA"), manager ? 1u : 0u);
    EXPECT_EQ(fake::Count("DeleteService"), removed ? 1u : 0u);
    if (removed) {
        EXPECT_EQ(fake::calls[At("ControlService")].args[1], DWORD(SERVICE_CONTROL_STOP));
        EXPECT_LT(At("ControlService"), At("DeleteService"));
        EXPECT_EQ(fake::CallsTo("DeleteService")[0].args[0], uintptr_t(fake::OpenedService));
    }
    std::vector<uint64_t> closed, opened;
    if (manager)
        opened.push_back(uintptr_t(fake::ManagerHandle));
    if (removed)
        opened.insert(opened.begin(), uintptr_t(fake::OpenedService));
    for (const fake::Call& c : fake::CallsTo("CloseServiceHandle"))
        closed.push_back(c.args[0]);
    EXPECT_EQ(closed, opened);
    ASSERT_EQ(fake::Count("FreeLibrary"), 1u);
    EXPECT_EQ(fake::CallsTo("FreeLibrary")[0].args[0], uintptr_t(fake::AdvapiModule));
    EXPECT_EQ(At("FreeLibrary"), fake::calls.size() - 1) << "freed last";
}

TEST_F(DriverServiceTest, InstallsStartsAndRemovesWithTheFixedArguments) {
    {
        Connection lpt;
        EXPECT_TRUE(DriverService().serviceInstalled);
        EXPECT_EQ(DriverService().driverPath, "C:\\Kavit\\LPTWDMIO.SYS");
        for (const fake::Call& c : fake::CallsTo("CreateFileA"))
            EXPECT_TRUE(c.text[0] != fake::DevicePath ||
                        c.args == (std::vector<uint64_t>{0xC0000000, 3, 0, 3, 0x80, 0}))
                << c.text[0];
        EXPECT_EQ(fake::CallsTo("GetVersionExA")[0].args[0], 148u);
        EXPECT_EQ(fake::CallsTo("LoadLibraryA")[0].text[0], "ADVAPI32.DLL");
        for (const std::string& name : ServiceEntryPoints) {
            size_t i = At("GetProcAddress");
            while (i < fake::calls.size() && fake::calls[i].text[0] != name)
                i = At("GetProcAddress", i + 1);
            EXPECT_LT(i, At("OpenSCManagerA")) << name << " looked up before any is used";
        }
        fake::Call manager = fake::CallsTo("OpenSCManagerA")[0];
        EXPECT_EQ(manager.args[0], 0xF003Fu);
        EXPECT_EQ(manager.text, (Strings{"<null>", "<null>"}));
        EXPECT_EQ(fake::CallsTo("GetModuleFileNameA")[0].args[0], 0u);
        fake::Call create = fake::CallsTo("CreateServiceA")[0];
        EXPECT_EQ(create.args,
                  (std::vector<uint64_t>{uintptr_t(fake::ManagerHandle), 0xF01FF, 1, 3, 1, 0}));
        EXPECT_EQ(create.text,
                  (Strings{"lptwdmio", "LPT port direct access service", "C:\\Kavit\\LPTWDMIO.SYS",
                           "<null>", "<null>", "<null>", "<null>"}));
        fake::Checked<uint64_t> start = fake::CallsTo("StartServiceA")[0].args;
        start[2] = start[2] != 0; // any list, its first entry null
        EXPECT_EQ(start, (std::vector<uint64_t>{uintptr_t(fake::CreatedService), 0, 1, 0}));
        // Created before it is started, the device opened again once it runs, both handles
        // closed.
        EXPECT_LT(At("CreateServiceA"), At("StartServiceA"));
        EXPECT_GT(At("CreateFileA", At("StartServiceA")), At("StartServiceA"));
        EXPECT_LT(At("CreateFileA", At("StartServiceA")), fake::calls.size());
        std::set<uint64_t> closed;
        for (const fake::Call& c : fake::CallsTo("CloseServiceHandle"))
            closed.insert(c.args[0]);
        EXPECT_EQ(closed, (std::set<uint64_t>{uintptr_t(fake::CreatedService),
                                              uintptr_t(fake::ManagerHandle)}));
        EXPECT_EQ(fake::Count("CloseServiceHandle"), 2u);
        fake::calls.clear();
    }
    ExpectRemoval();
    EXPECT_EQ(fake::CallsTo("OpenServiceA")[0].text[0], "lptwdmio");
    EXPECT_EQ(fake::CallsTo("OpenServiceA")[0].args[1], 0xF01FFu);
}

TEST_F(DriverServiceTest, DriverPathIsBesideTheProgram) {
    const std::tuple<const char*, const char*, bool> table[] = {
        {"C:\\Kavit\\Kavit.exe", "C:\\Kavit\\", true},
        {"D:/games/pads/k.exe", "D:/games/pads/", true},
        {"E:\\a/b\\c.exe", "E:\\a/b\\", true},
        {"C:Kavit.exe", "C:", false},
        {"\\\\srv\\share\\K.exe", "\\\\srv\\share\\", true},
        {"Kavit.exe", "", false},
    };
    for (auto [module, directory, full] : table) {
        fake::modulePath = module;
        EXPECT_EQ(ProgramDirectory(), directory) << module;
        fake::calls.clear();
        Connection lpt;
        if (full)
            EXPECT_EQ(fake::CallsTo("CreateServiceA")[0].text[2],
                      std::string(directory) + "LPTWDMIO.SYS");
        else // a path without a drive cannot be judged from its root
            EXPECT_EQ(fake::Count("CreateServiceA"), 0u) << module;
    }
}

TEST_F(DriverServiceTest, NothingIsLoadedWhenNoInstallationIsNeeded) {
    static const bool ntCases[] = {true, false};
    for (bool nt : ntCases) {
        SCOPED_TRACE(nt ? "NT, the device opens at once" : "9x, no device: direct transport");
        SetUp();
        if (nt)
            DriverFromAttempt(1);
        else
            Windows9x();
        { Connection lpt; }
        EXPECT_EQ(fake::Count("CreateFileA"), nt ? 2u : 1u) << "the service's look, the connection";
        EXPECT_EQ(fake::Count("CloseHandle"), nt ? 2u : 0u);
        for (const char* fn : {"LoadLibraryA", "GetProcAddress", "OpenSCManagerA", "FreeLibrary"})
            EXPECT_EQ(fake::Count(fn), 0u) << fn;
    }
}

// A service left behind is used: a disabled one would not start, so it is set to start on demand
// from our file, and not started when that fails. Whatever fails at the start, a service this run
// took is deleted at exit; the reason of a failed start or change is kept for telling the user.
TEST_F(DriverServiceTest, ExistingOrUnstartableServiceIsStillDeletedAtExit) {
    struct Case {
        const char* what;
        bool exists;
        DWORD configError, startError;
    } cases[] = {
        {"the service exists", true, 0, 0},
        {"the service exists and cannot be changed", true, 1072, 0},
        {"the service does not start", false, 0, ERROR_FILE_NOT_FOUND},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        if (c.exists)
            Answer(fake::on.CreateServiceA, SC_HANDLE(nullptr));
        fake::on.ChangeServiceConfigA = [c](SC_HANDLE, DWORD, DWORD, DWORD, LPCSTR, LPCSTR, LPDWORD,
                                            LPCSTR, LPCSTR, LPCSTR, LPCSTR) {
            SetLastError(c.configError);
            return c.configError == 0;
        };
        fake::on.StartServiceA = [c](SC_HANDLE, DWORD, LPCSTR*) {
            SetLastError(c.startError);
            return c.startError == 0;
        };
        SC_HANDLE service = c.exists ? fake::OpenedService : fake::CreatedService;
        bool installed = c.configError == 0;
        {
            Connection lpt;
            EXPECT_EQ(DriverService().serviceInstalled, installed);
            EXPECT_EQ(DriverService().serviceStartError, c.startError);
            EXPECT_EQ(DriverService().serviceConfigError, c.configError);
            auto opened = fake::CallsTo("OpenServiceA");
            ASSERT_EQ(opened.size(), c.exists ? 1u : 0u);
            ASSERT_EQ(fake::Count("ChangeServiceConfigA"), c.exists ? 1u : 0u);
            if (c.exists) {
                EXPECT_EQ(opened[0].args,
                          (std::vector<uint64_t>{uintptr_t(fake::ManagerHandle), 0xF01FF}));
                EXPECT_EQ(opened[0].text[0], "lptwdmio");
                fake::Call change = fake::CallsTo("ChangeServiceConfigA")[0];
                EXPECT_EQ(change.args, (std::vector<uint64_t>{uintptr_t(service), 1, 3, 1, 0}));
                EXPECT_EQ(change.text[0], "C:\\Kavit\\LPTWDMIO.SYS");
            }
            std::vector<uint64_t> started;
            for (const fake::Call& call : fake::CallsTo("StartServiceA"))
                started.push_back(call.args[0]);
            EXPECT_EQ(started, installed ? std::vector<uint64_t>{uintptr_t(service)}
                                         : std::vector<uint64_t>{});
            EXPECT_EQ(fake::CallsTo("CloseServiceHandle")[0].args[0], uintptr_t(service));
            EXPECT_EQ(fake::Count("CreateFileA"), 3u) << "the device twice, the driver once";
            fake::calls.clear();
        }
        if (installed) {
            ExpectRemoval();
        } else {
            EXPECT_EQ(fake::Count("DeleteService"), 0u);
        }
    }
}

struct EarlyStopCase {
    std::string what;
    std::function<void()> script;
    bool managerAsked; // OpenSCManagerA called
    bool freed;        // every library loaded is freed; false: none loaded
};

TEST_F(DriverServiceTest, InstallationThatStopsEarlyStillReopensAndNeverLeaksTheLibrary) {
    std::vector<EarlyStopCase> cases = {
        {"no library", [] { Answer(fake::on.LoadLibraryA, HMODULE(nullptr)); }, false, false},
        {"no manager", [] { Answer(fake::on.OpenSCManagerA, SC_HANDLE(nullptr)); }, true, true},
        {"no service",
         [] {
             Answer(fake::on.CreateServiceA, SC_HANDLE(nullptr));
             Answer(fake::on.OpenServiceA, SC_HANDLE(nullptr));
         },
         true, true},
    };
    // ADVAPI32.DLL without one of the eight entry points, which is then never called through a
    // null pointer.
    for (const std::string& missing : ServiceEntryPoints)
        cases.push_back({"no " + missing,
                         [missing] {
                             fake::on.GetProcAddress = [missing](HMODULE module, LPCSTR name) {
                                 return missing == name
                                            ? nullptr
                                            : fake::Defaults().GetProcAddress(module, name);
                             };
                         },
                         false, true});
    for (const EarlyStopCase& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        c.script();
        {
            Connection lpt;
            EXPECT_FALSE(DriverService().serviceInstalled);
            EXPECT_EQ(fake::Count("OpenSCManagerA"), c.managerAsked ? 1u : 0u);
            EXPECT_EQ(fake::Count("StartServiceA"), 0u);
            EXPECT_EQ(fake::Count("CloseServiceHandle"), fake::Count("CreateServiceA"))
                << "the manager's handle closed";
            EXPECT_EQ(fake::CallsTo("CreateFileA").back().text[0], fake::DevicePath)
                << "the device is tried again last";
        }
        EXPECT_EQ(fake::Count("FreeLibrary"), c.freed ? fake::Count("LoadLibraryA") : 0u);
        EXPECT_EQ(fake::Count("DeleteService"), 0u);
    }
}

TEST_F(DriverServiceTest, ReleaseOrderAtExitSkipsWhatCannotBeOpened) {
    struct Case {
        bool manager, service;
    };
    static const Case cases[] = {{true, true}, {true, false}, {false, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "manager opens " << c.manager << ", service opens " << c.service);
        SetUp();
        DriverFromAttempt(2); // the driver came up after the installation
        {
            Connection lpt;
            ASSERT_TRUE(DriverService().serviceInstalled);
            if (!c.manager)
                Answer(fake::on.OpenSCManagerA, SC_HANDLE(nullptr));
            if (!c.service)
                Answer(fake::on.OpenServiceA, SC_HANDLE(nullptr));
            fake::calls.clear();
        }
        ExpectRemoval(c.manager, c.service);
        EXPECT_EQ(fake::CallsTo("CloseHandle")[0].args[0], uintptr_t(Device));
        EXPECT_LT(At("CloseHandle"), At("OpenSCManagerA")) << "the device closed first";
    }
}

} // namespace

// ---- the folder rule --------------------------------------------------------------------------

namespace place {

const char Admins[] = "S-1-5-32-544";
const char System[] = "S-1-5-18";
const char Installer[] = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
const char User[] = "S-1-5-21-1-2-3-1001";
const char Everyone[] = "S-1-1-0";
const char Users[] = "S-1-5-32-545";
const char AuthUsers[] = "S-1-5-11";
const char CreatorOwner[] = "S-1-3-0";
const char Other[] = "S-1-5-21-1-2-3-1002";

const uint8_t InheritOnly = 0x08, InheritToFiles = 0x01;
const uint32_t ReadExecute = 0x1200A9;

fake::Ace Allow(uint32_t mask, const char* sid, uint8_t flags = 0) {
    return fake::Ace{0, flags, mask, sid};
}

// The verdict on a descriptor, for the user S-1-5-21-1-2-3-1001.
std::string Judge(const std::string& owner, const std::vector<fake::Ace>& aces, TPathPart part,
                  bool dacl = true) {
    std::vector<uint8_t> user = fake::Sid(User);
    std::vector<uint8_t> descriptor = fake::Descriptor(owner, aces, dacl);
    return JudgeSecurity(descriptor.data(), DWORD(descriptor.size()), user.data(), part);
}

} // namespace place

TEST(DriverPlaceRule, WhoMayChangeTheFolderOrFile) {
    using namespace place;
    struct {
        const char* what;
        std::string owner;
        std::vector<fake::Ace> aces;
        TPathPart part;
        std::string expected; // empty: safe
        bool dacl = true;
    } const cases[] = {
        {"Program Files as installed",
         Installer,
         {Allow(0x1F01FF, Installer), Allow(0x1F01FF, System), Allow(0x1F01FF, Admins),
          Allow(ReadExecute, Users), Allow(0x10000000, CreatorOwner, InheritOnly | 0x03)},
         PartFolder,
         ""},
        {"owned by the user who runs it", User, {Allow(0x1F01FF, User)}, PartFolder, ""},
        {"a deny entry takes nothing away", Admins, {{1, 0, 0x1F01FF, Everyone}}, PartFolder, ""},
        {"Wine's 0777 folder",
         "S-1-5-21-0-0-0-1000",
         {Allow(0x1F01FF, "S-1-5-21-0-0-0-1000"), Allow(0x1F01FF, System),
          Allow(0x1301FF, Everyone)},
         PartFolder,
         " is owned by S-1-5-21-0-0-0-1000"},
        {"owned by another user",
         Other,
         {Allow(0x1F01FF, Admins)},
         PartFile,
         " is owned by S-1-5-21-1-2-3-1002"},
        {"NULL DACL", Admins, {}, PartFile, " has no access list, so anyone can change it", false},
        {"empty DACL", Admins, {}, PartFile, ""},
        // Up the path only replacing what the path names counts, and only on the folder itself.
        {"C:\\ as Windows 10 installs it",
         Installer,
         {Allow(0x1F01FF, Admins, 0x03), Allow(0x1F01FF, System, 0x03),
          Allow(ReadExecute, Users, 0x03), Allow(0x1301BF, AuthUsers, InheritOnly | 0x03),
          Allow(0x4, AuthUsers)},
         PartAncestor,
         ""},
        {"C:\\Program Files as Windows 10 installs it",
         Installer,
         {Allow(0x1F01FF, Installer), Allow(0x10000000, Installer, 0x0A), Allow(0x1301BF, System),
          Allow(0x10000000, System, 0x0B), Allow(0x1301BF, Admins), Allow(0x10000000, Admins, 0x0B),
          Allow(ReadExecute, Users), Allow(0xA0000000, Users, 0x0B),
          Allow(0x10000000, CreatorOwner, 0x0B), Allow(ReadExecute, "S-1-15-2-1"),
          Allow(0xA0000000, "S-1-15-2-1", 0x0B), Allow(ReadExecute, "S-1-15-2-2"),
          Allow(0xA0000000, "S-1-15-2-2", 0x0B)},
         PartAncestor,
         ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Judge(c.owner, c.aces, c.part, c.dacl), c.expected) << c.what;

    // One entry giving a right to someone else, in a folder or a file owned by Administrators:
    // each right that can change the file is named, a right that cannot is fine.
    struct {
        uint32_t mask;
        const char* sid;
        uint8_t flags;
        TPathPart part;
        std::string change; // empty: safe
    } const rights[] = {
        {ReadExecute, Everyone, 0, PartFile, ""},
        {0x2, AuthUsers, 0, PartFolder, "Authenticated Users (S-1-5-11): write data"},
        {0x4, Users, 0, PartFile, "Users (S-1-5-32-545): append data"},
        {0x10, Users, 0, PartFile, "Users (S-1-5-32-545): write extended attributes"},
        {0x100, Users, 0, PartFile, "Users (S-1-5-32-545): write attributes"},
        {0x10000, Other, 0, PartFile, "S-1-5-21-1-2-3-1002: delete"},
        {0x40, Users, 0, PartFolder, "Users (S-1-5-32-545): delete files in it"},
        {0x40, Users, 0, PartFile, ""}, // deleting children means nothing on a file
        {0x40000, Users, 0, PartFile, "Users (S-1-5-32-545): change its permissions"},
        {0x80000, Users, 0, PartFile, "Users (S-1-5-32-545): take ownership"},
        {0x40000000, Users, InheritOnly | InheritToFiles, PartFolder,
         "Users (S-1-5-32-545): generic write"},
        {0x10000000, Users, 0, PartFile, "Users (S-1-5-32-545): generic all"},
        {0x02000000, Users, 0, PartFile, "Users (S-1-5-32-545): maximum allowed"},
        // CREATOR OWNER is trusted only where it applies to what is created later.
        {0x10000000, CreatorOwner, InheritOnly, PartFolder, ""},
        {0x10000000, CreatorOwner, 0, PartFolder, "CREATOR OWNER (S-1-3-0): generic all"},
        {0x40, Users, 0, PartAncestor, "Users (S-1-5-32-545): delete files in it"},
        {0x40000, Users, 0, PartAncestor, "Users (S-1-5-32-545): change its permissions"},
        {0x40000006, Users, 0, PartAncestor, ""}, // adding entries replaces none
        {0x10000, Users, InheritOnly | 0x03, PartAncestor, ""},
    };
    for (const auto& r : rights)
        EXPECT_EQ(Judge(Admins, {Allow(r.mask, r.sid, r.flags)}, r.part),
                  r.change.empty() ? "" : " can be changed by " + r.change)
            << std::hex << r.mask << " to " << r.sid << " on path part " << r.part;
}

TEST(DriverPlaceRule, ACutOffDescriptorIsNeverSafe) {
    std::vector<uint8_t> user = fake::Sid(place::User);
    std::vector<uint8_t> whole = fake::SafeDescriptor();
    ASSERT_EQ(JudgeSecurity(whole.data(), DWORD(whole.size()), user.data(), PartFolder), "");
    for (size_t size = 0; size < whole.size(); ++size) {
        std::vector<uint8_t> cut(whole.begin(), whole.begin() + long(size));
        EXPECT_EQ(JudgeSecurity(cut.data(), DWORD(size), user.data(), PartFolder),
                  ": its access rights cannot be read")
            << size << " bytes";
    }
}

// Every folder from the volume's root down and the file, by who may change or replace what the
// path names; a drive without access rights and a link in the path are refused too.
TEST_F(DriverServiceTest, NothingLoadsFromAPathOthersCanChangeOrRedirect) {
    struct Case {
        const char* what;
        std::string path; // open to Everyone, or a link
        bool link;
        DWORD volumeFlags;
        std::string reason; // of a program in C:\Games\Kavit\ (empty: installed)
    } cases[] = {
        {"folder", "C:\\Games\\Kavit\\", false, FS_PERSISTENT_ACLS,
         "C:\\Games\\Kavit\\ can be changed by Everyone (S-1-1-0): write data"},
        {"driver file", "C:\\Games\\Kavit\\LPTWDMIO.SYS", false, FS_PERSISTENT_ACLS,
         "C:\\Games\\Kavit\\LPTWDMIO.SYS can be changed by Everyone (S-1-1-0): write data"},
        {"parent", "C:\\Games\\", false, FS_PERSISTENT_ACLS,
         "C:\\Games\\ can be changed by Everyone (S-1-1-0): delete"},
        {"a link in the path", "C:\\Games\\", true, FS_PERSISTENT_ACLS,
         "C:\\Games\\ is a junction or symbolic link, which can be pointed elsewhere"},
        {"FAT32", "", false, 0,
         "the drive of C:\\Games\\Kavit\\ keeps no access rights, as FAT32 and exFAT drives do, "
         "so anyone can change what is on it"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        fake::modulePath = "C:\\Games\\Kavit\\Kavit.exe";
        fake::volumeFlags = c.volumeFlags;
        if (!c.link)
            fake::security[c.path] = fake::Descriptor(place::Admins, {{0, 0, 0x1301FF, "S-1-1-0"}});
        fake::on.GetFileAttributesA = [c](LPCSTR name) {
            return DWORD(c.link && name + std::string("\\") == c.path ? 0x410 : 0x10);
        };
        Connection lpt;
        EXPECT_EQ(DriverService().driverPlace.verdict, PlaceUnsafe);
        EXPECT_EQ(DriverService().driverPlace.reason, c.reason);
        EXPECT_EQ(fake::Count("CreateServiceA") + fake::Count("StartServiceA"), 0u);
    }
}

// The driver file is held from before the folder rule until the start has returned: in between
// nobody can write it. The service loads the path the held file resolves to, the path judged.
DWORD WINAPI FakeGetFinalPathNameByHandleW(HANDLE, LPWSTR path, DWORD, DWORD) {
    const std::wstring Final = L"\\\\?\\C:\\Real\\LPTWDMIO.SYS";
    std::copy(Final.c_str(), Final.c_str() + Final.size() + 1, path);
    return DWORD(Final.size());
}

TEST_F(DriverServiceTest, TheDriverFileIsHeldUnchangedFromItsCheckUntilItsStart) {
    const char Driver[] = "C:\\Kavit\\LPTWDMIO.SYS";
    fake::files[Driver] = "MZ";
    fake::on.GetProcAddress = [](HMODULE module, LPCSTR name) {
        return std::string(name) == "GetFinalPathNameByHandleW"
                   ? reinterpret_cast<FARPROC>(
                         reinterpret_cast<void (*)()>(&FakeGetFinalPathNameByHandleW))
                   : fake::Defaults().GetProcAddress(module, name);
    };
    HANDLE writer = nullptr;
    fake::on.StartServiceA = [&](SC_HANDLE, DWORD, LPCSTR*) {
        writer = CreateFileA(Driver, GENERIC_WRITE, 7, nullptr, OPEN_EXISTING, 0, nullptr);
        return TRUE;
    };
    { Connection lpt; }
    EXPECT_EQ(writer, INVALID_HANDLE_VALUE) << "written between the check and the start";
    EXPECT_EQ(fake::CallsTo("CreateServiceA")[0].text[2], "C:\\Real\\LPTWDMIO.SYS");
    EXPECT_EQ(fake::CallsTo("GetFileSecurityA").back().text[0], "C:\\Real\\LPTWDMIO.SYS");
    EXPECT_LT(At("CreateFileA"), At("GetFileSecurityA")) << "judged before it was held";
    EXPECT_EQ(fake::OpenFileCount(), 0u) << "held past the start";
}

// A driver already running from a place others can change is used, its service never touched.
// Otherwise one that nobody else holds was left behind: this run takes it over, pointing it at our
// file if that passes the rule. At exit the last one out removes the service (counted through a
// fresh handle when ours no longer answers), or, with a driver that cannot count, its installer.
TEST_F(DriverServiceTest, ALeftOverDriverIsTakenOverAndTheLastOneOutRemovesTheService) {
    const char* const Old = "C:\\Old\\LPTWDMIO.SYS";
    const char* const OursNt = "\\??\\c:\\kavit\\lptwdmio.sys";
    const char* const Ours = "C:\\Kavit\\";
    const char* const Theirs = "C:\\Old\\";
    struct Case {
        const char* what;
        int opensAt;             // 1: the device was there already; 2: this run installed it
        DWORD atStart, atExit;   // handles counted (0: a driver that does not answer)
        const char* servicePath; // the file the service loads
        const char* unsafe;      // a folder others can change
        bool deadAtExit;         // our handle no longer answers; atExit: through a fresh one
        bool owned, repointed, removed;
    } cases[] = {
        {"left over, ours, another spelling", 1, 1, 1, OursNt, nullptr, 0, 1, 0, 1},
        {"left over, another file", 1, 1, 1, Old, nullptr, 0, 1, 1, 1},
        {"left over, another file, our folder unsafe", 1, 1, 1, Old, Ours, 0, 1, 0, 1},
        {"left over from a folder others can change", 1, 1, 1, Old, Theirs, 0, 0, 0, 0},
        {"another program holds it", 1, 2, 2, Old, nullptr, 0, 0, 0, 0},
        {"another program installed it and has gone", 1, 2, 1, Old, nullptr, 0, 0, 0, 1},
        {"the same, from a folder others can change", 1, 2, 1, Old, Theirs, 0, 0, 0, 0},
        {"there already, a driver that cannot count", 1, 0, 0, Old, nullptr, 0, 0, 0, 0},
        {"installed here, another program holds it now", 2, 2, 2, Old, nullptr, 0, 1, 0, 0},
        {"installed here, the last one out", 2, 1, 1, Old, nullptr, 0, 1, 0, 1},
        {"installed here, a driver that cannot count", 2, 0, 0, Old, nullptr, 0, 1, 0, 1},
        {"installed here, stopped under us, loaded again", 2, 1, 2, Old, nullptr, 1, 1, 0, 0},
        {"installed here, stopped under us, not since", 2, 1, 0, Old, nullptr, 1, 1, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        DriverFromAttempt(c.opensAt);
        openHandles = c.atStart;
        fake::servicePath = c.servicePath;
        if (c.unsafe)
            fake::security[c.unsafe] =
                fake::Descriptor(place::Admins, {{0, 0, 0x1301FF, place::Users}});
        size_t exitFrom = 0;
        {
            Connection lpt;
            EXPECT_EQ(DriverService().serviceInstalled, c.owned);
            ASSERT_NE(lpt.deviceHandle, INVALID_HANDLE_VALUE);
            EXPECT_EQ(DriverService().driverPlace.verdict, PlaceSafe)
                << "our folder told as refused";
            EXPECT_EQ(DriverService().runningPlace.verdict,
                      c.unsafe == Theirs ? PlaceUnsafe : PlaceSafe);
            Strings steps;
            for (const fake::Call& call : fake::calls)
                if ((call.fn == "CloseHandle" && call.args[0] == uintptr_t(Device)) ||
                    call.fn == "ControlService" || call.fn == "ChangeServiceConfigA" ||
                    call.fn == "StartServiceA" ||
                    (call.fn == "CreateFileA" && call.text[0] == fake::DevicePath))
                    steps.push_back(call.fn);
            if (c.repointed) {
                EXPECT_EQ(steps, (Strings{"CreateFileA", "CloseHandle", "ControlService",
                                          "ChangeServiceConfigA", "StartServiceA", "CreateFileA"}));
                fake::Call change = fake::CallsTo("ChangeServiceConfigA")[0];
                EXPECT_EQ(change.args[2], DWORD(SERVICE_DEMAND_START));
                EXPECT_EQ(change.text[0], "C:\\Kavit\\LPTWDMIO.SYS");
            } else {
                Strings installed = {"CreateFileA", "StartServiceA", "CreateFileA"};
                Strings looked = {"CreateFileA", "CloseHandle", "CreateFileA"};
                EXPECT_EQ(steps, c.opensAt == 1 ? looked : installed);
            }
            openHandles = c.atExit;
            // Ours answers no more, as after a stop of its driver; a fresh open reaches the
            // driver loaded since, if any.
            if (c.deadAtExit) {
                DriverFromAttempt(c.atExit ? 1 : 1000);
                refusedCounts = 1;
            }
            exitFrom = fake::calls.size();
        }
        auto at = [&](const char* fn) { return At(fn, exitFrom); };
        ASSERT_LT(at("CloseHandle"), fake::calls.size());
        EXPECT_EQ(fake::calls[at("CloseHandle")].args[0], uintptr_t(Device));
        EXPECT_EQ(at("DeleteService") < fake::calls.size(), c.removed);
        if (c.removed) {
            EXPECT_EQ(fake::calls[at("ControlService")].args[1], DWORD(SERVICE_CONTROL_STOP));
            size_t lastClose = exitFrom;
            for (size_t i = exitFrom; i < fake::calls.size(); ++i)
                if (fake::calls[i].fn == "CloseHandle")
                    lastClose = i;
            EXPECT_LT(lastClose, at("ControlService"))
                << "every device handle is closed before its driver is stopped";
        }
        EXPECT_EQ(fake::Count("LoadLibraryA"), fake::Count("FreeLibrary"));
    }
}
