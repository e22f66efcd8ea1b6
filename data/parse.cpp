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

std::string quoted_line(const std::string& text, std::size_t limit)
{
    std::string quoted;
    const std::size_t shown = text.size() > limit ? limit : text.size();
    for (std::size_t i = 0; i < shown; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\t') {
            quoted += "\\t";
        } else if (c == '\r') {
            quoted += "\\r";
        } else if (c < 0x20 || c == 0x7f) {
            static const char digits[] = "0123456789abcdef";
            quoted += "\\x";
            quoted += digits[c >> 4];
            quoted += digits[c & 15];
        } else {
            quoted += static_cast<char>(c);
        }
    }
    if (shown < text.size())
        quoted += "...";
    return quoted;
}

std::int64_t parse_int64(const char* text)
{
    return parse_leading_int(text).value;
}

}  // namespace zud
