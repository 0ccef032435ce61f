// Kavit.exe: a GUI program without a console and without command-line arguments.
#include <windows.h>

#include "app/startup.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    return RunKavit(instance);
}
