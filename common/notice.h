// The one way the program tells its user about a problem: a modal box with no owner, caption
// "Kavit program", one OK button. Returns when the user closes it.
#pragma once

void ShowNotice(const char* text);

// Where notices go instead of the box: kavit-check, a console program that a script may run,
// prints them rather than wait for a click. Null: the box again.
typedef void (*TNoticeSink)(const char* text);
void SetNoticeSink(TNoticeSink sink);
