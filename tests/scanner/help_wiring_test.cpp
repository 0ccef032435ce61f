// help.htm's wiring tables and its connector picture are written by hand; this holds them to the
// scanner's wiring table, so that a person who solders by the help page gets what Kavit reads.
#include "scanner/pad_wiring.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string ReadHelp() {
    std::ifstream file(KAVIT_HELP_HTM, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// The part of `text` from `open` to the next `close`, empty when `open` is not there.
std::string Between(const std::string& text, const std::string& open, const std::string& close) {
    size_t begin = text.find(open);
    if (begin == std::string::npos)
        return "";
    size_t end = text.find(close, begin);
    return text.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

std::string WithoutTags(const std::string& html) {
    std::string text;
    bool inTag = false;
    for (char c : html) {
        if (c == '<')
            inTag = true;
        else if (c == '>')
            inTag = false;
        else if (!inTag)
            text += c;
    }
    return text;
}

// The data cells of a table, row by row (the heading row has none).
std::vector<std::vector<std::string>> TableRows(const std::string& help, const std::string& id) {
    std::string table = Between(help, "<table id=\"" + id + "\">", "</table>");
    std::vector<std::vector<std::string>> rows;
    for (size_t row = table.find("<tr>"); row != std::string::npos;
         row = table.find("<tr>", row + 1)) {
        std::string line = Between(table.substr(row), "<tr>", "</tr>");
        std::vector<std::string> cells;
        for (size_t cell = line.find("<td>"); cell != std::string::npos;
             cell = line.find("<td>", cell + 1))
            cells.push_back(WithoutTags(Between(line.substr(cell), "<td>", "</td>")));
        if (!cells.empty())
            rows.push_back(cells);
    }
    return rows;
}

// A data line Dn is on connector pin n + 2; the line a pattern selects is the one of D0..D5 low.
int SelectedBit(unsigned char pattern) {
    int selected = -1;
    for (int bit = 0; bit < 6; ++bit)
        if (!(pattern & (1 << bit)))
            selected = selected < 0 ? bit : 99;
    return selected;
}

// One pin of the connector picture: its fill colour, its position and its label.
struct PicturePin {
    std::string fill, label;
    double x = 0, y = 0;
};

// The value of the first `name="..."` in `element`, empty when there is none.
std::string Attribute(const std::string& element, const std::string& name) {
    std::string open = " " + name + "=\"";
    size_t begin = element.find(open);
    if (begin == std::string::npos)
        return "";
    begin += open.size();
    return element.substr(begin, element.find('"', begin) - begin);
}

PicturePin PinInPicture(const std::string& help, int pin) {
    std::string group = Between(help, "<g id=\"db25-pin" + std::to_string(pin) + "\">", "</g>");
    std::string circle = Between(group, "<circle", "/>");
    PicturePin found;
    found.fill = Attribute(circle, "fill");
    found.x = std::atof(Attribute(circle, "cx").c_str());
    found.y = std::atof(Attribute(circle, "cy").c_str());
    // The first text is the pin's number, a second one its line's name.
    size_t lastText = group.rfind("<text");
    if (lastText != std::string::npos && lastText != group.find("<text"))
        found.label = WithoutTags(Between(group.substr(lastText), "<text", "</text>"));
    return found;
}

const char* const SelectColour = "#1f5fbf";
const char* const InputColour = "#1c8a3a";

TEST(HelpWiringTest, PinsInHelpAreThoseTheScannerReads) {
    std::string help = ReadHelp();
    ASSERT_FALSE(help.empty()) << KAVIT_HELP_HTM;

    auto select = TableRows(help, "select-pins");
    ASSERT_EQ(select.size(), static_cast<size_t>(StepCount));
    for (int step = 1; step <= StepCount; ++step) {
        int bit = SelectedBit(SelectPatterns[step - 1]);
        ASSERT_GE(bit, 0);
        ASSERT_LT(bit, 6) << "step " << step << " selects more than one line";
        const auto& row = select[step - 1];
        ASSERT_GE(row.size(), 3u);
        EXPECT_EQ(row[0], std::to_string(step));
        EXPECT_EQ(row[1], std::to_string(bit + 2)) << "step " << step;
        EXPECT_EQ(row[2], "D" + std::to_string(bit)) << "step " << step;
        PicturePin drawn = PinInPicture(help, bit + 2);
        EXPECT_EQ(drawn.fill, SelectColour) << "pin " << bit + 2;
        EXPECT_EQ(drawn.label, "D" + std::to_string(bit)) << "pin " << bit + 2;
    }

    auto inputs = TableRows(help, "input-pins");
    ASSERT_EQ(inputs.size(), static_cast<size_t>(InputLineCount));
    for (int i = 0; i < InputLineCount; ++i) {
        const TInputLine& line = InputLines[i];
        const auto& row = inputs[i];
        ASSERT_GE(row.size(), 3u);
        EXPECT_EQ(row[0], std::to_string(line.pin));
        EXPECT_EQ(row[1], line.name);
        EXPECT_EQ(row[2], "pad " + std::to_string(line.pad) + ", buttons " +
                              std::to_string(line.firstButton) + " to " +
                              std::to_string(line.firstButton + 5));
        EXPECT_EQ(PinInPicture(help, line.pin).fill, InputColour) << "pin " << line.pin;
        EXPECT_NE(help.find(">pin " + std::to_string(line.pin) + " " + line.name + "<"),
                  std::string::npos)
            << "the matrix picture names pin " << line.pin;
    }

    // The plug is drawn from its solder side: the male face mirrored, pin 1 at the top right.
    PicturePin pin1 = PinInPicture(help, 1), pin13 = PinInPicture(help, 13);
    PicturePin pin14 = PinInPicture(help, 14), pin25 = PinInPicture(help, 25);
    EXPECT_GT(pin1.x, pin13.x);
    EXPECT_GT(pin14.x, pin25.x);
    EXPECT_LT(pin1.y, pin14.y);
    EXPECT_GT(pin14.x, PinInPicture(help, 2).x) << "pin 14 lies between pins 1 and 2";
    EXPECT_LT(pin14.x, pin1.x);
}

} // namespace
