// Kavit.exe: a GUI program without a console and without command-line arguments.
#include <windows.h>

#include <cstdlib>
#include <exception>

#include "app/startup.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    return RunKavit(instance);
}

// An exception that nothing catches ends the program with abort(), as it always has. The C++
// library's own handler for it first writes the exception's type, demangled, to the error
// output, which a program without a console does not have; its demangler and the printf that
// comes with it would be over a quarter of Kavit.exe. This definition stands in for the
// library's, so that neither is linked.
namespace __gnu_cxx {
void __verbose_terminate_handler() {
    std::abort();
}
} // namespace __gnu_cxx
