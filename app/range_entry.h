// The range dialog's rules: ends entered in whole billions, checked, shown
// in words for the confirmation; and the range line with its commas.
#pragma once

#include <cstdint>
#include <string>

namespace zud {

struct RangeCheck {
    enum class Verdict { focus_lower, focus_upper, confirm } verdict;
    std::int64_t pmin = 0;
    std::int64_t pmax = 0;
    std::string question;   // for confirm
    std::string reason;     // for a refusal: shown beside the refused field
};

// The highest upper end, in billions: the one place that sets the limit.
extern const std::int64_t kHighestEntryBillions;

// The OK operation on the two field texts (the dialog's and the console's).
// Each end is a whole number of billions written with digits alone: an
// empty field, a fraction, a separator or an exponent is refused with its
// reason, never read as something else. Entries whose product with
// 1,000,000,000 would overflow, and upper ends above 4,611,686,018 billion
// (beyond the engine's 2^62 - 1), are refused too.
RangeCheck check_range_entry(const std::string& lower, const std::string& upper);

// One end as typed: true with the number of billions, or false with the
// reason when the text is not a whole number of them.
bool parse_billions(const std::string& text, std::int64_t& billions, std::string& reason);
// Why a typed character cannot go into a range field; empty for a digit.
std::string refused_keystroke(char typed);
// The same rules on plain p values (the command line's --range).
RangeCheck check_range_values(std::int64_t pmin, std::int64_t pmax);

// A p value written with digits ("3000000000") or with an exponent ("3e9",
// "1.5e12"); nothing when it is not a whole number or does not fit.
bool parse_p_value(const std::string& text, std::int64_t& value);

// "%I64d" below 1,000,000; "%.0f billion" below 10^12; "%.3f trillion".
std::string value_in_words(std::int64_t v);

// "p=%s to p=%s" with a comma before every group of three digits.
std::string range_line(std::int64_t pmin, std::int64_t pmax);
std::string with_commas(std::int64_t v);

}  // namespace zud
