#include "common/notice.h"

#include <windows.h>

namespace {

TNoticeSink noticeSink = nullptr;

} // namespace

void ShowNotice(const char* text) {
    if (noticeSink)
        noticeSink(text);
    else
        MessageBoxA(nullptr, text, "Kavit program", MB_OK);
}

void SetNoticeSink(TNoticeSink sink) {
    noticeSink = sink;
}
