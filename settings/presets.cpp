#include "settings/presets.h"

TPresetTable PresetTable;

std::string CaptionOf(const std::string& header) {
    std::string caption;
    caption.reserve(header.size());
    for (char c : header)
        if (c != '[' && c != ']')
            caption += c;
    return caption;
}
