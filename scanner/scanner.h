// The pad scanner: one pass over the button matrix of up to two pads per polling tick.
#pragma once

#include <windows.h>

#include <cstdint>

// The extra-information value of every key event the scanner sends, so that Kavit can tell its
// own emulated keys from the user's ("KAVT").
const ULONG_PTR KavitKeyMark = 0x4B415654;

// One pass: drives the six select lines of selectedPort, reads the pads' status lines and sends
// the key-down and key-up events of the buttons that changed (or, with repeat, of every held one).
// When passes keep failing for more than half a second, or the device is gone, it lets go of
// every held key, once, and shows the resting icon.
void ScanPads();

// Sends the key-up of every button still down, with the key its key-down sent, and clears it;
// failed passes before it no longer count. Called at shutdown, before the port connection is
// destroyed.
void ReleaseHeldKeys();
