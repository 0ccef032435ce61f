#include "scanner/scanner.h"

#include <gtest/gtest.h>

#include <ostream>
#include <utility>
#include <vector>

#include "common/program_state.h"
#include "common/tray_icon.h"
#include "scanner/pad_wiring.h"
#include "settings/settings.h"
#include "tests/fake/fake_win32.h"
#include "tests/scanner/pad_matrix.h"
#include "tests/scanner/scanner_fixture.h"

namespace {

struct KeyEvent {
    BYTE vk;
    BYTE scan;
    DWORD flags;
    ULONG_PTR extra;
    bool operator==(const KeyEvent& o) const {
        return vk == o.vk && scan == o.scan && flags == o.flags && extra == o.extra;
    }
};

std::ostream& operator<<(std::ostream& out, const KeyEvent& e) {
    return out << "{vk " << int(e.vk) << ", scan " << int(e.scan) << ", flags " << e.flags
               << ", extra " << e.extra << "}";
}

// Test presets: every button of every preset has its own key, all codes below 256.
struct TestKey {
    int32_t vk, scan, ext;
};
TestKey KeyOf(int preset, int pad, int button) {
    int32_t vk = 0x30 + preset * 0x40 + (pad - 1) * 0x10 + button;
    return {vk, vk + 0x80, (pad + button) % 2};
}

TCodes TestPreset(int preset) {
    TCodes codes;
    for (int b = 1; b <= 12; ++b) {
        TestKey k1 = KeyOf(preset, 1, b);
        TestKey k2 = KeyOf(preset, 2, b);
        codes.vk1[b - 1] = k1.vk;
        codes.scan1[b - 1] = k1.scan;
        codes.ext1[b - 1] = k1.ext;
        codes.vk2[b - 1] = k2.vk;
        codes.scan2[b - 1] = k2.scan;
        codes.ext2[b - 1] = k2.ext;
    }
    return codes;
}

KeyEvent Down(int pad, int button, int preset = 0) {
    TestKey k = KeyOf(preset, pad, button);
    return {BYTE(k.vk), BYTE(k.scan), DWORD(k.ext), KavitKeyMark};
}

KeyEvent Up(int pad, int button, int preset = 0) {
    KeyEvent e = Down(pad, button, preset);
    e.flags += KEYEVENTF_KEYUP;
    return e;
}

using Events = fake::Checked<KeyEvent>;

class ScanPadsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        rig.Start({TestPreset(0), TestPreset(1)});
        Clear();
        fake::on.keybd_event = [this](BYTE vk, BYTE scan, DWORD flags, ULONG_PTR extra) {
            events.push_back({vk, scan, flags, extra});
            dataAtEvent.push_back(matrix.data);
            callsAtEvent.push_back(matrix.deviceCalls);
        };
    }

    void TearDown() override {
        rig.Stop(); // drops the handlers that point into this fixture
    }

    // A fresh connection as start-up builds it; the log and counts start after it.
    void Connect() {
        rig.Connect();
        Clear();
    }

    void Clear() {
        fake::calls.clear();
        matrix.deviceCalls = 0;
        events.clear();
        dataAtEvent.clear();
        callsAtEvent.clear();
    }

    std::vector<HICON> IconChanges() {
        std::vector<HICON> icons;
        for (const fake::Call& c : fake::CallsTo("Shell_NotifyIconA")) {
            EXPECT_EQ(c.args[0], DWORD(NIM_MODIFY));
            icons.push_back(reinterpret_cast<HICON>(c.args[1]));
        }
        return icons;
    }

    void PressAll() {
        for (int pad = 1; pad <= 2; ++pad)
            for (int b = 1; b <= 12; ++b)
                matrix.Press(pad, b);
    }

    scanner_test::ScanRig rig;
    padsim::PadMatrix& matrix = rig.matrix;
    Events events = Events(std::vector<KeyEvent>(), "key events");
    // the data register when each event went out
    fake::Checked<BYTE> dataAtEvent = fake::Checked<BYTE>(std::vector<BYTE>(), "dataAtEvent");
    std::vector<unsigned> callsAtEvent; // device calls made when each event went out
    HICON first = fake::FirstIconHandle;
    HICON second = fake::SecondIconHandle;
};

// ---- wiring and order --------------------------------------------------------------------------

TEST_F(ScanPadsTest, EveryButtonSendsItsOwnKeyWhileItsSelectLineIsLow) {
    // Buttons b and b + 6 share the select line of step b.
    AppSettings.secondPlayer = 1;
    for (int pad = 1; pad <= 2; ++pad) {
        for (int button = 1; button <= 12; ++button) {
            SCOPED_TRACE(testing::Message() << "pad " << pad << " button " << button);
            BYTE pattern = SelectPatterns[(button - 1) % 6];
            matrix.Press(pad, button);
            ScanPads();
            ASSERT_EQ(events, (Events{Down(pad, button)}));
            EXPECT_EQ(dataAtEvent[0], pattern) << "sent in the middle of the pass, in its step";
            Clear();
            matrix.Release(pad, button);
            ScanPads();
            ASSERT_EQ(events, (Events{Up(pad, button)}));
            EXPECT_EQ(dataAtEvent[0], pattern);
            Clear();
        }
    }
}

TEST_F(ScanPadsTest, ButtonsAreVisitedStepByStepPadOneBeforePadTwo) {
    AppSettings.secondPlayer = 1;
    const std::pair<int, int> held[] = {{1, 2}, {2, 7},  {1, 7}, {2, 1},
                                        {2, 8}, {1, 12}, {2, 6}, {1, 1}};
    for (auto [pad, button] : held)
        matrix.Press(pad, button);
    ScanPads();
    const Events expected = {
        Down(1, 1),  Down(1, 7), Down(2, 1), Down(2, 7), // step 1
        Down(1, 2),  Down(2, 8),                         // step 2
        Down(1, 12), Down(2, 6),                         // step 6
    };
    EXPECT_EQ(events, expected);
    // Each event right after the status read that found it (the data read, then per step the
    // select write and one read per test), before the next read.
    EXPECT_EQ(callsAtEvent, (std::vector<unsigned>{3, 4, 5, 6, 8, 11, 29, 30}));
    EXPECT_EQ(IconChanges(), std::vector<HICON>{second}) << "one change for eight key-downs";
}

TEST_F(ScanPadsTest, PadTwoIsLeftAloneWithoutSecondPlayer) {
    for (int b = 1; b <= 12; ++b)
        matrix.Press(2, b);
    ScanPads();
    ScanPads();
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(matrix.deviceCalls, 2u * 19u);

    // Its flags never changed: with pad 2 switched on every button is new.
    AppSettings.secondPlayer = 1;
    ScanPads();
    EXPECT_EQ(events.size(), 12u);
    EXPECT_EQ(events[0], Down(2, 1));
    EXPECT_EQ(events[11], Down(2, 12));
}

TEST_F(ScanPadsTest, CodesAboveTwoHundredFiftyFiveSendTheirLowByte) {
    AppSettings.secondPlayer = 1;
    TCodes& codes = PresetTable.presets[0];
    codes.vk1[0] = 0x141, codes.scan1[0] = 0x2A5, codes.ext1[0] = 1;
    codes.vk2[11] = 0x1FF, codes.scan2[11] = 0x100, codes.ext2[11] = 0;
    matrix.Press(1, 1);
    matrix.Press(2, 12);
    ScanPads();
    matrix.ReleaseAll();
    ScanPads();
    EXPECT_EQ(events, (Events{{0x41, 0xA5, 1, KavitKeyMark},
                              {0xFF, 0x00, 0, KavitKeyMark},
                              {0x41, 0xA5, 3, KavitKeyMark},
                              {0xFF, 0x00, 2, KavitKeyMark}}));
}

// ---- the port ----------------------------------------------------------------------------------

TEST_F(ScanPadsTest, OnePassIsNineteenOrThirtyOneSingleRegisterAccesses) {
    struct Case {
        int secondPlayer;
        bool buttonsHeld;
        PortCode port;
        unsigned statusReadsPerStep;
    };
    const Case cases[] = {
        {0, false, PortLpt1, 2}, {0, true, PortLpt1, 2}, {1, false, PortLpt1, 4},
        {1, true, PortLpt1, 4},  {1, true, PortLpt3, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "secondPlayer " << c.secondPlayer << " held "
                                        << c.buttonsHeld << " port " << int(c.port));
        matrix.ReleaseAll();
        if (c.buttonsHeld)
            PressAll();
        matrix.port = selectedPort = c.port;
        AppSettings.secondPlayer = c.secondPlayer;
        currentTrayIcon = second; // an idle pass leaves it; key-downs find it showing already
        Clear();
        ScanPads();

        // Expected: read data, then per step write data and read status once per test.
        auto batch = [&](DWORD code, BYTE reg) { return std::make_pair(code, BYTE(c.port | reg)); };
        std::vector<std::pair<DWORD, BYTE>> expected = {batch(IoctlReadPorts, RegData)};
        for (int step = 0; step < 6; ++step) {
            expected.push_back(batch(IoctlWritePorts, RegData));
            for (unsigned r = 0; r < c.statusReadsPerStep; ++r)
                expected.push_back(batch(IoctlReadPorts, RegStatus));
        }
        std::vector<std::pair<DWORD, BYTE>> batches;
        for (const fake::Call& call : fake::CallsTo("DeviceIoControl")) {
            EXPECT_EQ(call.bytes.size(), 2u) << "one pair per batch";
            batches.push_back({DWORD(call.args[1]), call.bytes.at(0)});
        }
        EXPECT_EQ(batches, expected);
        EXPECT_EQ(batches.size(), c.secondPlayer ? 31u : 19u);
        EXPECT_EQ(fake::Count("Sleep"), 0u);
        EXPECT_EQ(events.size(), c.buttonsHeld ? (c.secondPlayer ? 24u : 12u) : 0u);
        EXPECT_TRUE(IconChanges().empty());
        ReleaseHeldKeys();
    }
}

TEST_F(ScanPadsTest, DataBitsSixAndSevenAreKeptAndThePassEndsOnDZeroLow) {
    for (BYTE before : {0x00, 0x3F, 0x40, 0x80, 0xC0, 0xD5, 0x6A}) {
        SCOPED_TRACE(testing::Message() << "data before " << int(before));
        matrix.data = before;
        Clear();
        ScanPads();
        std::vector<BYTE> written, expected;
        for (const fake::Call& call : fake::CallsTo("DeviceIoControl"))
            if (call.args[1] == IoctlWritePorts)
                written.push_back(call.bytes.at(1));
        for (BYTE p : SelectPatterns)
            expected.push_back(static_cast<BYTE>((before & 0xC0) | p));
        EXPECT_EQ(written, expected);
        EXPECT_EQ(matrix.data, (before & 0xC0) | 0x3E) << "not restored";
    }
}

// ---- held buttons and the icon -----------------------------------------------------------------

TEST_F(ScanPadsTest, HeldButtonGivesOneKeyDownOrOnePerPassWithRepeat) {
    struct Case {
        int repeat;
        size_t keyDowns; // over four passes held
    };
    for (const Case& c : {Case{0, 1}, Case{1, 4}}) {
        SCOPED_TRACE(testing::Message() << "repeat " << c.repeat);
        AppSettings.repeat = c.repeat;
        Clear();
        matrix.Press(1, 10);
        for (int pass = 0; pass < 4; ++pass)
            ScanPads();
        EXPECT_EQ(events, Events(c.keyDowns, Down(1, 10)));
        EXPECT_EQ(IconChanges(), std::vector<HICON>{second});
        matrix.Release(1, 10);
        ScanPads();
        ScanPads();
        ASSERT_EQ(events.size(), c.keyDowns + 1);
        EXPECT_EQ(events.back(), Up(1, 10));
        EXPECT_EQ(IconChanges(), (std::vector<HICON>{second, first}));
    }
}

TEST_F(ScanPadsTest, IconShowsTheLastEventAndChangesOnlyWhenItDiffers) {
    AppSettings.repeat = 1;
    matrix.Press(1, 3);
    matrix.Press(1, 5);
    ScanPads(); // two key-downs, one change
    EXPECT_EQ(IconChanges(), std::vector<HICON>{second});
    matrix.Release(1, 3);
    ScanPads(); // 3 up (first), 5 down again (second)
    EXPECT_EQ(events, (Events{Down(1, 3), Down(1, 5), Up(1, 3), Down(1, 5)}));
    EXPECT_EQ(IconChanges(), (std::vector<HICON>{second, first, second}));

    // A click flash left the resting icon: the next repeated key-down brings the other back.
    currentTrayIcon = first;
    fake::calls.clear();
    ScanPads();
    EXPECT_EQ(IconChanges(), std::vector<HICON>{second});
}

// ---- failures ----------------------------------------------------------------------------------

TEST_F(ScanPadsTest, AFailedDeviceCallEndsThePassWithoutAPhantomEvent) {
    // A failed read leaves 0 behind, which on Ack, Paper out and Select means "pressed" and on
    // Busy "released": neither may become an event. Pad 1 button 7 is held to catch the latter.
    AppSettings.secondPlayer = 1;
    matrix.Press(1, 7);
    ScanPads();
    ASSERT_EQ(events, Events{Down(1, 7)});
    for (unsigned failing = 1; failing <= 31; ++failing) {
        SCOPED_TRACE(testing::Message() << "device call " << failing << " fails");
        Clear();
        matrix.failAt = failing;
        ScanPads();
        EXPECT_EQ(matrix.deviceCalls, failing) << "nothing after the failure";
        EXPECT_TRUE(events.empty());
        EXPECT_TRUE(IconChanges().empty());
        matrix.failAt = 0;
        ScanPads();
        EXPECT_EQ(matrix.deviceCalls, failing + 31) << "the next pass is whole";
        EXPECT_TRUE(events.empty()) << "button 7 still held, its flag intact";
    }
}

TEST_F(ScanPadsTest, EventsSentBeforeAFailureStand) {
    matrix.Press(1, 1); // step 1
    matrix.Press(1, 6); // step 6
    // Calls: 1 data read; steps 1 and 2 take 2..7; 8 is the select write of step 3.
    matrix.failAt = 8;
    ScanPads();
    EXPECT_EQ(events, Events{Down(1, 1)});
    ScanPads();
    EXPECT_EQ(events, (Events{Down(1, 1), Down(1, 6)})) << "button 1 stayed down in between";
}

// A port that stops answering: no pass will see the held buttons let go, so their keys go up once
// passes have kept failing for more than half a second. Until then a failed pass changes
// nothing: a printer may hold the port for a moment. The tick count wraps on the way.
TEST_F(ScanPadsTest, PassesFailingForMoreThanHalfASecondLetGoOfHeldKeysOnce) {
    constexpr DWORD start = 0xFFFFFF00u;
    auto passAt = [](DWORD ms) {
        fake::tickCount = start + ms;
        ScanPads();
    };
    AppSettings.secondPlayer = 1;
    matrix.Press(1, 3);
    matrix.Press(2, 9);
    passAt(0);
    ASSERT_EQ(events, (Events{Down(1, 3), Down(2, 9)}));
    matrix.failError = ERROR_BUSY;

    // The half second counts from the first failure after the last whole pass.
    matrix.failing = true;
    passAt(100);
    matrix.failing = false;
    passAt(400);
    matrix.failing = true;
    for (DWORD ms : {700u, 1000u, 1200u})
        passAt(ms);
    EXPECT_EQ(events, (Events{Down(1, 3), Down(2, 9)})) << "failing for 500 ms only";
    passAt(1201);
    EXPECT_EQ(events, (Events{Down(1, 3), Down(2, 9), Up(1, 3), Up(2, 9)}));
    EXPECT_EQ(IconChanges(), (std::vector<HICON>{second, first}));
    passAt(1500);
    passAt(9000);
    EXPECT_EQ(events.size(), 4u) << "each key goes up once";
    EXPECT_EQ(IconChanges().size(), 2u);

    // The port answers again: the buttons still held go down anew.
    matrix.failing = false;
    passAt(9100);
    EXPECT_EQ(std::vector<KeyEvent>(events.begin() + 4, events.end()),
              (std::vector<KeyEvent>{Down(1, 3), Down(2, 9)}));
}

// A device that answers that it is gone (the port removed; the driver stopped under the open
// handle) will not answer again: its held keys go up with the first failed pass.
TEST_F(ScanPadsTest, ADeviceThatIsGoneLetsGoAtTheFirstFailedPass) {
    for (DWORD error : {DWORD(ERROR_FILE_NOT_FOUND), DWORD(ERROR_ACCESS_DENIED)}) {
        SCOPED_TRACE(testing::Message() << "last error " << error);
        matrix.failing = false;
        matrix.Press(1, 9);
        ScanPads();
        Clear();
        matrix.failing = true;
        matrix.failError = error;
        ScanPads();
        EXPECT_EQ(events, Events{Up(1, 9)});
        EXPECT_EQ(IconChanges(), std::vector<HICON>{first});
        ScanPads();
        EXPECT_EQ(events.size(), 1u);
    }
}

TEST_F(ScanPadsTest, NoPassRunsWithoutAWayToThePorts) {
    PressAll();
    AppSettings.secondPlayer = 1;

    PortConnection = nullptr;
    ScanPads();
    EXPECT_TRUE(fake::calls.empty());

    // NT without the driver's device, even after installing the service: Unavailable.
    matrix.deviceOpens = false;
    Connect();
    ASSERT_FALSE(PortConnection->IsOpen());
    ScanPads();
    ScanPads();
    EXPECT_TRUE(fake::calls.empty()) << "no port access, no key event, no icon";
    EXPECT_TRUE(events.empty());
}

TEST_F(ScanPadsTest, APresetIndexOutsideTheTableEndsThePassBeforeAKeyDown) {
    PresetTable.currentPreset = 2;
    matrix.Press(1, 2);
    ScanPads();
    EXPECT_TRUE(events.empty());
    PresetTable.currentPreset = 1;
    ScanPads();
    EXPECT_EQ(events, Events{Down(1, 2, 1)});
}

// ---- keys changed under a held button ----------------------------------------------------------

TEST_F(ScanPadsTest, KeyUpReleasesTheKeyThatWentDownWhateverChangedSince) {
    struct Case {
        const char* what;
        void (*change)();
    };
    const Case cases[] = {
        {"preset chosen", [] { PresetTable.currentPreset = 1; }},
        {"key assigned", [] { PresetTable.presets[0].vk2[8] = 0x70; }},
        {"scan code and flag assigned",
         [] {
             PresetTable.presets[0].scan2[8] = 0x11;
             PresetTable.presets[0].ext2[8] ^= 1;
         }},
    };
    AppSettings.secondPlayer = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PresetTable.presets = {TestPreset(0), TestPreset(1)};
        PresetTable.currentPreset = 0;
        Clear();
        matrix.Press(2, 9);
        ScanPads();
        c.change();
        ScanPads();
        matrix.Release(2, 9);
        ScanPads();
        EXPECT_EQ(events, (Events{Down(2, 9), Up(2, 9)}));
    }
}

TEST_F(ScanPadsTest, RepeatLetsGoOfTheOldKeyBeforePressingANewOne) {
    AppSettings.repeat = 1;
    matrix.Press(1, 11);
    ScanPads();
    PresetTable.currentPreset = 1;
    ScanPads();
    ScanPads();
    EXPECT_EQ(events, (Events{Down(1, 11), Up(1, 11, 0), Down(1, 11, 1), Down(1, 11, 1)}));
    EXPECT_EQ(IconChanges(), std::vector<HICON>{second}) << "the button never let go";
    matrix.Release(1, 11);
    ScanPads();
    EXPECT_EQ(events.back(), Up(1, 11, 1));

    // A preset that gives the button the same key, as keybd_event sees it: nothing to let go of.
    Clear();
    PresetTable.currentPreset = 0;
    const TCodes& before = PresetTable.presets[0];
    TCodes& after = PresetTable.presets[1];
    after.vk1[10] = before.vk1[10] + 0x100;
    after.scan1[10] = before.scan1[10];
    after.ext1[10] = before.ext1[10];
    matrix.Press(1, 11);
    ScanPads();
    PresetTable.currentPreset = 1;
    ScanPads();
    EXPECT_EQ(events, (Events{Down(1, 11), Down(1, 11)}));
}

// ---- shutdown ----------------------------------------------------------------------------------

TEST_F(ScanPadsTest, ReleaseHeldKeysLetsGoOfEveryButtonStillDown) {
    AppSettings.secondPlayer = 1;
    matrix.Press(1, 12);
    matrix.Press(2, 5);
    matrix.Press(1, 1);
    ScanPads();
    PresetTable.currentPreset = 1;
    Clear();
    ReleaseHeldKeys();
    EXPECT_EQ(events, (Events{Up(1, 1), Up(1, 12), Up(2, 5)}));
    EXPECT_EQ(fake::Count("DeviceIoControl"), 0u) << "the port is not needed";
    EXPECT_TRUE(IconChanges().empty()) << "the tray icon is already gone at shutdown";

    Clear();
    ReleaseHeldKeys();
    EXPECT_TRUE(fake::calls.empty()) << "nothing left down";

    // The flags are clear: buttons still pressed are new to the next pass.
    ScanPads();
    EXPECT_EQ(events, (Events{Down(1, 1, 1), Down(2, 5, 1), Down(1, 12, 1)}));
}

} // namespace
