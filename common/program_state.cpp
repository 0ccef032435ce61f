#include "common/program_state.h"

HWND MainWindow = nullptr;
std::string programDir;
TLptPortConnection* PortConnection = nullptr;
PortCode selectedPort = 0;
HICON FirstIcon = nullptr;
HICON SecondIcon = nullptr;
