// Reading Kavit.ini: a cursor over the file's bytes and the five operations the positional format
// is defined by. The whole file is in memory; the reader never copies it.
//
// DOS text-file rules apply: LF or CR LF ends a line (a lone CR is an ordinary character), and a
// byte 26 (Ctrl+Z) ends the file wherever it stands, nothing after it is read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

const char EndOfFileChar = 26; // what ReadChar gives at the end, and what ends a file early

struct TTextReader {
    const char* next; // first unread character
    const char* end;  // the file's end: its size or its first byte 26
};

TTextReader TextReaderOf(const std::string& content);

// The characters up to the end of the current line, without the line end, which stays unread.
// At the end of the file: "".
std::string ReadLine(TTextReader& in);
// Everything up to and including the next LF; nothing at the end of the file.
void SkipLine(TTextReader& in);
// The next character; at the end of the file EndOfFileChar, without moving.
char ReadChar(TTextReader& in);
// Skips characters 0..32 across lines, then takes a run of at most 32 characters above 32 and
// parses it as one integer (see ParseNumberRun). At the end of the file: 0, and true.
// False when the run is not a number of the range.
bool ReadNumber(TTextReader& in, int32_t& value);
bool ReadNumber64(TTextReader& in, int64_t& value); // the same, 64 bits wide
bool AtEndOfFile(const TTextReader& in);

// One run of characters as an integer of `bits` (32 or 64) bits, as its two's-complement bit
// pattern in the low `bits` bits of `pattern`:
//   [sign] digits            decimal, within the signed range of `bits`
//   [sign] prefix hexdigits  prefix "$", "x", "X", "0x" or "0X"; the digits, of either case, are a
//                            bit pattern of at most `bits` bits; "-" negates that pattern
// sign is one "+" or "-". Anything else, an empty digit string included, is no number.
bool ParseNumberRun(const char* run, size_t length, int bits, uint64_t& pattern);
