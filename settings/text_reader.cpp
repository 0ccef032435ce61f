#include "settings/text_reader.h"

#include <cstring>

namespace {

const size_t MaxNumberRun = 32; // longer runs are cut here; the rest is read as the next token

bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= 32;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Length of a hexadecimal prefix at `p` ("$", "x", "X", "0x", "0X"), 0 when there is none.
size_t HexPrefixLength(const char* p, size_t length) {
    if (length >= 1 && (p[0] == '$' || p[0] == 'x' || p[0] == 'X'))
        return 1;
    if (length >= 2 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X'))
        return 2;
    return 0;
}

bool ReadNumberBits(TTextReader& in, int bits, uint64_t& pattern) {
    while (in.next != in.end && IsBlank(*in.next))
        ++in.next;
    if (in.next == in.end) {
        pattern = 0;
        return true;
    }
    const char* run = in.next;
    while (in.next != in.end && !IsBlank(*in.next) &&
           static_cast<size_t>(in.next - run) < MaxNumberRun)
        ++in.next;
    return ParseNumberRun(run, static_cast<size_t>(in.next - run), bits, pattern);
}

} // namespace

TTextReader TextReaderOf(const std::string& content) {
    const char* begin = content.data();
    const void* stop = std::memchr(begin, EndOfFileChar, content.size());
    return TTextReader{begin, stop ? static_cast<const char*>(stop) : begin + content.size()};
}

std::string ReadLine(TTextReader& in) {
    const void* lf = std::memchr(in.next, '\n', static_cast<size_t>(in.end - in.next));
    const char* stop = lf ? static_cast<const char*>(lf) : in.end;
    // The CR of a CR LF pair belongs to the line end.
    if (lf && stop != in.next && stop[-1] == '\r')
        --stop;
    std::string line(in.next, stop);
    in.next = stop;
    return line;
}

void SkipLine(TTextReader& in) {
    const void* lf = std::memchr(in.next, '\n', static_cast<size_t>(in.end - in.next));
    in.next = lf ? static_cast<const char*>(lf) + 1 : in.end;
}

char ReadChar(TTextReader& in) {
    if (in.next == in.end)
        return EndOfFileChar;
    return *in.next++;
}

bool AtEndOfFile(const TTextReader& in) {
    return in.next == in.end;
}

bool ReadNumber(TTextReader& in, int32_t& value) {
    uint64_t pattern;
    if (!ReadNumberBits(in, 32, pattern))
        return false;
    value = static_cast<int32_t>(static_cast<uint32_t>(pattern));
    return true;
}

bool ReadNumber64(TTextReader& in, int64_t& value) {
    uint64_t pattern;
    if (!ReadNumberBits(in, 64, pattern))
        return false;
    value = static_cast<int64_t>(pattern);
    return true;
}

bool ParseNumberRun(const char* run, size_t length, int bits, uint64_t& pattern) {
    const uint64_t mask = bits >= 64 ? ~uint64_t(0) : (uint64_t(1) << bits) - 1;
    const char* p = run;
    const char* end = run + length;
    bool negative = false;
    if (p != end && (*p == '+' || *p == '-'))
        negative = *p++ == '-';

    uint64_t magnitude = 0;
    size_t prefix = HexPrefixLength(p, static_cast<size_t>(end - p));
    if (prefix) {
        p += prefix;
        if (p == end)
            return false;
        for (; p != end; ++p) {
            int digit = HexDigit(*p);
            if (digit < 0 || magnitude > (mask >> 4))
                return false;
            magnitude = magnitude << 4 | static_cast<uint64_t>(digit);
        }
    } else {
        // Largest magnitude of the signed range: 2^(bits-1) - 1, one more below zero.
        const uint64_t limit = (mask >> 1) + (negative ? 1 : 0);
        if (p == end)
            return false;
        for (; p != end; ++p) {
            if (*p < '0' || *p > '9')
                return false;
            uint64_t digit = static_cast<uint64_t>(*p - '0');
            if (magnitude > (limit - digit) / 10)
                return false;
            magnitude = magnitude * 10 + digit;
        }
    }
    pattern = (negative ? 0 - magnitude : magnitude) & mask;
    return true;
}
