#include "tests/scanner/pad_matrix.h"

#include <gtest/gtest.h>

#include <ostream>

#include "tests/fake/fake_win32.h"

namespace {

// The pad model that the scanner tests and the simulated driver share, held to the wiring on its
// own: the select line that must be low, and the status bit that answers (Busy inverted).
TEST(PadMatrixTest, StatusFollowsTheWiring) {
    struct Case {
        int pad, button; // 0: nothing pressed
        BYTE data;
        BYTE status;
    };
    const Case cases[] = {
        {0, 0, 0x00, 0x7F},  // idle: Ack, Paper out, Select read 1, Busy 0, bits 0..3 high
        {1, 1, 0x1F, 0x3F},  // D5 low: Acknowledge pulled low
        {1, 1, 0x2F, 0x7F},  // D5 high: the button is not selected
        {1, 1, 0x00, 0x3F},  // every line low selects it too
        {1, 7, 0x1F, 0xFF},  // Busy pulled low reads 1
        {1, 12, 0x3E, 0xFF}, // D0
        {1, 6, 0xFE, 0x3F},  // D6, D7 high do not matter
        {2, 1, 0x1F, 0x5F},  // Paper out
        {2, 6, 0x3E, 0x5F},  {2, 12, 0x3E, 0x6F}, // Select
        {2, 12, 0x3D, 0x7F}, {2, 9, 0x37, 0x6F},  // D3
    };
    for (const Case& c : cases) {
        padsim::PadMatrix matrix;
        if (c.pad)
            matrix.Press(c.pad, c.button);
        matrix.data = c.data;
        EXPECT_EQ(matrix.Status(), c.status)
            << "pad " << c.pad << " button " << c.button << " data " << int(c.data);
    }
}

TEST(PadMatrixTest, DriverBatchesReachTheRegistersOfItsPortOnly) {
    fake::Reset();
    padsim::PadMatrix matrix;
    matrix.port = PortLpt2;
    matrix.Install();
    matrix.Press(1, 2);
    TLptPortConnection connection;
    ASSERT_EQ(connection.deviceHandle, padsim::DeviceHandle);
    EXPECT_FALSE(connection.lpt1Present);
    EXPECT_TRUE(connection.lpt2Present);

    EXPECT_TRUE(connection.WritePort(PortLpt2, RegData, 0xAF)); // D4 low: button 2
    EXPECT_EQ(matrix.data, 0xAF);
    EXPECT_EQ(connection.ReadPort(PortLpt2, RegStatus), 0x3F);
    EXPECT_EQ(connection.ReadPort(PortLpt1, RegStatus), 0xFF) << "nothing on LPT1";

    matrix.failAt = matrix.deviceCalls + 1;
    EXPECT_FALSE(connection.WritePort(PortLpt2, RegData, 0x00));
    EXPECT_EQ(matrix.data, 0xAF) << "a failed batch changes nothing";
    fake::Reset();
}

} // namespace
