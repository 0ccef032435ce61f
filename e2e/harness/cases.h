// The end-to-end cases, each independent: it prepares the driver and a program directory of its
// own, and leaves nothing running.
#pragma once

#include <gtest/gtest.h>

#include "e2e/harness/env.h"

// The case directories and the program under test, from the command line.
extern TPaths casePaths;

// Every case gets an environment of its own, named after the case.
class E2e : public testing::Test {
  protected:
    TEnv env{casePaths, testing::UnitTest::GetInstance()->current_test_info()->name()};
    // Runs a case body, reporting its Fail or Expect at the place it was written.
    void Run(void (*body)(TEnv& env));
};

// One case: KAVIT_E2E_CASE(driver_pad_matrix, PadMatrix) runs `void PadMatrix(TEnv& env)` as
// the GoogleTest case E2e.driver_pad_matrix.
#define KAVIT_E2E_CASE(name, body)                                                                 \
    TEST_F(E2e, name) {                                                                            \
        Run(body);                                                                                 \
    }

// Shared by the case files.
const UCHAR Lpt1 = 0x10, Lpt2 = 0x20, Lpt3 = 0x30;

// Presses (or releases) buttons and fails with the driver's error.
void Press(TEnv& env, int pad, int button);
void Release(TEnv& env, int pad, int button);
// Starts Kavit with `ini` written to its Kavit.ini, the driver installed by Kavit itself, and
// waits until it scans (two passes): the usual start of a case.
TKavit& StartScanning(TEnv& env, const TIniValues& ini);
// Gives Everyone every right on a file or folder, as a folder made at the root of C: gives
// every user the right to change what is in it (under Wine the Unix mode becomes 0777).
void OpenToEveryone(const std::string& path);
// Taps a button: press, wait for its key-down, release, wait for its key-up.
void Tap(TEnv& env, const TPresetValues& preset, int pad, int button);
// Fails when `kavit` shows a notice, quoting it.
void ExpectNoNotice(const TKavit& kavit, const char* who);
