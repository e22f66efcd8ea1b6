// Checks of the range dialog and the range line.
#include "app/range_entry.h"

#include <cinttypes>
#include <cstdint>
#include <cstdio>

#include "data/parse.h"

namespace zud {

namespace {

constexpr std::int64_t kBillion = 1000000000;

const char* const kCreationNote =
    "\r\n\r\nA lower end of 0 creates a new 'Zud.dat' from scratch, with every n of the range as a candidate; "
    "the present 'Zud.dat' is kept as 'Zud.dat~'.";

std::string too_high()
{
    return "at most " + with_commas(kHighestEntryBillions) + " billion";
}

RangeCheck refuse(RangeCheck::Verdict verdict, std::string reason)
{
    RangeCheck check{verdict, 0, 0, {}, std::move(reason)};
    return check;
}

}  // namespace

// 2^62 - 1, the engine's limit, is about 4,611,686,018.43 billion.
const std::int64_t kHighestEntryBillions = 4611686018;

bool parse_billions(const std::string& text, std::int64_t& billions, std::string& reason)
{
    const std::size_t first = text.find_first_not_of(" \t");
    const std::size_t last = text.find_last_not_of(" \t");
    const std::string entry = first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
    if (entry.empty()) {
        reason = "empty: type whole billions";
        return false;
    }
    if (entry[0] == '-' && entry.size() > 1 && entry.find_first_not_of("0123456789", 1) == std::string::npos) {
        reason = "at least 0";
        return false;
    }
    for (char c : entry) {
        if (c < '0' || c > '9') {
            reason = refused_keystroke(c);
            return false;
        }
    }
    const ParsedInt parsed = parse_leading_int(entry.c_str());
    if (parsed.overflow || parsed.value > INT64_MAX / kBillion) {
        reason = too_high();
        return false;
    }
    billions = parsed.value;
    return true;
}

std::string refused_keystroke(char typed)
{
    if (typed >= '0' && typed <= '9')
        return {};
    if (typed == '.' || typed == ',')
        return "whole billions only: no . or ,";
    if (typed == 'e' || typed == 'E')
        return "whole billions only: no exponent";
    return "digits only (whole billions)";
}

RangeCheck check_range_entry(const std::string& lower, const std::string& upper)
{
    std::int64_t low = 0, high = 0;
    std::string reason;
    if (!parse_billions(lower, low, reason))
        return refuse(RangeCheck::Verdict::focus_lower, reason);
    if (!parse_billions(upper, high, reason))
        return refuse(RangeCheck::Verdict::focus_upper, reason);
    return check_range_values(low * kBillion, high * kBillion);
}

RangeCheck check_range_values(std::int64_t pmin, std::int64_t pmax)
{
    if (pmin < 0)
        return refuse(RangeCheck::Verdict::focus_lower, "at least 0");
    if (pmax <= 0)
        return refuse(RangeCheck::Verdict::focus_upper, "more than 0");
    if (pmin >= pmax)
        return refuse(RangeCheck::Verdict::focus_upper, "more than the lower end");
    if (pmax > kHighestEntryBillions * kBillion)
        return refuse(RangeCheck::Verdict::focus_upper, too_high());
    char question[300];
    std::snprintf(question, sizeof question,
                  "You are sieving from p=%" PRId64 " (%s) to p=%" PRId64 " (%s) - are you sure?", pmin,
                  value_in_words(pmin).c_str(), pmax, value_in_words(pmax).c_str());
    // p = 0 is a different job altogether: say what it does to the files.
    return {RangeCheck::Verdict::confirm, pmin, pmax, question + std::string(pmin == 0 ? kCreationNote : ""), {}};
}

bool parse_p_value(const std::string& text, std::int64_t& value)
{
    // Digits, an optional fraction and an optional exponent, shifted into
    // one string of digits so that no rounding can creep in.
    std::size_t i = 0;
    std::string digits;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9')
        digits += text[i++];
    std::size_t fraction = 0;
    if (i < text.size() && text[i] == '.') {
        for (++i; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++fraction)
            digits += text[i];
    }
    if (digits.empty())
        return false;
    long exponent = 0;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        const std::size_t start = ++i;
        if (i < text.size() && text[i] == '+')
            ++i;
        if (i == text.size())
            return false;
        for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
            exponent = exponent < 1000 ? exponent * 10 + (text[i] - '0') : exponent;
        if (i == start)
            return false;
    }
    if (i != text.size() || exponent > 40)
        return false;
    long shift = exponent - static_cast<long>(fraction);
    for (; shift < 0; ++shift) {
        if (digits.back() != '0')
            return false;   // not a whole number
        digits.pop_back();
    }
    digits.append(static_cast<std::size_t>(shift), '0');
    const ParsedInt parsed = parse_leading_int(digits.c_str());
    if (parsed.overflow)
        return false;
    value = parsed.value;
    return true;
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
