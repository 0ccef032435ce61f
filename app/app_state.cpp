#include "app/app_state.h"

HMENU PopupMenu = nullptr;
int32_t assignIndex = 0;
UINT taskbarCreatedMessage = 0;
bool sessionEnded = false;
