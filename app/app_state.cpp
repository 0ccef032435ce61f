#include "app/app_state.h"

#include "app/notice.h"
#include "settings/settings.h"

HWND MainWindow = nullptr;
std::string programDir;
TLptPortConnection* PortConnection = nullptr;
PortCode selectedPort = 0;
HICON FirstIcon = nullptr;
HICON SecondIcon = nullptr;
HMENU PopupMenu = nullptr;
int32_t assignIndex = 0;
UINT taskbarCreatedMessage = 0;

void SaveSettingsOrTell() {
    if (!SaveSettings(programDir + SettingsFileName))
        ShowNotice("Save error: Kavit.ini");
}
