#include "common/notice.h"

#include <windows.h>

void ShowNotice(const char* text) {
    MessageBoxA(nullptr, text, "Kavit program", MB_OK);
}
