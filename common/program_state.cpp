#include "common/program_state.h"

HWND MainWindow = nullptr;
TLptPortConnection* PortConnection = nullptr;
PortCode selectedPort = 0;
HICON FirstIcon = nullptr;
HICON SecondIcon = nullptr;
