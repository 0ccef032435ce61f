// The folder the program runs from: Kavit.ini, help.htm and the driver file lie beside the
// program, and are reached through the ANSI file functions.
#pragma once

#include <string>

// The settings file, beside the program.
const char SettingsFileName[] = "Kavit.ini";

extern std::string programDir; // with its trailing separator

// Directory of the running program, with its trailing separator, as the ANSI file functions can
// use it: the folder's short (8.3) form when its real name has characters outside the ANSI code
// page or is too long for them. Empty when there is no such form; `problem` then tells the user
// what is wrong and where to move the program.
std::string ProgramDirectory(std::string* problem = nullptr);
