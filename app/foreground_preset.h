// The preset follows the program in the foreground (settings/program_presets.h has the rule):
// four times a second a look at the foreground window, and the program's file name looked up
// only when that window changed. Nothing of it runs in a scan pass.
#pragma once

// At start-up: starts TimerForeground when some preset names a program; with none, nothing
// runs and nothing is looked at.
void StartFollowingForeground();

// Each TimerForeground tick.
void FollowForeground();
