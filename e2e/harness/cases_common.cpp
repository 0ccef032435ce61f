#include "e2e/harness/cases.h"
#include "e2e/harness/harness.h"

void Press(TEnv& env, int pad, int button) {
    if (!env.sim.ChangeButtons(pad, ButtonBit(button), 0))
        Fail("driver refused to press pad %d button %d: %s", pad, button,
             Win32ErrorText(env.sim.lastError).c_str());
}

void Release(TEnv& env, int pad, int button) {
    if (!env.sim.ChangeButtons(pad, 0, ButtonBit(button)))
        Fail("driver refused to release pad %d button %d: %s", pad, button,
             Win32ErrorText(env.sim.lastError).c_str());
}

TKavit& StartScanning(TEnv& env, const TIniValues& ini) {
    env.MakeProgramDir();
    env.WriteIni(ini);
    env.UnloadDriver();
    TKavit& kavit = env.StartKavit();
    env.OpenSim();
    env.WaitPasses(2, Lpt1, ini.secondPlayer == 1);
    KeyHook::Clear();
    return kavit;
}

void Tap(TEnv& env, const TPresetValues& preset, int pad, int button) {
    size_t before = KeyHook::Count();
    Press(env, pad, button);
    std::vector<TKeyEvent> got = env.WaitKeys(before + 1);
    Release(env, pad, button);
    got = env.WaitKeys(before + 2);
    std::vector<TKeyEvent> mine(got.begin() + static_cast<long>(before), got.end());
    ExpectKeys(mine, {KeyOf(preset, pad, button, false), KeyOf(preset, pad, button, true)},
               Format("tap of pad %d button %d", pad, button).c_str());
}
