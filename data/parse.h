// The files' own number rule: optional blanks, optional sign, decimal digits
// up to the first other character, 0 without digits. Values that do not fit
// are reported, never wrapped.
#pragma once

#include <cstdint>

namespace zud {

struct ParsedInt {
    std::int64_t value;   // saturated at +-(2^63 - 1) when it overflowed
    bool overflow;
    const char* end;      // just past the last digit (or where parsing stopped)
};

ParsedInt parse_leading_int(const char* text);

// The leading integer as a signed 64-bit value, saturated on overflow.
std::int64_t parse_int64(const char* text);

}  // namespace zud
