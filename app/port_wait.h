// The port the pads hang on: the first of LPT1, LPT2 and LPT3 that answers the presence test.
// A port that another program holds (kavit-check, say) answers nobody else until it is let go:
// Kavit then says so in its tray tip, not in a box over a game, looks again every second, and
// reads the pads from the moment a port answers.
#pragma once

// Sets selectedPort to the first port that answers. When none answers because another program
// holds one, the tip names it from the icon's next change on (the icon is added after this) and
// TimerPortWait starts.
void ChoosePort();

// TimerPortWait: looks again; once a port answers, or none is held any more, the waiting ends
// and the tip is Kavit's own again.
void LookForPortAgain();
