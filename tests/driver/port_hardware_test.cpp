// The hardware back end of LPTWDMIO.SYS (driver/port_hardware.c) driven on the host against a
// stand-in for parport and the PnP manager: when ports are taken and given back, what a second
// handle or a waiting print job sees, what a card's removal leaves, which registers are touched,
// and that no routine runs at an IRQL it may not.
#include <gtest/gtest.h>

#include "tests/driver/parport_standin.h"

extern "C" {
#include "driver/batch.h"
#include "driver/pool.h"
#include "driver/port_backend.h"
}

namespace {

using standin::M;

const uintptr_t Base1 = 0x378, Base2 = 0xDC00;

class PortHardwareTest : public ::testing::Test {
  protected:
    void SetUp() override {
        standin::Reset({{L"LPT1", Base1}, {L"LPT2", Base2}});
        M().registers[Base1 + LPT_REG_CONTROL] = 0xEC; // interrupt on, data lines as outputs
        M().registers[Base2 + LPT_REG_CONTROL] = 0xC4;
        PoolChoose();
        ASSERT_EQ(PortBackendLoad(&driver), STATUS_SUCCESS);
    }
    void TearDown() override {
        for (TPortSet* set : open)
            Close(set);
        EXPECT_EQ(standin::ActiveRegistrations(), 0) << "a notification left registered";
        for (const standin::Parport& p : M().parports) {
            EXPECT_FALSE(p.allocated) << "a port left allocated";
            EXPECT_EQ(p.infoHeld, 0) << "port information not released";
            EXPECT_EQ(p.fileRefs, 0) << "a file object left referenced";
        }
        EXPECT_EQ(M().faults, std::vector<std::string>{});
    }

    TPortSet* Open() {
        TPortSet* set = nullptr;
        EXPECT_EQ(PortSetOpen(&set), STATUS_SUCCESS);
        open.push_back(set);
        return set;
    }
    void Close(TPortSet* set) {
        PortSetCleanup(set);
        PortSetFree(set);
        open.erase(std::find(open.begin(), open.end(), set));
    }

    // What the dispatch does with a batch: the checks against the ports found, then the run.
    NTSTATUS Batch(TPortSet* set, int kind, std::vector<uint8_t>& pairs) {
        uint32_t length = static_cast<uint32_t>(pairs.size());
        TBatchVerdict verdict = CheckBatch(pairs.data(), length, length, PortSetFound(set), kind);
        if (verdict == BatchNoSuchPort)
            return STATUS_NO_SUCH_DEVICE;
        if (verdict != BatchOk)
            return STATUS_UNSUCCESSFUL;
        return PortSetRun(set, kind, pairs.data(), length / 2);
    }
    NTSTATUS Read(TPortSet* set, std::vector<uint8_t> p) { return Batch(set, BatchReads, p); }
    NTSTATUS Write(TPortSet* set, std::vector<uint8_t> p) { return Batch(set, BatchWrites, p); }

    static size_t AccessesIn(uintptr_t base) {
        size_t n = 0;
        for (const standin::Access& a : M().accesses)
            n += a.address >= base && a.address < base + LPT_REGISTER_SPAN;
        return n;
    }

    DRIVER_OBJECT driver{};
    std::vector<TPortSet*> open;
};

TEST_F(PortHardwareTest, APortIsTakenAtTheFirstBatchThatNamesItAndItsUpperControlBitsKept) {
    TPortSet* set = Open();
    EXPECT_EQ(PortSetFound(set), 0x3u);
    EXPECT_FALSE(M().parports[0].allocated) << "taken at open";
    EXPECT_EQ(standin::ActiveRegistrations(), 2) << "each port watched for removal";
    EXPECT_TRUE(M().accesses.empty());

    EXPECT_EQ(Read(set, {0x11, 0}), STATUS_SUCCESS);
    EXPECT_TRUE(M().parports[0].allocated);
    EXPECT_FALSE(M().parports[1].allocated) << "LPT2 taken by a batch for LPT1";

    // Bits 4-7 come from the one read at allocation, even when the chip reads back otherwise.
    M().registers[Base1 + LPT_REG_CONTROL] = 0x00;
    M().accesses.clear();
    EXPECT_EQ(Write(set, {0x12, 0x0B, 0x12, 0xF4}), STATUS_SUCCESS);
    ASSERT_EQ(M().accesses.size(), 2u) << "the control register read again for a write";
    EXPECT_EQ(M().accesses[0].value, 0xEB);
    EXPECT_EQ(M().accesses[1].value, 0xE4);
}

// A pad pass in one batch: each pair read or written as its flag says, in order, or none at all.
TEST_F(PortHardwareTest, AMixedBatchRunsItsPairsInOrderOrNotAtAll) {
    const uint8_t R = LPT_PAIR_READ;
    TPortSet* set = Open();
    M().registers[Base1] = 0xC3;
    M().registers[Base1 + LPT_REG_STATUS] = 0x5A;
    std::vector<uint8_t> pass = {0x10 | R, 0, 0x10, 0xDF, 0x11 | R, 0, 0x10, 0xEF, 0x11 | R, 0};
    ASSERT_EQ(Batch(set, BatchMixed, pass), STATUS_SUCCESS);
    EXPECT_EQ(pass,
              (std::vector<uint8_t>{0x18, 0xC3, 0x10, 0xDF, 0x19, 0x5A, 0x10, 0xEF, 0x19, 0x5A}));
    std::vector<uintptr_t> offsets;
    std::vector<uint8_t> values;
    for (const standin::Access& a : M().accesses) {
        offsets.push_back(a.address - Base1);
        values.push_back(a.value);
    }
    EXPECT_EQ(offsets, (std::vector<uintptr_t>{2, 0, 0, 1, 0, 1})) << "control read once first";
    EXPECT_EQ(values, (std::vector<uint8_t>{0xEC, 0xC3, 0xDF, 0x5A, 0xEF, 0x5A}));
    EXPECT_EQ(M().registers[Base1], 0xEF);

    // A write to the status register, or to no register, anywhere: nothing is touched.
    for (uint8_t bad : {uint8_t(0x11), uint8_t(0x13 | R), uint8_t(0x40 | R)}) {
        std::vector<uint8_t> pairs = {0x10, 0x01, 0x11 | R, 0, bad, 0};
        M().accesses.clear();
        EXPECT_NE(Batch(set, BatchMixed, pairs), STATUS_SUCCESS) << std::hex << int(bad);
        EXPECT_TRUE(M().accesses.empty()) << std::hex << int(bad);
    }
}

TEST_F(PortHardwareTest, AHeldPortGoesToAWaitingPrintJobAfterABatchThatDoesNotNameIt) {
    TPortSet* set = Open();
    ASSERT_EQ(Read(set, {0x11, 0, 0x21, 0}), STATUS_SUCCESS);
    M().parports[0].waiters = 1;
    EXPECT_EQ(Read(set, {0x11, 0}), STATUS_SUCCESS);
    EXPECT_EQ(M().parports[0].frees, 0) << "a port in use given away";
    M().parports[1].waiters = 1;
    EXPECT_EQ(Read(set, {0x11, 0}), STATUS_SUCCESS);
    EXPECT_EQ(M().parports[1].frees, 1) << "LPT2 kept from the print job waiting for it";
    EXPECT_EQ(M().parports[0].frees, 0);

    // The print job has LPT2 now: a batch for it fails whole, touching nothing.
    M().accesses.clear();
    EXPECT_EQ(Read(set, {0x10, 0, 0x21, 0}), STATUS_DEVICE_BUSY);
    EXPECT_TRUE(M().accesses.empty());
    M().parports[1].allocated = false; // printed
    EXPECT_EQ(Read(set, {0x21, 0}), STATUS_SUCCESS);
    EXPECT_EQ(M().parports[0].frees, 1) << "LPT1 kept from its waiting print job";
    M().parports[0].allocated = false; // printed
}

TEST_F(PortHardwareTest, ABatchForAPortAnotherHandleHoldsFailsWhole) {
    TPortSet* kavit = Open();
    TPortSet* check = Open();
    ASSERT_EQ(Write(kavit, {0x20, 0x55}), STATUS_SUCCESS);
    M().accesses.clear();
    EXPECT_EQ(Read(check, {0x20, 0}), STATUS_DEVICE_BUSY);
    EXPECT_EQ(Write(check, {0x10, 0x01, 0x20, 0x02}), STATUS_DEVICE_BUSY);
    EXPECT_TRUE(M().accesses.empty());
    EXPECT_FALSE(M().parports[0].allocated) << "LPT1 kept by a batch that failed";
    Close(kavit);
    EXPECT_EQ(Read(check, {0x20, 0}), STATUS_SUCCESS) << "port not free after the other closed";
}

// Query-remove (our reference would veto it) and remove-complete (all a surprise removal brings)
// both give the port back; a cancelled removal changes nothing.
TEST_F(PortHardwareTest, ARemovedPortIsGivenBackAndNeverTouchedAgain) {
    const GUID* events[] = {&GUID_TARGET_DEVICE_QUERY_REMOVE, &GUID_TARGET_DEVICE_REMOVE_COMPLETE};
    for (const GUID* event : events) {
        SetUp();
        TPortSet* set = Open();
        ASSERT_EQ(Read(set, {0x10, 0, 0x20, 0}), STATUS_SUCCESS);
        standin::Notify(0, GUID_TARGET_DEVICE_REMOVE_CANCELLED);
        EXPECT_EQ(PortSetFound(set), 0x3u) << "a cancelled removal took the port";

        standin::Notify(0, *event);
        const standin::Parport& lpt1 = M().parports[0];
        EXPECT_FALSE(lpt1.allocated);
        EXPECT_EQ(lpt1.infoHeld, 0);
        EXPECT_EQ(lpt1.fileRefs, 0) << "our reference would veto the removal";
        EXPECT_EQ(PortSetFound(set), 0x2u);

        M().accesses.clear();
        EXPECT_EQ(Read(set, {0x10, 0}), STATUS_NO_SUCH_DEVICE);
        EXPECT_EQ(Write(set, {0x20, 0x01, 0x12, 0x04}), STATUS_NO_SUCH_DEVICE);
        // A batch checked before the removal and run after it.
        uint8_t late[] = {0x20, 0, 0x11, 0};
        EXPECT_EQ(PortSetRun(set, BatchReads, late, 2), STATUS_NO_SUCH_DEVICE);
        EXPECT_EQ(AccessesIn(Base1), 0u) << "a register of the removed port touched";
        EXPECT_TRUE(M().accesses.empty()) << "a batch that failed touched LPT2";
        EXPECT_EQ(Read(set, {0x21, 0}), STATUS_SUCCESS) << "LPT2 lost with LPT1";
        standin::Notify(0, GUID_TARGET_DEVICE_REMOVE_COMPLETE); // after query-remove: nothing more
        EXPECT_EQ(standin::ActiveRegistrations(), 1) << "a device gone still watched";
        Close(set);
        TearDown();
    }
}

// Before Windows 7 a removal callback may still come after its registration was removed, when
// the set it was made for has been freed (AddressSanitizer watches the host tests). It must not
// take the port from a handle opened since.
TEST_F(PortHardwareTest, ARemovalCallbackAfterCloseChangesNothing) {
    TPortSet* closed = Open();
    ASSERT_EQ(Read(closed, {0x10, 0}), STATUS_SUCCESS);
    Close(closed);
    TPortSet* set = Open();
    ASSERT_EQ(Read(set, {0x10, 0}), STATUS_SUCCESS);
    for (const GUID* event :
         {&GUID_TARGET_DEVICE_QUERY_REMOVE, &GUID_TARGET_DEVICE_REMOVE_COMPLETE})
        standin::Notify(0, *event, true);
    EXPECT_EQ(PortSetFound(set), 0x3u);
    EXPECT_TRUE(M().parports[0].allocated);
    EXPECT_EQ(standin::ActiveRegistrations(), 2);
}

// A port that cannot be watched is not kept: its reference would veto the card's removal.
TEST_F(PortHardwareTest, APortThatCannotBeWatchedIsLetGo) {
    M().registrationsFail = true;
    TPortSet* set = Open();
    EXPECT_EQ(PortSetFound(set), 0u);
    EXPECT_EQ(M().parports[0].fileRefs + M().parports[1].fileRefs, 0);
}

TEST(DriverPoolTest, NonExecutablePoolFromWindows8On) {
    struct Case {
        ULONG major, minor;
        POOL_TYPE want;
    } cases[] = {{5, 1, NonPagedPool},
                 {6, 1, NonPagedPool},
                 {6, 2, NonPagedPoolNx},
                 {6, 3, NonPagedPoolNx},
                 {10, 0, NonPagedPoolNx}};
    for (const Case& c : cases) {
        standin::Reset({});
        M().major = c.major;
        M().minor = c.minor;
        PoolChoose();
        DRIVER_OBJECT driver{};
        PortBackendLoad(&driver);
        TPortSet* set = nullptr;
        ASSERT_EQ(PortSetOpen(&set), STATUS_SUCCESS);
        PortSetCleanup(set);
        PortSetFree(set);
        EXPECT_EQ(M().pools, std::vector<POOL_TYPE>{c.want}) << c.major << "." << c.minor;
    }
}

} // namespace
