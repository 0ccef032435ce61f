// The pad scanner seen from outside: which keys come, in which order, how often, and never a
// key that no pad pressed or a key left held.
#include <algorithm>
#include <set>

#include "e2e/harness/cases.h"

namespace {

// The key events caught after the first `first` ones, described.
std::vector<std::string> Since(size_t first) {
    std::vector<std::string> all = Described(KeyHook::Events());
    return {all.begin() + static_cast<long>(std::min(first, all.size())), all.end()};
}

long Times(const std::vector<std::string>& events, const std::string& key) {
    return std::count(events.begin(), events.end(), key);
}

// Every button of one pad alone, then a chord, checked both against the plain expectation and
// against what the logged passes owe (which also fixes the order within a pass).
TEST_F(E2e, keys_pad1_every_button) {
    TKavit& kavit = StartScanning(env, StandardIni(1));
    for (int b = 1; b <= 12; b++)
        Tap(env, Arrows, 1, b);

    // Buttons 1, 7 and 2 at once: 1 then 7 in step 1, 2 in step 2.
    const USHORT chordButtons = ButtonBit(1) | ButtonBit(7) | ButtonBit(2);
    size_t before = KeyHook::Count();
    Require(env.sim, env.sim.ChangeButtons(1, chordButtons, 0), "press refused");
    env.WaitKeys(before + 3);
    Sleep(60); // several passes with all held: still one key-down each
    Require(env.sim, env.sim.ChangeButtons(1, 0, chordButtons), "release refused");
    env.WaitKeys(before + 6);
    std::vector<std::string> chord = Since(before);
    for (int b : {1, 2, 7})
        for (bool up : {false, true})
            ASSERT_EQ(Times(chord, Describe(KeyOf(Arrows, 1, b, up))), 1)
                << "chord: times " << KeyOf(Arrows, 1, b, up).what << " came";

    before = KeyHook::Count();
    Press(env, 2, 3);
    env.WaitPasses(4);
    Release(env, 2, 3);
    ASSERT_EQ(Since(before), std::vector<std::string>()) << "pad 2 with SecondPlayer=0";

    env.Settle();
    env.ExpectOwedKeys(Arrows, Lpt1, false, false, "pad 1");
    env.ExitKavit(kavit);
}

TEST_F(E2e, keys_pad2_second_player) {
    TIniValues ini = StandardIni(2);
    ini.secondPlayer = 1;
    ini.preset = 2; // pad 2 keys of the current preset, not the first
    TKavit& kavit = StartScanning(env, ini);
    const TPresetValues& keys = ini.presets[1];
    for (int b = 1; b <= 12; b++)
        Tap(env, keys, 2, b);
    Tap(env, keys, 1, 12);
    // A chord across both pads and both lines of pad 2.
    size_t before = KeyHook::Count();
    Require(env.sim,
            env.sim.ChangeButtons(1, ButtonBit(1), 0) &&
                env.sim.ChangeButtons(2, ButtonBit(1) | ButtonBit(12), 0),
            "press refused");
    env.WaitKeys(before + 3);
    env.Settle(Lpt1, true);
    env.WaitKeys(before + 6);
    env.ExpectOwedKeys(keys, Lpt1, true, false, "two pads");
    env.ExitKavit(kavit);
}

TEST_F(E2e, keys_repeat_held_button) {
    TIniValues ini = StandardIni(1);
    ini.repeat = 1;
    TKavit& kavit = StartScanning(env, ini);
    Hold(env, 1, 3, 8);
    Release(env, 1, 3);
    env.Settle();
    std::vector<std::string> got = Described(KeyHook::Events());
    ASSERT_GE(got.size(), 9u) << "events of a held button with Repeat=1";
    std::vector<std::string> want(got.size() - 1, Describe(KeyOf(Arrows, 1, 3, false)));
    want.push_back(Describe(KeyOf(Arrows, 1, 3, true)));
    ASSERT_EQ(got, want) << "a held button with Repeat=1";
    // One key-down per pass that read the button pressed.
    env.ExpectOwedKeys(Arrows, Lpt1, false, true, "repeat");
    env.ExitKavit(kavit);
}

// D6 and D7 are not select lines: whatever a pass reads there it writes back with every pattern.
TEST_F(E2e, scan_keeps_d6_d7) {
    TKavit& kavit = StartScanning(env, StandardIni(1));
    for (BYTE top : {0xC0, 0x40, 0x00}) {
        SCOPED_TRACE(Format("D7/D6 = %d%d", top >> 7, (top >> 6) & 1));
        // A write inside a pass is overwritten by its next select write: write until a pass
        // starts from it. Many tries, as a pass fills much of an interval on a busy machine; each
        // waits a little longer, so that the harness's loop cannot keep in step with the timer.
        bool taken = false;
        for (int attempt = 0; attempt < 40 && !taken; attempt++) {
            Sleep(static_cast<DWORD>(attempt * 3 % 11));
            BYTE pair[2] = {Lpt1, static_cast<BYTE>(top | 0x3E)};
            Require(env.sim, env.sim.WritePorts(pair, 1), "harness write refused");
            env.ClearLog();
            env.WaitPasses(1);
            TScanLog scan = AnalyzeScan(env.PollLog(), Lpt1, false);
            taken = !scan.passes.empty() && scan.passes.back().keep == top;
        }
        ASSERT_TRUE(taken) << "no pass started from these bits in 40 tries";
        env.ClearLog();
        env.WaitPasses(3);
        for (const TPass& pass : AnalyzeScan(env.PollLog(), Lpt1, false).passes)
            ASSERT_EQ(pass.keep, top) << "D7/D6 as a later pass wrote them";
    }
    env.ExitKavit(kavit);
}

// A read that fails ends the pass: no key from a value that was never read, no write after it,
// and what was sent before stands.
TEST_F(E2e, scan_read_failure_ends_pass) {
    TKavit& kavit = StartScanning(env, StandardIni(1));
    Hold(env, 1, 7);
    env.sim.SetFaults(SIM_FAULT_READS);
    env.ClearLog();
    // Well short of the half second after which failing passes let go of the held keys.
    Sleep(150);
    Release(env, 1, 7); // while every read fails: the program cannot see it
    Sleep(150);
    std::vector<TSimLogEntry> faulted = env.PollLog();
    env.sim.SetFaults(0);
    ExpectKeys(KeyHook::Events(), {KeyOf(Arrows, 1, 7, false)}, "keys while reads failed");
    size_t refused = 0;
    for (size_t i = 0; i < faulted.size(); i++) {
        ASSERT_TRUE(refused == 0 || (faulted[i].op & SIM_OP_REFUSED))
            << "access after a refused read: " << DescribeAccess(faulted[i]) << ", log entry " << i;
        refused += (faulted[i].op & SIM_OP_REFUSED) != 0;
    }
    ASSERT_GE(refused, 10u) << "refused reads in 300 ms at Interval=10: not polling?";
    // Reads work again: the release is seen, once.
    ExpectKeys(env.WaitKeys(2), {KeyOf(Arrows, 1, 7, false), KeyOf(Arrows, 1, 7, true)},
               "after the fault");
    Tap(env, Arrows, 1, 1);
    env.ExitKavit(kavit);
}

// No port answered at start-up: the program runs, and no phantom key comes from reads that fail.
TEST_F(E2e, scan_no_port_no_keys) {
    PrepareProgramDir(env, StandardIni(1));
    env.PreloadDriver(0);
    TKavit& kavit = env.StartKavit();
    ExpectNoNotice(kavit, "Kavit with no port");
    Sleep(1600);
    env.sim.SetPad(1, 0x0FFF); // would be pressed on any port
    Sleep(200);
    ExpectNoKeys("with no port");
    env.ExitKavit(kavit);
}

// A preset change while a button is held: its key-up is the key its key-down sent.
TEST_F(E2e, preset_change_releases_old_key) {
    TIniValues ini = StandardIni(2);
    TKavit& kavit = StartScanning(env, ini);
    Hold(env, 1, 1);
    ChoosePreset(env, kavit, ini, 2, "choosing the second preset"); // ini.presets stay
    env.WaitPasses(2);
    Release(env, 1, 1);
    env.WaitKeys(2);
    Tap(env, ini.presets[1], 1, 1);
    env.Settle();
    ExpectKeys(KeyHook::Events(),
               {KeyOf(ini.presets[0], 1, 1, false), KeyOf(ini.presets[0], 1, 1, true),
                KeyOf(ini.presets[1], 1, 1, false), KeyOf(ini.presets[1], 1, 1, true)},
               "held across a preset change");
    env.ExitKavit(kavit);
}

// With Repeat=1 the key changes under a held button: the old key goes up before the new one
// goes down.
TEST_F(E2e, preset_change_with_repeat) {
    TIniValues ini = StandardIni(2);
    ini.repeat = 1;
    TKavit& kavit = StartScanning(env, ini);
    auto key = [&](int preset, bool up) { return Describe(KeyOf(ini.presets[preset], 1, 5, up)); };
    const std::string oldDown = key(0, false), oldUp = key(0, true), newDown = key(1, false),
                      newUp = key(1, true);
    Hold(env, 1, 5, 3);
    kavit.Command(CmdPresetBase + 1);
    ASSERT_TRUE(WaitUntil([&] { return Times(Since(0), newDown) > 0; }, 3000))
        << "no key-down of the new preset's key within 3 s of the preset change";
    Sleep(50);
    Release(env, 1, 5);
    env.Settle();
    // Old key-downs (three at least), the old key-up, new key-downs, the new key-up.
    std::vector<std::string> got = Since(0);
    ASSERT_GE(Times(got, oldDown), 3) << "key-downs of the old key";
    ASSERT_EQ(Times(got, oldUp) + Times(got, newUp), 2)
        << "key-ups, one of each key: " << testing::PrintToString(got);
    got.erase(std::unique(got.begin(), got.end()), got.end());
    ASSERT_EQ(got, std::vector<std::string>({oldDown, oldUp, newDown, newUp}))
        << "a held button across a preset change with Repeat=1, repeats folded";
    env.ExitKavit(kavit);
}

// Exit while buttons are held: each gets its key-up while the window still exists, after the
// tray icon went and before the connection closed its device handle. The harness holds the
// device through the exit, as another program would, so the service stays.
TEST_F(E2e, exit_releases_held_keys) {
    TIniValues ini = StandardIni(1);
    ini.secondPlayer = 1;
    TKavit& kavit = StartScanning(env, ini);
    Press(env, 1, 1);
    Hold(env, 2, 12, 2);
    env.WaitPasses(2, Lpt1, true);
    long before = static_cast<long>(State(env).openHandles);
    static TSimDevice* device; // for the probe, which is a plain function
    device = &env.sim;
    KeyHook::Watch(kavit.window, [] {
        TSimState s;
        return device->GetState(s) ? static_cast<long>(s.openHandles) : -1L;
    });
    kavit.Command(CmdExit);
    ExpectEnded(kavit, "after \"Exit\""); // the case's end stops the watch if this fails
    KeyHook::Watch(nullptr);
    ASSERT_FALSE(TrayIconPresent(kavit.window)) << "tray icon left after exit";
    std::vector<TKeyEvent> got = KeyHook::Events();
    ASSERT_EQ(got.size(), 4u) << "key events: 2 key-downs, then 2 key-ups at exit";
    ASSERT_EQ(std::set<std::string>({Describe(got[2]), Describe(got[3])}),
              std::set<std::string>(
                  {Describe(KeyOf(Arrows, 1, 1, true)), Describe(KeyOf(Arrows, 2, 12, true))}))
        << "the key-ups of the held buttons at exit";
    for (const TKeyEvent& e : {got[2], got[3]}) {
        ASSERT_TRUE(e.watched && e.windowAlive) << Describe(e) << " came after the window went";
        ASSERT_FALSE(e.trayIconPresent) << Describe(e) << " sent while the tray icon was there";
        ASSERT_EQ(e.probe, before) << Describe(e) << ": open handles when it was sent (the "
                                   << "program's own closed before it?)";
    }
    ExpectServiceKept("Kavit removed the service while the harness held the device");
}

} // namespace
