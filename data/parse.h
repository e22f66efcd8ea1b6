// The files' own number rule: optional blanks, optional sign, decimal digits
// up to the first other character, 0 without digits. Values that do not fit
// are reported, never wrapped.
#pragma once

#include <cstdint>
#include <string>

namespace zud {

struct ParsedInt {
    std::int64_t value;   // saturated at +-(2^63 - 1) when it overflowed
    bool overflow;
    const char* end;      // just past the last digit (or where parsing stopped)
};

ParsedInt parse_leading_int(const char* text);

// The leading integer as a signed 64-bit value, saturated on overflow.
std::int64_t parse_int64(const char* text);

// A line of a file as a message may quote it: control characters as \t,
// \r or \xNN (a terminal must not act on them), at most `limit` bytes of
// it, then "...".
std::string quoted_line(const std::string& text, std::size_t limit = 60);

}  // namespace zud
