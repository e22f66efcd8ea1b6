// Checked decimal parsing for the data files and dialog fields.
#include "data/parse.h"

#include <cctype>
#include <climits>

namespace zud {

ParsedInt parse_leading_int(const char* text)
{
    const char* s = text;
    while (std::isspace(static_cast<unsigned char>(*s)))
        ++s;
    bool negative = false;
    if (*s == '+' || *s == '-') {
        negative = *s == '-';
        ++s;
    }
    std::uint64_t magnitude = 0;
    bool overflow = false;
    const std::uint64_t limit = static_cast<std::uint64_t>(INT64_MAX);
    for (; *s >= '0' && *s <= '9'; ++s) {
        const auto digit = static_cast<std::uint64_t>(*s - '0');
        if (magnitude > (limit - digit) / 10)
            overflow = true;
        else
            magnitude = magnitude * 10 + digit;
    }
    if (overflow)
        magnitude = limit;
    const auto value = static_cast<std::int64_t>(magnitude);
    return {negative ? -value : value, overflow, s};
}

std::int64_t parse_int64(const char* text)
{
    return parse_leading_int(text).value;
}

}  // namespace zud
