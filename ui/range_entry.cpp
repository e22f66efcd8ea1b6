// Checks of the range dialog and the range line.
#include "ui/range_entry.h"

#include <cinttypes>
#include <cstdio>

#include "data/parse.h"

namespace zud {

namespace {

constexpr std::int64_t kBillion = 1000000000;
constexpr std::int64_t kHighestEntry = 4611686018;   // billions; 2^62 - 1 is about 4,611,686,018.43 billion

// The entry times 10^9, or false when it does not fit.
bool billions(const std::string& field, std::int64_t& value)
{
    const ParsedInt parsed = parse_leading_int(field.substr(0, 1023).c_str());
    return !parsed.overflow && !__builtin_mul_overflow(parsed.value, kBillion, &value);
}

}  // namespace

RangeCheck check_range_entry(const std::string& lower, const std::string& upper)
{
    RangeCheck check{RangeCheck::Verdict::focus_lower, 0, 0, {}};
    std::int64_t pmin = 0, pmax = 0;
    if (!billions(lower, pmin) || pmin < 0)
        return check;
    check.verdict = RangeCheck::Verdict::focus_upper;
    if (!billions(upper, pmax) || pmax <= 0 || pmin >= pmax || pmax > kHighestEntry * kBillion)
        return check;
    char question[300];
    std::snprintf(question, sizeof question,
                  "You are sieving from p=%" PRId64 " (%s) to p=%" PRId64 " (%s) - are you sure?", pmin,
                  value_in_words(pmin).c_str(), pmax, value_in_words(pmax).c_str());
    return {RangeCheck::Verdict::confirm, pmin, pmax, question};
}

std::string value_in_words(std::int64_t v)
{
    char text[64];
    if (v < 1000000)
        std::snprintf(text, sizeof text, "%" PRId64, v);
    else if (v < 1000000000000)
        std::snprintf(text, sizeof text, "%.0f billion", static_cast<double>(v) * 1e-9);
    else
        std::snprintf(text, sizeof text, "%.3f trillion", static_cast<double>(v) * 1e-12);
    return text;
}

std::string with_commas(std::int64_t v)
{
    char digits[32];
    std::snprintf(digits, sizeof digits, "%" PRId64, v);
    const std::string plain = digits;
    std::string out;
    for (std::size_t i = 0; i < plain.size(); ++i) {
        if (i > 0 && (plain.size() - i) % 3 == 0)
            out += ',';
        out += plain[i];
    }
    return out;
}

std::string range_line(std::int64_t pmin, std::int64_t pmax)
{
    return "p=" + with_commas(pmin) + " to p=" + with_commas(pmax);
}

}  // namespace zud
