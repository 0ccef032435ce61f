// The pads as the scanner sees them: six select steps, four input lines, and for each button
// whether it is held and which key the current preset gives it. Nothing is sent anywhere.
#include "check/pad_view.h"

#include <algorithm>
#include <cstdio>

#include "check/port_report.h"

namespace {

// An 80-column console wraps a line of 80 characters onto the next row: one column is kept free.
const int FrameWidth = 79;
const int CellWidth = 39; // a button of each pad side by side, one blank between them
const int KeyWidth = 21;  // the room a cell leaves for the key: "12 * " and a label of 12 before

// The one data line of D0..D5 that a select pattern drives low; Dn is on connector pin n + 2.
int LowDataLine(BYTE pattern) {
    for (int bit = 0; bit < 6; ++bit)
        if (!(pattern & (1 << bit)))
            return bit;
    return -1;
}

// Every line is padded to one width, so that a redraw in place leaves nothing of the one before.
// The texts are made to fit: nothing is cut here.
std::string Padded(std::string line) {
    if (line.size() < static_cast<size_t>(FrameWidth))
        line.resize(FrameWidth, ' ');
    return line + "\n";
}

// A text of the user's (a preset caption) shortened to `room`, marked where it was shortened.
std::string Shortened(const std::string& text, size_t room) {
    if (text.size() <= room)
        return text;
    return text.substr(0, room - 3) + "...";
}

// The key a preset's codes stand for, as the keyboard layout names it, with the virtual-key
// code when there is room for both; a long name goes without the code, never cut.
std::string KeyName(int32_t vk, int32_t scan, int32_t ext) {
    char name[64] = "";
    LONG lParam = static_cast<LONG>((scan & 0xFF) << 16 | (ext ? 1 << 24 : 0));
    if (scan & 0xFF)
        GetKeyNameTextA(lParam, name, sizeof name);
    char code[16];
    snprintf(code, sizeof code, "vk %d", static_cast<int>(vk & 0xFF));
    std::string named = name;
    if (named.empty())
        return code;
    std::string both = named + " (" + code + ")";
    if (both.size() <= static_cast<size_t>(KeyWidth))
        return both;
    return named.size() <= static_cast<size_t>(KeyWidth) ? named : code;
}

// "12 * 1P:Select     Right Ctrl (vk 17)", at most 39 characters: "*" held, "." not.
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
    snprintf(cell, sizeof cell, "%2d %c %-12.12s %s", button, reading.held[pad - 1][i] ? '*' : '.',
             label.c_str(), key.c_str());
    std::string text = cell;
    text.resize(CellWidth, ' ');
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
    return PadPass(connection, port, PadCount, record, &reading) == PassDone;
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

void CountPass(TPaceMeter& meter, double ms) {
    const double Window = 1000;
    meter.passes.push_back(ms);
    while (meter.passes.size() > 1 && ms - meter.passes.front() > Window)
        meter.passes.pop_front();
}

std::string PaceLine(const TPaceMeter& meter, DWORD interval) {
    char line[96];
    if (meter.passes.size() < 2) {
        snprintf(line, sizeof line, "pace: measuring (Interval=%lu)",
                 static_cast<unsigned long>(interval));
        return line;
    }
    double longest = 0;
    for (size_t i = 1; i < meter.passes.size(); ++i)
        longest = std::max(longest, meter.passes[i] - meter.passes[i - 1]);
    // The gaps of the last second, one fewer than its passes: the rate they add up to.
    double span = meter.passes.back() - meter.passes.front();
    double rate = span > 0 ? (meter.passes.size() - 1) * 1000.0 / span : 0;
    snprintf(line, sizeof line, "pace: %.0f/s, longest gap %.1f ms (Interval=%lu)", rate, longest,
             static_cast<unsigned long>(interval));
    return line;
}

int FrameLines() {
    return 1 + 1 + 1 + StepCount + 1 + 1 + 1 + ButtonsPerPad;
}

// 24 lines of at most 79 characters: the frame and the cursor below it fit an 80 x 25 console.
std::string Frame(const TViewSetup& setup, const TPadReading& reading) {
    char line[256];
    std::string frame = Padded(Shortened(setup.verdicts, FrameWidth));
    snprintf(line, sizeof line, "%s every %lu ms, ", PortName(setup.port),
             static_cast<unsigned long>(ViewPeriodMs(setup.interval)));
    std::string head = line;
    const std::string tail = ". Esc or Ctrl-C ends.";
    if (setup.preset) {
        head += "preset \"";
        head += Shortened(setup.preset->caption, FrameWidth - head.size() - 1 - tail.size());
        head += "\"";
    } else {
        head += "keys unknown (no usable Kavit.ini)";
    }
    frame += Padded(head + tail);

    // One column per input line, headed by its name and pin, as wire/pad_wiring.h has them.
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
    frame +=
        Padded("* held: own step only; in two steps: a missing diode; wrong line: swapped wires");
    frame += Padded(setup.pace);

    // Each pad's heading names the input lines that carry its buttons.
    std::string heads[PadCount];
    for (int pad = 1; pad <= PadCount; ++pad) {
        snprintf(line, sizeof line, "Pad %d:", pad);
        heads[pad - 1] = line;
        for (const TInputLine& input : InputLines)
            if (input.pad == pad) {
                snprintf(line, sizeof line, "%s %s %d-%d", input.firstButton == 1 ? "" : ",",
                         input.name, input.firstButton, input.firstButton + StepCount - 1);
                heads[pad - 1] += line;
            }
        heads[pad - 1].resize(CellWidth, ' ');
    }
    frame += Padded(heads[0] + " " + heads[1]);
    for (int button = 1; button <= ButtonsPerPad; ++button)
        frame += Padded(ButtonCell(setup, reading, 1, button) + " " +
                        ButtonCell(setup, reading, 2, button));
    return frame;
}
