// The polling pace of Kavit and of kavit-check's live view: ticks that keep the period Kavit.ini
// asks for on every Windows from XP to 11, with the window hidden and a game in the foreground.
//
// SetTimer never ticks faster than every 10 ms and fires on the clock tick (15.6 ms unless a
// finer resolution is asked for); Windows 11 gives a process whose windows are all hidden the
// default resolution whatever it asks, unless it opts out of that throttling. So a thread of its
// own waits on a waitable timer: a high-resolution one where Windows has it (Windows 10 1803 on),
// elsewhere an ordinary one with the timer resolution raised to 1 ms. Whatever XP lacks is looked
// up at run time.
#pragma once

#include <windows.h>

// Starts ticks every `period` ms (1 to 0x7FFFFFFF). With a window, each tick reaches it as a
// posted WM_TIMER with `id`, on the window's own thread, and only once the last one was handled
// (TickHandled): a tick that comes while the last is still waiting or being handled is dropped,
// never queued, so a late pass brings no burst after it. Without a window, TickHandle() is
// signalled once a period instead, a tick not yet waited for counting once. False when the ticks
// could not start; nothing is left raised then.
bool StartTicks(HWND window, UINT_PTR id, DWORD period);

// The window has handled its tick: the next one may be posted.
void TickHandled();

// What a program without a window waits on; null while no ticks run.
HANDLE TickHandle();

// Stops the ticks and gives back what StartTicks asked of Windows: the timer resolution and the
// throttling opt-out. Does nothing when no ticks run.
void StopTicks();

// The period the pads are read at for an Interval of Kavit.ini, in ms: the Interval itself, 0 as
// 10 (SetTimer always took it so), and anything past SetTimer's longest period (a negative number
// in Kavit.ini) as that longest period, about 24.8 days.
DWORD PollPeriodMs(DWORD interval);
