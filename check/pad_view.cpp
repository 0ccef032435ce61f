// The pads as the scanner sees them: six select steps, four input lines, and for each button
// whether it is held and which key the current preset gives it. Nothing is sent anywhere.
#include "check/pad_view.h"

#include <cstdio>

namespace {

const int FrameWidth = 79;

// The one data line of D0..D5 that a select pattern drives low; Dn is on connector pin n + 2.
int LowDataLine(BYTE pattern) {
    for (int bit = 0; bit < 6; ++bit)
        if (!(pattern & (1 << bit)))
            return bit;
    return -1;
}

std::string Padded(std::string line) {
    line.resize(FrameWidth, ' ');
    return line + "\n";
}

// The key a preset's codes stand for, as the keyboard layout names it, with the virtual-key code.
std::string KeyName(int32_t vk, int32_t scan, int32_t ext) {
    char name[64] = "";
    LONG lParam = static_cast<LONG>((scan & 0xFF) << 16 | (ext ? 1 << 24 : 0));
    if (scan & 0xFF)
        GetKeyNameTextA(lParam, name, sizeof name);
    char text[96];
    if (name[0])
        snprintf(text, sizeof text, "%.16s (vk %d)", name, static_cast<int>(vk & 0xFF));
    else
        snprintf(text, sizeof text, "vk %d", static_cast<int>(vk & 0xFF));
    return text;
}

// "12 HELD Fire        Right Ctrl (vk 17)", at most 39 characters.
std::string ButtonCell(const TViewSetup& setup, const TPadReading& reading, int pad, int button) {
    int i = button - 1;
    std::string label, key = "-";
    if (setup.preset) {
        const TCodes& p = *setup.preset;
        label = pad == 1 ? p.name1[i] : p.name2[i];
        key = pad == 1 ? KeyName(p.vk1[i], p.scan1[i], p.ext1[i])
                       : KeyName(p.vk2[i], p.scan2[i], p.ext2[i]);
    }
    // Labels may hold the end-of-file characters of a short file: show them as blanks.
    for (char& c : label)
        if (static_cast<unsigned char>(c) < 32)
            c = ' ';
    char cell[128];
    snprintf(cell, sizeof cell, "%2d %-4s %-12.12s %s", button,
             reading.held[pad - 1][i] ? "HELD" : " .", label.c_str(), key.c_str());
    std::string text = cell;
    text.resize(39, ' ');
    return text;
}

} // namespace

bool ReadPads(TLptPortConnection& connection, PortCode port, TPadReading& reading) {
    auto record = [](void* context, const TButtonRead& read) {
        TPadReading& into = *static_cast<TPadReading*>(context);
        into.status[read.step - 1] = read.status;
        into.held[read.pad - 1][read.button - 1] = !read.released;
        return true;
    };
    return PadPass(connection, port, PadCount, record, &reading);
}

std::string HeldList(const TPadReading& reading) {
    std::string list;
    for (int pad = 1; pad <= PadCount; ++pad)
        for (int button = 1; button <= ButtonsPerPad; ++button)
            if (reading.held[pad - 1][button - 1]) {
                char pair[16];
                snprintf(pair, sizeof pair, "%s%d:%d", list.empty() ? "" : " ", pad, button);
                list += pair;
            }
    return list;
}

const char* PortName(PortCode port) {
    switch (port) {
    case PortLpt1:
        return "LPT1";
    case PortLpt2:
        return "LPT2";
    case PortLpt3:
        return "LPT3";
    default:
        return "none";
    }
}

int FrameLines() {
    return 2 + 1 + StepCount + 4 + 1 + ButtonsPerPad;
}

std::string Frame(const TViewSetup& setup, const TPadReading& reading) {
    char line[256];
    std::string frame;
    if (setup.preset)
        snprintf(line, sizeof line, "%s, read every %lu ms; keys of preset \"%.30s\"",
                 PortName(setup.port), static_cast<unsigned long>(setup.interval),
                 setup.preset->caption.c_str());
    else
        snprintf(line, sizeof line, "%s, read every %lu ms; keys unknown (no usable Kavit.ini)",
                 PortName(setup.port), static_cast<unsigned long>(setup.interval));
    frame += Padded(line);
    frame += Padded("Esc or Ctrl-C ends. No key events are sent.");

    // One column per input line, headed by its name and pin, as pad_wiring.h has them.
    std::string header = "step  line low    status  ";
    size_t columnStart[InputLineCount];
    for (int k = 0; k < InputLineCount; ++k) {
        snprintf(line, sizeof line, "%s%s(%d)", k ? " " : "", InputLines[k].name,
                 InputLines[k].pin);
        columnStart[k] = header.size() + (k ? 1 : 0);
        header += line;
    }
    frame += Padded(header);
    for (int step = 0; step < StepCount; ++step) {
        int low = LowDataLine(SelectPatterns[step]);
        snprintf(line, sizeof line, " %d    D%d (pin %d)  0x%02X", step + 1, low, low + 2,
                 reading.status[step]);
        std::string row = line;
        row.resize(header.size(), ' ');
        for (int k = 0; k < InputLineCount; ++k)
            row[columnStart[k] + 2] =
                LineReleasedIn(InputLines[k], reading.status[step]) ? '.' : '*';
        frame += Padded(row);
    }
    frame += Padded("* the line is pulled low in this step: a held button. A button held alone");
    frame +=
        Padded("  must show in its own step only: one press in two steps means two data lines");
    frame += Padded("  touch (a missing diode); a press under the wrong line means swapped wires.");
    std::string lines = "  pad/buttons:";
    for (const TInputLine& input : InputLines) {
        snprintf(line, sizeof line, "%s %s %d/%d-%d",
                 input.pad == 1 && input.firstButton == 1 ? "" : ",", input.name, input.pad,
                 input.firstButton, input.firstButton + StepCount - 1);
        lines += line;
    }
    frame += Padded(lines);

    frame += Padded(std::string("Pad 1") + std::string(34, ' ') + " Pad 2");
    for (int button = 1; button <= ButtonsPerPad; ++button)
        frame += Padded(ButtonCell(setup, reading, 1, button) + " " +
                        ButtonCell(setup, reading, 2, button));
    return frame;
}
