// The end-to-end cases, each independent: it prepares the driver and a program directory of its
// own, and leaves nothing running.
#pragma once

#include <vector>

#include "e2e/harness/env.h"

typedef void (*TCaseFunction)(TEnv& env);

struct TCase {
    const char* name;
    TCaseFunction run;
    bool needsKavit; // false: exercises only the simulated driver
};

void AddDriverCases(std::vector<TCase>& cases);
void AddStartupCases(std::vector<TCase>& cases);
void AddScanCases(std::vector<TCase>& cases);
void AddMenuCases(std::vector<TCase>& cases);
void AddCheckCases(std::vector<TCase>& cases);
void AddSoundCases(std::vector<TCase>& cases);

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
