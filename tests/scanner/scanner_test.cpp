#include "scanner/scanner.h"

#include <gtest/gtest.h>

#include <ostream>
#include <utility>
#include <vector>

#include "common/program_state.h"
#include "common/tray_icon.h"
#include "wire/pad_wiring.h"
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
            matrix.Press(pad, button);
            ScanPads();
            ASSERT_EQ(events, (Events{Down(pad, button)}));
            Clear();
            matrix.Release(pad, button);
            ScanPads();
            ASSERT_EQ(events, (Events{Up(pad, button)}));
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
    // The events follow the pass's two device calls: the data read, then the six steps.
    EXPECT_EQ(callsAtEvent, std::vector<unsigned>(8, 2u));
    EXPECT_EQ(IconChanges(), std::vector<HICON>{second}) << "one change for eight key-downs";
}

TEST_F(ScanPadsTest, PadTwoIsLeftAloneWithoutSecondPlayer) {
    for (int b = 1; b <= 12; ++b)
        matrix.Press(2, b);
    ScanPads();
    ScanPads();
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(matrix.deviceCalls, 2u * 2u);

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

// The register accesses of a pass are 19 (31 with two pads): the data read, then per step the
// select write, D6 and D7 as read, and one status read per test. They travel in two device calls,
// or, with a driver that refuses the batch code, one call each from its refusal on.
TEST_F(ScanPadsTest, OnePassIsNineteenOrThirtyOneAccessesInTwoCallsOrSingleOnesWithAnOldDriver) {
    struct Case {
        int secondPlayer;
        bool buttonsHeld, knowsRunPairs;
        PortCode port;
        BYTE dataBefore;
        unsigned firstCalls, laterCalls; // device calls of the first pass and of the next
    };
    const Case cases[] = {
        {0, false, true, PortLpt1, 0x00, 2, 2},   {0, true, true, PortLpt1, 0xD5, 2, 2},
        {1, false, true, PortLpt1, 0x40, 2, 2},   {1, true, true, PortLpt3, 0x80, 2, 2},
        {0, true, false, PortLpt1, 0x6A, 20, 19}, {1, true, false, PortLpt2, 0xC0, 32, 31},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "secondPlayer " << c.secondPlayer << " held " << c.buttonsHeld
                     << " batch code known " << c.knowsRunPairs << " port " << int(c.port));
        matrix.knowsRunPairs = c.knowsRunPairs;
        Connect();
        matrix.ReleaseAll();
        if (c.buttonsHeld)
            PressAll();
        matrix.port = selectedPort = c.port;
        AppSettings.secondPlayer = c.secondPlayer;
        currentTrayIcon = second; // an idle pass leaves it; key-downs find it showing already

        const BYTE keep = c.dataBefore & 0xC0;
        std::vector<BYTE> expected = {BYTE(c.port | PairRead)}; // register, OR PairRead: a read
        std::vector<BYTE> written;
        for (BYTE pattern : SelectPatterns) {
            expected.push_back(c.port);
            written.push_back(BYTE(keep | pattern));
            for (int r = 0; r < (c.secondPlayer ? 4 : 2); ++r)
                expected.push_back(BYTE(c.port | RegStatus | PairRead));
        }
        for (unsigned calls : {c.firstCalls, c.laterCalls}) {
            matrix.data = c.dataBefore;
            matrix.accesses.clear();
            matrix.deviceCalls = 0;
            events.clear();
            ScanPads();
            std::vector<BYTE> registers, values;
            for (auto [address, value] : matrix.accesses) {
                registers.push_back(address);
                if (!(address & PairRead))
                    values.push_back(value);
            }
            EXPECT_EQ(registers, expected);
            EXPECT_EQ(values, written) << "D6 and D7 kept with every pattern";
            EXPECT_EQ(matrix.deviceCalls, calls);
            EXPECT_EQ(events.size(), c.buttonsHeld ? (c.secondPlayer ? 24u : 12u) : 0u);
            EXPECT_EQ(matrix.data, keep | 0x3E) << "the pass ends on D0 low, not restored";
            ReleaseHeldKeys();
        }
        EXPECT_EQ(fake::Count("Sleep"), 0u);
        EXPECT_TRUE(IconChanges().empty());
        fake::calls.clear();
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

// A failed read leaves 0 behind, which on Ack, Paper out and Select means "pressed" and on Busy
// "released": neither may become an event. Pad 1 button 7 is held to catch the latter. Whichever
// device call fails, in two calls or in single ones, the pass sends nothing, not even for the
// buttons read before the failure.
TEST_F(ScanPadsTest, AFailedDeviceCallEndsThePassWithoutAnyEvent) {
    AppSettings.secondPlayer = 1;
    for (unsigned callsPerPass : {2u, 31u}) {
        matrix.knowsRunPairs = callsPerPass == 2;
        Connect();
        matrix.Press(1, 7);
        ScanPads();
        ASSERT_EQ(events, Events{Down(1, 7)});
        matrix.Press(1, 1); // read first of all
        for (unsigned failing = 1; failing <= callsPerPass; ++failing) {
            SCOPED_TRACE(testing::Message() << "device call " << failing << " fails");
            Clear();
            matrix.failAt = failing;
            ScanPads();
            EXPECT_EQ(matrix.deviceCalls, failing) << "nothing after the failure";
            EXPECT_TRUE(events.empty());
            EXPECT_TRUE(IconChanges().empty());
            matrix.failAt = 0;
            ScanPads();
            EXPECT_EQ(matrix.deviceCalls, failing + callsPerPass) << "the next pass is whole";
            EXPECT_EQ(events, Events{Down(1, 1)}) << "button 7 still held, its flag intact";
            matrix.Release(1, 1);
            ScanPads();
            matrix.Press(1, 1);
        }
        ReleaseHeldKeys();
        matrix.ReleaseAll();
    }
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
