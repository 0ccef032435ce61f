// The pad scanner seen from outside: which keys come, in which order, how often, and never a
// key that no pad pressed or a key left held.
#include <algorithm>

#include "e2e/harness/cases.h"
#include "e2e/harness/harness.h"

namespace {

std::vector<TKeyEvent> Since(size_t first) {
    std::vector<TKeyEvent> all = KeyHook::Events();
    return std::vector<TKeyEvent>(all.begin() + static_cast<long>(std::min(first, all.size())),
                                  all.end());
}

// Every button of one pad alone, then a chord, checked both against the plain expectation and
// against what the logged passes owe (which also fixes the order within a pass).
void Pad1Keys(TEnv& env) {
    TKavit& kavit = StartScanning(env, StandardIni(1));
    for (int b = 1; b <= 12; b++)
        Tap(env, Arrows, 1, b);

    // Buttons 1, 7 and 2 at once: 1 then 7 in step 1, 2 in step 2 (the order within a pass is
    // checked against the log below).
    const USHORT chordButtons = ButtonBit(1) | ButtonBit(7) | ButtonBit(2);
    size_t before = KeyHook::Count();
    Require(env.sim, env.sim.ChangeButtons(1, chordButtons, 0), "press refused");
    env.WaitKeys(before + 3);
    Sleep(60); // several passes with all held: still one key-down each
    Require(env.sim, env.sim.ChangeButtons(1, 0, chordButtons), "release refused");
    env.WaitKeys(before + 6);
    std::vector<TKeyEvent> chord = Since(before);
    auto count = [&](const TWantKey& want) {
        return std::count_if(chord.begin(), chord.end(),
                             [&](const TKeyEvent& e) { return Matches(e, want); });
    };
    for (int b : {1, 2, 7})
        for (bool up : {false, true})
            Expect(count(KeyOf(Arrows, 1, b, up)) == 1, "chord: %s seen %d times, expected once",
                   KeyOf(Arrows, 1, b, up).what.c_str(),
                   static_cast<int>(count(KeyOf(Arrows, 1, b, up))));

    // Pad 2 is not scanned with SecondPlayer=0.
    before = KeyHook::Count();
    Press(env, 2, 3);
    env.WaitPasses(4);
    Release(env, 2, 3);
    Expect(Since(before).empty(), "pad 2 sent keys with SecondPlayer=0: %s",
           DescribeKeys(Since(before)).c_str());

    env.Settle();
    env.ExpectOwedKeys(Arrows, Lpt1, false, false, "pad 1");
    env.ExitKavit(kavit);
}

void Pad2Keys(TEnv& env) {
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

void RepeatHeldButton(TEnv& env) {
    TIniValues ini = StandardIni(1);
    ini.repeat = 1;
    TKavit& kavit = StartScanning(env, ini);
    const TPresetValues& keys = ini.presets[0];
    Hold(env, 1, 3, 8);
    Release(env, 1, 3);
    env.Settle();
    std::vector<TKeyEvent> got = KeyHook::Events();
    Expect(got.size() >= 9 && Matches(got.back(), KeyOf(keys, 1, 3, true)),
           "held button with Repeat=1: %zu events, last %s; expected key-downs then one key-up",
           got.size(), got.empty() ? "none" : Describe(got.back()).c_str());
    for (size_t i = 0; i + 1 < got.size(); i++)
        Expect(Matches(got[i], KeyOf(keys, 1, 3, false)), "event %zu is %s, expected a key-down",
               i + 1, Describe(got[i]).c_str());
    // One key-down per pass that read the button pressed.
    env.ExpectOwedKeys(keys, Lpt1, false, true, "repeat");
    env.ExitKavit(kavit);
}

// D6 and D7 are not select lines: whatever a pass reads there it writes back with every pattern.
void KeepsD6D7(TEnv& env) {
    TKavit& kavit = StartScanning(env, StandardIni(1));
    for (BYTE top : {0xC0, 0x40, 0x00}) {
        // A write that lands inside a pass is overwritten by the pass's next select write, so
        // write until a pass starts from it. On a busy machine a pass fills much of each
        // interval, hence the generous number of tries. Each try waits a little longer after
        // the last pass first, so that the writes cannot all fall at the same point of the
        // interval (the harness's own loop would otherwise keep in step with the timer).
        bool taken = false;
        for (int attempt = 0; attempt < 40 && !taken; attempt++) {
            Sleep(static_cast<DWORD>(attempt * 3 % 11));
            BYTE pair[2] = {Lpt1, static_cast<BYTE>(top | 0x3E)};
            Expect(env.sim.WritePorts(pair, 1), "harness write refused");
            env.ClearLog();
            env.WaitPasses(1);
            TScanLog scan = AnalyzeScan(env.PollLog(), Lpt1, false);
            taken = !scan.passes.empty() && scan.passes.back().keep == top;
        }
        Expect(taken, "no pass started from D7/D6 = %d%d in 40 tries", top >> 7, (top >> 6) & 1);
        env.ClearLog();
        env.WaitPasses(3);
        TScanLog scan = AnalyzeScan(env.PollLog(), Lpt1, false);
        for (const TPass& pass : scan.passes)
            Expect(pass.keep == top, "D7/D6 were %d%d, a later pass wrote them as %d%d", top >> 7,
                   (top >> 6) & 1, pass.keep >> 7, (pass.keep >> 6) & 1);
    }
    env.ExitKavit(kavit);
}

// A read that fails ends the pass: no key from a value that was never read, no write after it,
// and what was sent before stands.
void ReadFailureEndsPass(TEnv& env) {
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
    std::vector<TKeyEvent> during = KeyHook::Events();
    Expect(during.size() == 1, "key events while reads failed, expected only the first: %s",
           DescribeKeys(during).c_str());
    size_t refused = 0, firstRefused = faulted.size();
    for (size_t i = 0; i < faulted.size(); i++) {
        if (faulted[i].op & SIM_OP_REFUSED) {
            refused++;
            if (firstRefused == faulted.size())
                firstRefused = i;
        } else if (firstRefused < i) {
            Fail("access after a refused read: %s (log entry %zu)",
                 DescribeAccess(faulted[i]).c_str(), i);
        }
    }
    Expect(refused >= 10, "only %zu refused reads in 300 ms at Interval=10: not polling?", refused);
    // Reads work again: the release is seen, once.
    std::vector<TKeyEvent> after = env.WaitKeys(2);
    Expect(Matches(after[1], KeyOf(Arrows, 1, 7, true)), "after the fault: %s, expected %s",
           Describe(after[1]).c_str(), KeyOf(Arrows, 1, 7, true).what.c_str());
    Tap(env, Arrows, 1, 1);
    env.ExitKavit(kavit);
}

// No port answered at start-up: the program runs, and no phantom key comes from reads that fail.
void NoPortNoKeys(TEnv& env) {
    env.MakeProgramDir();
    env.WriteIni(StandardIni(1));
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
void PresetChangeReleasesOldKey(TEnv& env) {
    TIniValues ini = StandardIni(2);
    TKavit& kavit = StartScanning(env, ini);
    Hold(env, 1, 1);
    TIniValues chosen = ini;
    ChoosePreset(env, kavit, chosen, 2, "choosing the second preset");
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
void PresetChangeWithRepeat(TEnv& env) {
    TIniValues ini = StandardIni(2);
    ini.repeat = 1;
    TKavit& kavit = StartScanning(env, ini);
    const TWantKey oldDown = KeyOf(ini.presets[0], 1, 5, false);
    const TWantKey oldUp = KeyOf(ini.presets[0], 1, 5, true);
    const TWantKey newDown = KeyOf(ini.presets[1], 1, 5, false);
    const TWantKey newUp = KeyOf(ini.presets[1], 1, 5, true);
    Hold(env, 1, 5, 3);
    kavit.Command(CmdPresetBase + 1);
    Expect(WaitUntil(
               [&] {
                   std::vector<TKeyEvent> got = KeyHook::Events();
                   return std::any_of(got.begin(), got.end(),
                                      [&](const TKeyEvent& e) { return Matches(e, newDown); });
               },
               3000),
           "no key-down of the new preset's key within 3 s of the preset change");
    Sleep(50);
    Release(env, 1, 5);
    env.Settle();
    std::vector<TKeyEvent> got = KeyHook::Events();
    size_t i = 0, olds = 0, news = 0;
    while (i < got.size() && Matches(got[i], oldDown))
        i++, olds++;
    Expect(olds >= 3, "%zu key-downs of the old key before the change, expected at least 3", olds);
    Expect(i < got.size() && Matches(got[i], oldUp), "after the old key-downs came %s, expected %s",
           i < got.size() ? Describe(got[i]).c_str() : "nothing", oldUp.what.c_str());
    i++;
    while (i < got.size() && Matches(got[i], newDown))
        i++, news++;
    Expect(news >= 1, "no key-down of the new key right after the old key-up; got %s",
           i < got.size() ? Describe(got[i]).c_str() : "nothing");
    Expect(i + 1 == got.size() && Matches(got[i], newUp), "the release gave %s, expected only %s",
           i < got.size() ? Describe(got[i]).c_str() : "nothing", newUp.what.c_str());
    env.ExitKavit(kavit);
}

// Exit while buttons are held: each gets its key-up while the window still exists, after the
// tray icon went and before the connection closed its device handle. The harness holds the
// device through the exit, as another program would, so the service stays.
TSimDevice* exitProbeDevice = nullptr;

long OpenHandlesNow() {
    TSimState state;
    return exitProbeDevice && exitProbeDevice->GetState(state)
               ? static_cast<long>(state.openHandles)
               : -1;
}

void ExitReleasesHeldKeys(TEnv& env) {
    TIniValues ini = StandardIni(1);
    ini.secondPlayer = 1;
    TKavit& kavit = StartScanning(env, ini);
    const TPresetValues& keys = ini.presets[0];
    Press(env, 1, 1);
    Hold(env, 2, 12, 2);
    env.WaitPasses(2, Lpt1, true);
    TSimState before;
    Expect(env.sim.GetState(before), "state refused");
    exitProbeDevice = &env.sim;
    KeyHook::Watch(kavit.window, OpenHandlesNow);
    HWND window = kavit.window;
    kavit.Command(CmdExit);
    ExpectEnded(kavit, "after \"Exit\""); // the case's end stops the watch if this fails
    KeyHook::Watch(nullptr);
    exitProbeDevice = nullptr;
    Expect(!TrayIconPresent(window), "tray icon left after exit");
    std::vector<TKeyEvent> got = KeyHook::Events();
    Expect(got.size() == 4, "%zu key events, expected 2 key-downs, then 2 key-ups at exit",
           got.size());
    const TWantKey ups[2] = {KeyOf(keys, 1, 1, true), KeyOf(keys, 2, 12, true)};
    bool seen[2] = {false, false};
    for (size_t i = 2; i < 4; i++) {
        const TKeyEvent& e = got[i];
        int which = Matches(e, ups[0]) ? 0 : Matches(e, ups[1]) ? 1 : -1;
        Expect(which >= 0 && !seen[which],
               "event %zu at exit is %s, not the key-up of a held "
               "button not yet released",
               i + 1, Describe(e).c_str());
        seen[which] = true;
        Expect(e.watched && e.windowAlive, "key-up %s came after the window was gone",
               Describe(e).c_str());
        Expect(!e.trayIconPresent, "key-up %s sent while the tray icon was still there",
               Describe(e).c_str());
        Expect(e.probe == static_cast<long>(before.openHandles),
               "key-up %s sent after the program closed the device (%ld open handles, %lu "
               "before exit)",
               Describe(e).c_str(), e.probe, static_cast<unsigned long>(before.openHandles));
    }
    // The harness held the device through the exit, so Kavit was not the last one out.
    ExpectServiceKept("Kavit removed the service while the harness held the device");
}

} // namespace

KAVIT_E2E_CASE(keys_pad1_every_button, Pad1Keys)
KAVIT_E2E_CASE(keys_pad2_second_player, Pad2Keys)
KAVIT_E2E_CASE(keys_repeat_held_button, RepeatHeldButton)
KAVIT_E2E_CASE(scan_keeps_d6_d7, KeepsD6D7)
KAVIT_E2E_CASE(scan_read_failure_ends_pass, ReadFailureEndsPass)
KAVIT_E2E_CASE(scan_no_port_no_keys, NoPortNoKeys)
KAVIT_E2E_CASE(preset_change_releases_old_key, PresetChangeReleasesOldKey)
KAVIT_E2E_CASE(preset_change_with_repeat, PresetChangeWithRepeat)
KAVIT_E2E_CASE(exit_releases_held_keys, ExitReleasesHeldKeys)
