#include "settings/settings_text.h"

#include <algorithm>
#include <charconv>
#include <iterator>

#include "settings/text_reader.h"

namespace {

// Kavit.ini is positional: values are found by line and by character count, never by key name.
// The keys and frame lines below are written for people; the reader only skips their lengths.
//
//   [Kavit settings]===============================================   title, 63 characters
//   Interval=10
//   SecondPlayer=1
//   Repeat=0
//   Preset=1                                                           current preset + 1
//   then per preset: empty line, header, 12 lines "1P:<label>=<vk> <scan> <ext>", empty line,
//                    12 lines "2P:..." of pad 2
//   //=============================================================   closing line, 63 characters
const char TitleLine[] = "[Kavit settings]===============================================";
const char ClosingLine[] = "//=============================================================";
static_assert(sizeof TitleLine - 1 == 63 && sizeof ClosingLine - 1 == 63, "frame line width");

const char IntervalKey[] = "Interval=";
const char SecondPlayerKey[] = "SecondPlayer=";
const char RepeatKey[] = "Repeat=";
const char PresetKey[] = "Preset=";
const char Pad1Prefix[] = "1P:";
const char Pad2Prefix[] = "2P:";
const char LineEnd[] = "\r\n";

// A button line's label is whatever stands between the 3-character pad prefix and "=", cut off
// after the 15th character of the line: at most 12 characters.
const int PadPrefixLength = 3;
const int LabelLineLimit = 15;
const size_t PresetBlockLines = 27; // empty line, header, 12 pad-1 lines, empty line, 12 pad-2

// Passes over as many characters as the key has, without comparing them: any name of that length
// will do, and a shorter line lets the skip run on into the next one.
template <size_t N> void SkipKey(TTextReader& in, const char (&)[N]) {
    for (size_t i = 0; i + 1 < N; ++i)
        ReadChar(in);
}

// The "=" is consumed only when it is among the first 15 characters, so a 12-character label
// reads only when a blank follows it instead.
std::string ReadLabel(TTextReader& in) {
    std::string label;
    for (int i = 0; i < LabelLineLimit; ++i) {
        char c = ReadChar(in);
        if (c == '=')
            break;
        if (i >= PadPrefixLength)
            label += c;
    }
    return label;
}

bool ReadPadBlock(TTextReader& in, int32_t* vk, int32_t* scan, int32_t* ext, std::string* name) {
    for (int b = 0; b < ButtonsPerPad; ++b) {
        name[b] = ReadLabel(in);
        if (!ReadNumber(in, vk[b]) || !ReadNumber(in, scan[b]) || !ReadNumber(in, ext[b]))
            return false;
        SkipLine(in); // whatever follows the third number
    }
    return true;
}

// One 27-line preset block, its leading empty line already read.
bool ReadPreset(TTextReader& in, std::vector<TCodes>& presets) {
    TCodes& preset = presets.emplace_back();
    preset.header = ReadLine(in);
    SkipLine(in);
    preset.caption = CaptionOf(preset.header);
    if (!ReadPadBlock(in, preset.vk1, preset.scan1, preset.ext1, preset.name1))
        return false;
    SkipLine(in); // the empty line between the pad blocks
    if (!ReadPadBlock(in, preset.vk2, preset.scan2, preset.ext2, preset.name2))
        return false;
    SkipLine(in); // the empty line ahead of the next preset, or the closing line
    return true;
}

// A TCodes record is over a kilobyte: a table that grows one record at a time is moved to new
// memory again and again. Every preset but the last takes at least 27 line ends, which bounds
// the count; the cap keeps a file of nothing but line ends from reserving much.
void ReservePresets(const TTextReader& in, std::vector<TCodes>& presets) {
    const size_t MaxReserved = 16384;
    size_t bound = static_cast<size_t>(std::count(in.next, in.end, '\n')) / PresetBlockLines + 1;
    presets.reserve(presets.size() + std::min(bound, MaxReserved));
}

// ---- writing -----------------------------------------------------------------------------------

const size_t NumberWidth = 11; // "-2147483648" and "4294967295"

template <typename T> void AppendNumber(std::string& text, T value) {
    char digits[24];
    std::to_chars_result result = std::to_chars(digits, digits + sizeof digits, value);
    text.append(digits, result.ptr);
}

// A byte 26 ends the file for the reader wherever it stands: one written would hide everything
// after it, keys taught since the load included. The reader itself fills what a file cut short
// lacks with that byte (the labels of the preset the file ends in), so it is left out of headers
// and labels; such a label reads back as the rest of it, since the reader ends a label at "=".
void AppendText(std::string& text, const std::string& part) {
    std::remove_copy(part.begin(), part.end(), std::back_inserter(text), EndOfFileChar);
}

// A label of twelve characters fills all of the line that the reader searches for "=", so an "="
// after it would be taken as the start of the first number and the next start would refuse the
// file. Such a label was read from a line that had a blank there instead, and gets it back.
char LabelEnd(size_t labelLength) {
    return labelLength >= static_cast<size_t>(LabelLineLimit - PadPrefixLength) ? ' ' : '=';
}

void AppendPadBlock(std::string& text, const char* prefix, const int32_t* vk, const int32_t* scan,
                    const int32_t* ext, const std::string* name) {
    for (int b = 0; b < ButtonsPerPad; ++b) {
        text += prefix;
        const size_t labelStart = text.size();
        AppendText(text, name[b]);
        text += LabelEnd(text.size() - labelStart);
        AppendNumber(text, vk[b]);
        text += ' ';
        AppendNumber(text, scan[b]);
        text += ' ';
        AppendNumber(text, ext[b]);
        text += LineEnd;
    }
}

// An upper bound of the file's size, so that the text is built without copying.
size_t SettingsTextSize(const std::vector<TCodes>& presets) {
    const size_t lineEnd = sizeof LineEnd - 1;
    const size_t buttonLine = PadPrefixLength + 1 + 3 * NumberWidth + 2 + lineEnd;
    size_t size = 2 * (63 + lineEnd) + 4 * (sizeof SecondPlayerKey + NumberWidth + lineEnd);
    for (const TCodes& preset : presets) {
        size += preset.header.size() + 3 * lineEnd + 2 * ButtonsPerPad * buttonLine;
        for (int b = 0; b < ButtonsPerPad; ++b)
            size += preset.name1[b].size() + preset.name2[b].size();
    }
    return size;
}

} // namespace

bool ReadSettingsText(const std::string& text, TSettingsValues& values) {
    TTextReader in = TextReaderOf(text);

    SkipLine(in); // the title line, not examined

    int64_t interval = 0;
    SkipKey(in, IntervalKey);
    if (!ReadNumber64(in, interval))
        return false;
    values.app.interval = static_cast<uint32_t>(interval); // low 32 bits: -1 is 4294967295
    SkipLine(in);

    SkipKey(in, SecondPlayerKey);
    if (!ReadNumber(in, values.app.secondPlayer))
        return false;
    SkipLine(in);

    SkipKey(in, RepeatKey);
    if (!ReadNumber(in, values.app.repeat))
        return false;
    SkipLine(in);

    SkipKey(in, PresetKey);
    if (!ReadNumber(in, values.currentPreset))
        return false;
    SkipLine(in);
    values.currentPreset = static_cast<int32_t>(static_cast<uint32_t>(values.currentPreset) - 1);

    SkipLine(in); // the empty line ahead of the first preset

    ReservePresets(in, values.presets);
    while (!AtEndOfFile(in))
        if (!ReadPreset(in, values.presets))
            return false;
    return true;
}

std::string SettingsText(const TAppSettings& app, int32_t currentPreset,
                         const std::vector<TCodes>& presets) {
    std::string text;
    text.reserve(SettingsTextSize(presets));
    text += TitleLine;
    text += LineEnd;
    text += IntervalKey;
    AppendNumber(text, app.interval);
    text += LineEnd;
    text += SecondPlayerKey;
    AppendNumber(text, app.secondPlayer);
    text += LineEnd;
    text += RepeatKey;
    AppendNumber(text, app.repeat);
    text += LineEnd;
    text += PresetKey;
    // Wraps as the reader's "minus one" does, so any value reads back as itself.
    AppendNumber(text, static_cast<int32_t>(static_cast<uint32_t>(currentPreset) + 1));
    text += LineEnd;
    for (const TCodes& preset : presets) {
        text += LineEnd;
        AppendText(text, preset.header);
        text += LineEnd;
        AppendPadBlock(text, Pad1Prefix, preset.vk1, preset.scan1, preset.ext1, preset.name1);
        text += LineEnd;
        AppendPadBlock(text, Pad2Prefix, preset.vk2, preset.scan2, preset.ext2, preset.name2);
    }
    text += ClosingLine;
    text += LineEnd;
    return text;
}
