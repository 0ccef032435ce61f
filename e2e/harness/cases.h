// The end-to-end cases, each independent: it prepares the driver and a program directory of its
// own, and leaves nothing running.
#pragma once

#include <gtest/gtest.h>

#include <functional>

#include "e2e/harness/env.h"
#include "e2e/harness/harness.h"

// The case directories and the program under test, from the command line.
extern TPaths casePaths;

// Every case gets an environment of its own, named after the case: TEST_F(E2e, group_what).
class E2e : public testing::Test {
  protected:
    TEnv env{casePaths, testing::UnitTest::GetInstance()->current_test_info()->name()};
};

// One case of a family: KAVIT_E2E_CASE_OF(set_keys_one_pad, SetKeys, 0) runs SetKeys(env, 0).
#define KAVIT_E2E_CASE_OF(name, body, ...)                                                         \
    TEST_F(E2e, name) {                                                                            \
        body(env, __VA_ARGS__);                                                                    \
    }

const UCHAR Lpt1 = LPT_PORT_LPT1, Lpt2 = LPT_PORT_LPT2, Lpt3 = LPT_PORT_LPT3;

TSimState State(TEnv& env); // what the simulated hardware holds now
// Presses (or releases) buttons and fails with the driver's error.
void Press(TEnv& env, int pad, int button);
void Release(TEnv& env, int pad, int button);
// A fresh program directory with the driver file and `ini` as its Kavit.ini, and no driver
// loaded, so that Kavit installs it.
void PrepareProgramDir(TEnv& env, const TIniValues& ini = StandardIni());
// That, and Kavit started from it; with `waitReady`, until its window and tray icon exist.
TKavit& StartKavitWith(TEnv& env, const TIniValues& ini = StandardIni(), bool waitReady = true);
// Opens the device and waits for two passes, then forgets the keys so far: Kavit scans.
void WaitScanning(TEnv& env, bool twoPads = false);
TKavit& StartScanning(TEnv& env, const TIniValues& ini); // both: the usual start of a case
// Presses a button and waits until `keys` key events have come.
void Hold(TEnv& env, int pad, int button, size_t keys = 1);
// Chooses preset `preset` (1-based) from the menu: Kavit.ini must then hold `ini` with it.
void ChoosePreset(TEnv& env, TKavit& kavit, TIniValues& ini, int preset, const char* what);
void WaitShown(TKavit& kavit, bool shown); // until the key assignment window shows (or hides)
// "Set keys" from the menu: the window shows, with `inFront` as the foreground window.
void OpenSetKeys(TKavit& kavit, bool inFront = false);
// Fails when the hook caught a key, or when the service is not (still) registered.
void ExpectNoKeys(const char* context);
void ExpectServiceKept(const char* context);
// A copy started while another runs: its one notice, "Another copy already running", owned by
// no window, and no window of its own; ended with exit code 0 once the notice is closed.
void ExpectRefusedCopy(TKavit& copy, DWORD noticeWithinMs);
void ExpectEnded(TKavit& kavit, const char* context); // ends by itself with exit code 0
// Gives Everyone every right on a file or folder, as a folder made at the root of C: gives
// every user the right to change what is in it (under Wine the Unix mode becomes 0777).
void OpenToEveryone(const std::string& path);
// Taps a button: press, wait for its key-down, release, wait for its key-up.
void Tap(TEnv& env, const TPresetValues& preset, int pad, int button);
// Does `act` on the driver's service, opened with every right (or made, disabled, for the driver
// file `createFrom`); fails with `what` and the error.
void OnService(const std::function<BOOL(SC_HANDLE)>& act, const std::string& what,
               const char* createFrom = nullptr);
// The driver's service as the service manager holds it, and its state.
struct TServiceConfig {
    unsigned long type, start, errorControl, state;
    std::string path, displayName;
};
TServiceConfig ServiceConfig(const std::string& what);
// Fails when `kavit` shows a notice, quoting it.
void ExpectNoNotice(const TKavit& kavit, const char* who);
