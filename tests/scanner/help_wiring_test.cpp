// help.htm's wiring tables and its connector picture are written by hand; this holds them to the
// scanner's wiring table, so that a person who solders by the help page gets what Kavit reads.
#include "wire/pad_wiring.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>

namespace {

// One pin of the connector picture: its fill colour, its position and its line's name (empty
// when only its number is drawn).
struct PicturePin {
    std::string fill, label;
    int x = -1, y = -1;
};

PicturePin PinInPicture(const std::string& help, int pin) {
    static const std::regex drawn(
        "<circle cx=\"(\\d+)\" cy=\"(\\d+)\"[^>]* fill=\"([^\"]+)\"[^>]*/>"
        "\\s*<text[^>]*>\\d+</text>(\\s*<text[^>]*>([^<]*)</text>)?");
    std::string open = "<g id=\"db25-pin" + std::to_string(pin) + "\">";
    size_t at = help.find(open);
    std::smatch m;
    PicturePin found;
    if (at != std::string::npos &&
        std::regex_search(help.begin() + long(at + open.size()), help.end(), m, drawn,
                          std::regex_constants::match_continuous)) {
        found.x = std::stoi(m[1]);
        found.y = std::stoi(m[2]);
        found.fill = m[3];
        found.label = m[5];
    }
    return found;
}

// The table's data rows, each as "<td>a</td><td>b</td>..." up to its end.
std::vector<std::string> TableRows(const std::string& help, const std::string& id) {
    size_t begin = help.find("<table id=\"" + id + "\">");
    std::string table = help.substr(begin, help.find("</table>", begin) - begin);
    std::vector<std::string> rows;
    for (size_t row = table.find("<tr><td>"); row != std::string::npos;
         row = table.find("<tr><td>", row + 1))
        rows.push_back(table.substr(row + 4, table.find("</tr>", row) - row - 4));
    return rows;
}

std::string Cells(const std::vector<std::string>& cells) {
    std::string row;
    for (const std::string& cell : cells)
        row += "<td>" + cell + "</td>";
    return row;
}

TEST(HelpWiringTest, PinsInHelpAreThoseTheScannerReads) {
    std::ifstream file(KAVIT_HELP_HTM, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    const std::string help = text.str();
    ASSERT_FALSE(help.empty()) << KAVIT_HELP_HTM;

    auto select = TableRows(help, "select-pins");
    ASSERT_EQ(select.size(), size_t(StepCount));
    for (int step = 1; step <= StepCount; ++step) {
        // A data line Dn is on connector pin n + 2; a step pulls exactly one of D0..D5 low.
        int low = ~SelectPatterns[step - 1] & 0x3F, bit = 0;
        while (bit < 6 && low != 1 << bit)
            ++bit;
        ASSERT_LT(bit, 6) << "step " << step << " selects one line";
        std::string line = "D" + std::to_string(bit);
        EXPECT_EQ(
            select[step - 1].find(Cells({std::to_string(step), std::to_string(bit + 2), line})), 0u)
            << select[step - 1];
        PicturePin drawn = PinInPicture(help, bit + 2);
        EXPECT_EQ(drawn.fill, "#1f5fbf") << "pin " << bit + 2;
        EXPECT_EQ(drawn.label, line) << "pin " << bit + 2;
    }

    auto inputs = TableRows(help, "input-pins");
    ASSERT_EQ(inputs.size(), size_t(InputLineCount));
    for (int i = 0; i < InputLineCount; ++i) {
        const TInputLine& line = InputLines[i];
        std::string pin = std::to_string(line.pin);
        EXPECT_EQ(inputs[i], Cells({pin, line.name,
                                    "pad " + std::to_string(line.pad) + ", buttons " +
                                        std::to_string(line.firstButton) + " to " +
                                        std::to_string(line.firstButton + 5)}));
        EXPECT_EQ(PinInPicture(help, line.pin).fill, "#1c8a3a") << "pin " << pin;
        EXPECT_NE(help.find(">pin " + pin + " " + line.name + "<"), std::string::npos)
            << "the matrix picture names pin " << pin;
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
