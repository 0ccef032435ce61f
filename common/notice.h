// The one way the program tells its user about a problem: a modal box with no owner,
// caption "Kavit program", one OK button. Returns when the user closes it.
#pragma once

void ShowNotice(const char* text);
