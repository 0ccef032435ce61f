// The rules of LPTWDMIO.SYS that decide what a caller may reach: which batches are carried out,
// what the control register keeps, and who may open the device.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "driver/batch.h"
#include "driver/device_acl.h"

namespace {

const uint32_t AllPorts = 0x7;

TBatchVerdict Check(const std::vector<uint8_t>& pairs, uint32_t found = AllPorts, int isWrite = 0) {
    uint32_t length = static_cast<uint32_t>(pairs.size());
    return CheckBatch(pairs.data(), length, length, found, isWrite);
}

std::vector<uint8_t> Reads(size_t count, uint8_t address) {
    std::vector<uint8_t> pairs;
    for (size_t i = 0; i < count; i++) {
        pairs.push_back(address);
        pairs.push_back(0);
    }
    return pairs;
}

// The nine registers of LPT1..LPT3: {address, port index, register}.
const uint8_t Registers[][3] = {{0x10, 0, 0}, {0x11, 0, 1}, {0x12, 0, 2},
                                {0x20, 1, 0}, {0x21, 1, 1}, {0x22, 1, 2},
                                {0x30, 2, 0}, {0x31, 2, 1}, {0x32, 2, 2}};

TEST(DriverBatchTest, EveryRegisterOfAFoundPortIsReachable) {
    for (const auto& r : Registers) {
        EXPECT_EQ(Check({r[0], 0x55}), BatchOk) << std::hex << int(r[0]);
        EXPECT_EQ(BatchPortIndex(r[0]), r[1]);
        EXPECT_EQ(BatchRegister(r[0]), r[2]);
    }
    EXPECT_EQ(Check(Reads(LPT_BATCH_MAX_PAIRS, 0x21)), BatchOk);
}

// Each register address outside LPT1..3 offsets 0..2 fails the batch, wherever it stands in it.
TEST(DriverBatchTest, AddressesOutsideThePortsFailTheWholeBatch) {
    for (unsigned address = 0; address <= 0xFF; address++) {
        TBatchVerdict want =
            address < 0x10 || address > 0x3F ? BatchNoSuchPort : BatchNoSuchRegister;
        for (const auto& r : Registers)
            want = r[0] == address ? BatchOk : want;
        uint8_t a = static_cast<uint8_t>(address);
        EXPECT_EQ(Check({a, 0}), want) << std::hex << address;
        EXPECT_EQ(Check({0x10, 0, 0x11, 0, a, 0}), want) << "last pair " << std::hex << address;
        EXPECT_EQ(Check({a, 0, 0x10, 0}), want) << "first pair " << std::hex << address;
    }
}

TEST(DriverBatchTest, PortsNotFoundAreNotReachable) {
    EXPECT_EQ(Check({0x10, 0}, 0x0), BatchNoSuchPort);
    EXPECT_EQ(Check({0x20, 0}, 0x5), BatchNoSuchPort);
    EXPECT_EQ(Check({0x30, 0, 0x10, 0}, 0x3), BatchNoSuchPort);
    EXPECT_EQ(Check({0x32, 0}, 0x4), BatchOk);
}

TEST(DriverBatchTest, LengthsOutsideTheRulesFail) {
    const uint8_t pairs[4] = {0x10, 0, 0x11, 0};
    struct Case {
        uint32_t in, out;
        TBatchVerdict want;
    } cases[] = {
        {0, 0, BatchEmpty},       {0, 2, BatchEmpty},       {1, 1, BatchOddLength},
        {3, 4, BatchOddLength},   {4, 3, BatchOutputShort}, {4, 2, BatchOutputShort},
        {2, 0, BatchOutputShort}, {4, 4, BatchOk},          {2, 64, BatchOk},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CheckBatch(pairs, c.in, c.out, AllPorts, 0), c.want) << c.in << "/" << c.out;
    EXPECT_EQ(CheckBatch(nullptr, 0, 0, AllPorts, 0), BatchEmpty);
    EXPECT_EQ(Check(Reads(LPT_BATCH_MAX_PAIRS + 1, 0x10)), BatchTooLong);
    // Past the cap the pairs are not even looked at: a huge length cannot walk off the buffer.
    EXPECT_EQ(CheckBatch(pairs, 0xFFFFFFFE, 0xFFFFFFFE, AllPorts, 0), BatchTooLong);
}

// The status register is read, never written: a write batch naming it anywhere is refused whole.
TEST(DriverBatchTest, WritesToTheStatusRegisterFailTheWholeBatch) {
    for (uint8_t status : {0x11, 0x21, 0x31}) {
        EXPECT_EQ(Check({status, 0}, AllPorts, 1), BatchReadOnly) << std::hex << int(status);
        EXPECT_EQ(Check({0x10, 0, 0x12, 0x04, status, 0}, AllPorts, 1), BatchReadOnly);
        EXPECT_EQ(Check({status, 0, 0x10, 0}, AllPorts, 1), BatchReadOnly);
        EXPECT_EQ(Check({status, 0}, AllPorts, 0), BatchOk) << "reading it stays allowed";
    }
    EXPECT_EQ(Check({0x10, 0, 0x22, 0, 0x30, 0}, AllPorts, 1), BatchOk);
}

TEST(DriverBatchTest, ControlWritesChangeOnlyTheOutputLines) {
    struct Case {
        uint8_t current, requested, want;
    } cases[] = {
        {0xCC, 0x00, 0xC0}, // interrupt and direction off stay off
        {0xFF, 0x00, 0xF0}, // ... and on stay on, whatever the caller sends
        {0x00, 0xFF, 0x0F}, {0x30, 0x05, 0x35}, {0xEA, 0x14, 0xE4},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ControlRegisterValue(c.current, c.requested), c.want)
            << std::hex << int(c.current) << " <- " << int(c.requested);
}

// Who may open the device: both data rights, asked for or already granted; generic rights count
// as what they map to. A create request without a security context (Wine's) cannot be judged.
TEST(DriverOpenTest, OpensNeedReadAndWriteData) {
    const uint32_t Read = 0x1, Write = 0x2, Sync = 0x00100000, Attributes = 0x80;
    const uint32_t GenericRead = 0x80000000u, GenericWrite = 0x40000000u, GenericAll = 0x10000000u;
    struct Case {
        int hasContext;
        uint32_t desired, granted;
        bool allowed;
        const char* what;
    } cases[] = {
        {1, GenericRead | GenericWrite, 0, true, "Kavit's own open"},
        {1, 0x0012019F, 0, true, "GENERIC_READ | GENERIC_WRITE as Windows maps them"},
        {1, Read | Write, 0, true, "both data rights"},
        {1, GenericAll, 0, true, "GENERIC_ALL"},
        {1, 0, Read | Write | Sync, true, "rights the device check already granted"},
        {1, Read, Write, true, "one asked, one granted"},
        {1, 0, 0, false, "no access at all"},
        {1, Sync | Attributes, Sync | Attributes, false, "what CreateFile adds to access 0"},
        {1, Read, 0, false, "read data only"},
        {1, GenericWrite | Sync, 0, false, "GENERIC_WRITE only"},
        {1, 0x00060000, 0x00060000, false, "WRITE_DAC | WRITE_OWNER"},
        {0, 0, 0, true, "no security context (Wine)"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(OpenRightsSuffice(c.hasContext, c.desired, c.granted) != 0, c.allowed) << c.what;
}

// The ACL read back field by field, the way Windows will: revision, ACEs, rights, SIDs.
uint32_t Get16(const uint8_t* at) {
    return at[0] | at[1] << 8;
}

uint32_t Get32(const uint8_t* at) {
    return Get16(at) | Get16(at + 2) << 16;
}

std::string SidText(const uint8_t* sid, uint32_t size) {
    if (size < 8 || size != 8u + 4u * sid[1])
        return "bad SID length";
    uint64_t authority = 0;
    for (int i = 2; i < 8; i++)
        authority = authority << 8 | sid[i];
    std::string text = "S-" + std::to_string(sid[0]) + "-" + std::to_string(authority);
    for (uint32_t i = 0; i < sid[1]; i++)
        text += "-" + std::to_string(Get32(sid + 8 + 4 * i));
    return text;
}

TEST(DeviceAclTest, GrantsAllAccessToSystemAndAdministratorsOnly) {
    uint8_t acl[DEVICE_ACL_SIZE + 8];
    memset(acl, 0xEE, sizeof(acl));
    uint32_t length = BuildDeviceAcl(acl, sizeof(acl));
    ASSERT_EQ(length, static_cast<uint32_t>(DEVICE_ACL_SIZE));
    EXPECT_EQ(acl[length], 0xEE) << "written past its length";
    EXPECT_EQ(acl[0], 2) << "ACL_REVISION";
    EXPECT_EQ(acl[1], 0);
    EXPECT_EQ(Get16(acl + 2), length) << "AclSize";
    ASSERT_EQ(Get16(acl + 4), 2u) << "AceCount";
    EXPECT_EQ(Get16(acl + 6), 0u);

    std::vector<std::string> grantees;
    uint32_t at = 8;
    for (int i = 0; i < 2; i++) {
        const uint8_t* ace = acl + at;
        uint32_t size = Get16(ace + 2);
        ASSERT_GE(size, 16u);
        ASSERT_LE(at + size, length);
        EXPECT_EQ(size % 4, 0u) << "ACE " << i << " not DWORD aligned";
        EXPECT_EQ(ace[0], 0) << "ACE " << i << " is not ACCESS_ALLOWED";
        EXPECT_EQ(ace[1], 0) << "ACE " << i << " flags";
        EXPECT_EQ(Get32(ace + 4), 0x001F01FFu) << "ACE " << i << " rights: FILE_ALL_ACCESS";
        grantees.push_back(SidText(ace + 8, size - 8));
        at += size;
    }
    EXPECT_EQ(at, length);
    EXPECT_EQ(grantees, (std::vector<std::string>{"S-1-5-18", "S-1-5-32-544"}));
}

TEST(DeviceAclTest, RefusesABufferTooSmall) {
    uint8_t acl[DEVICE_ACL_SIZE];
    memset(acl, 0xEE, sizeof(acl));
    EXPECT_EQ(BuildDeviceAcl(acl, DEVICE_ACL_SIZE - 1), 0u);
    EXPECT_EQ(acl[0], 0xEE);
}

} // namespace
