#include "settings/text_reader.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

std::string Rest(const TTextReader& in) {
    return std::string(in.next, in.end);
}

struct NumberCase {
    std::string text;
    bool ok;
    int64_t value; // when ok
    std::string rest;
};

TEST(SettingsReaderTest, ReadNumber32) {
    const std::string digits32 = std::string(31, '0') + "7"; // 32 characters
    const NumberCase cases[] = {
        // blanks 0..32 before the number, across lines
        {" \t\r\n\r\n  42 rest", true, 42, " rest"},
        {std::string("\0\x1f", 2) + "5", true, 5, ""},
        {"", true, 0, ""},
        {" \r\n\t ", true, 0, ""},
        {"\r\n\x1a"
         "77",
         true, 0, ""}, // code 26 ends the file
        // decimal and its range
        {"+7", true, 7, ""},
        {"-7", true, -7, ""},
        {"-0", true, 0, ""},
        {"0007", true, 7, ""},
        {"2147483647", true, INT32_MAX, ""},
        {"-2147483648", true, INT32_MIN, ""},
        {"2147483648", false, 0, ""},
        {"-2147483649", false, 0, ""},
        {"99999999999999999999", false, 0, ""},
        // hexadecimal: five prefixes, either case, bit pattern of 32 bits
        {"$26", true, 38, ""},
        {"x26", true, 38, ""},
        {"X26", true, 38, ""},
        {"0x26", true, 38, ""},
        {"0X26", true, 38, ""},
        {"$aBcD", true, 0xABCD, ""},
        {"$7FFFFFFF", true, INT32_MAX, ""},
        {"$80000000", true, INT32_MIN, ""},
        {"$FFFFFFFF", true, -1, ""},
        {"$" + std::string(29, '0') + "FF", true, 255, ""}, // 32 characters: zeros do not count
        {"$100000000", false, 0, ""},
        // a sign goes before the prefix and negates the pattern
        {"-$10", true, -16, ""},
        {"+0x10", true, 16, ""},
        {"-$FFFFFFFF", true, 1, ""},
        {"$-10", false, 0, ""},
        {"0x+1", false, 0, ""},
        // runs that are no number
        {"+", false, 0, ""},
        {"-", false, 0, ""},
        {"$", false, 0, ""},
        {"0x", false, 0, ""},
        {"-x", false, 0, ""},
        {"--1", false, 0, ""},
        {"+-1", false, 0, ""},
        {"1-", false, 0, ""},
        {"100ms", false, 0, ""},
        {"=38", false, 0, ""},
        {"1.5", false, 0, ""},
        {"0x1G", false, 0, ""},
        {"00x1", false, 0, ""},
        {"12\xe9", false, 0, ""}, // characters above 127 are part of the run
        // the run ends at a blank, at code 26, or after 32 characters
        {"12\t34", true, 12, "\t34"},
        {"12\x1a"
         "34",
         true, 12, ""},
        {digits32 + "9 x", true, 7, "9 x"},
        {std::string(40, '1'), false, 0, "11111111"},
    };
    for (const NumberCase& c : cases) {
        SCOPED_TRACE("input \"" + c.text + "\"");
        TTextReader in = TextReaderOf(c.text);
        int32_t value = 12345;
        ASSERT_EQ(ReadNumber(in, value), c.ok);
        if (c.ok) {
            EXPECT_EQ(value, c.value);
            EXPECT_EQ(Rest(in), c.rest);
        } else {
            EXPECT_EQ(value, 12345) << "nothing stored on a format error";
            if (!c.rest.empty()) {
                EXPECT_EQ(Rest(in), c.rest);
            }
        }
    }
}

TEST(SettingsReaderTest, ReadLineLeavesTheLineEndUnread) {
    const struct {
        std::string text, line, rest;
    } cases[] = {
        {"abc\r\ndef", "abc", "\r\ndef"},
        {"abc\ndef", "abc", "\ndef"},
        {"a\rb\r\n", "a\rb", "\r\n"}, // a lone CR is an ordinary character
        {"abc\r", "abc\r", ""},
        {"\r\nx", "", "\r\nx"},
        {"abc", "abc", ""},
        {"", "", ""},
        {"ab\x1a"
         "cd\r\n",
         "ab", ""},
        {std::string(100000, 'w') + "\n", std::string(100000, 'w'), "\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("input \"" + c.text.substr(0, 20) + "\"");
        TTextReader in = TextReaderOf(c.text);
        EXPECT_EQ(ReadLine(in), c.line);
        EXPECT_EQ(Rest(in), c.rest);
    }
}

TEST(SettingsReaderTest, SkipLineConsumesThroughTheNextLf) {
    const struct {
        std::string text, rest;
    } cases[] = {
        {"abc\r\ndef", "def"}, {"abc\ndef", "def"}, {"a\rb\nc", "c"},
        {"\n\n", "\n"},        {"abc", ""},         {"", ""},
        {"ab\x1a\ncd", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("input \"" + c.text + "\"");
        TTextReader in = TextReaderOf(c.text);
        SkipLine(in);
        EXPECT_EQ(Rest(in), c.rest);
    }
}

TEST(SettingsReaderTest, ReadCharGivesCode26AtTheEndWithoutMoving) {
    std::string text = "a\n";
    TTextReader in = TextReaderOf(text);
    EXPECT_FALSE(AtEndOfFile(in));
    EXPECT_EQ(ReadChar(in), 'a');
    EXPECT_EQ(ReadChar(in), '\n');
    EXPECT_TRUE(AtEndOfFile(in));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(ReadChar(in), EndOfFileChar);
    EXPECT_EQ(in.next, text.data() + 2);
}

TEST(SettingsReaderTest, Code26AnywhereEndsTheFile) {
    const struct {
        std::string text;
        bool atEnd;
        size_t readable;
    } cases[] = {
        {"", true, 0},
        {"\x1a", true, 0},
        {"\x1a"
         "abc",
         true, 0},
        {"ab\x1a"
         "c",
         false, 2},
        {"\r\n", false, 2},
        {std::string("a\0b", 3), false, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("input \"" + c.text + "\"");
        TTextReader in = TextReaderOf(c.text);
        EXPECT_EQ(AtEndOfFile(in), c.atEnd);
        EXPECT_EQ(static_cast<size_t>(in.end - in.next), c.readable);
    }
}

} // namespace
