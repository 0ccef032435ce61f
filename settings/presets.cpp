#include "settings/presets.h"

TPresetTable PresetTable;

int32_t ChosenPreset() {
    return PresetTable.chosenPreset >= 0 ? PresetTable.chosenPreset : PresetTable.currentPreset;
}

std::string CaptionOf(const std::string& header) {
    std::string caption;
    caption.reserve(header.size());
    for (char c : header)
        if (c != '[' && c != ']')
            caption += c;
    return caption;
}
