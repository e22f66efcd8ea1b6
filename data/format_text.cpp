// Reading the field's formats line by line, each line checked for being
// text and its numbers parsed whole.
#include "data/format_text.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <utility>

#include "data/parse.h"

namespace zud::format_text {

namespace {

// Longer lines are no line of these formats: a binary or runaway file is
// refused without being held in memory.
constexpr std::size_t kLongestLine = 1000;

FileResult fail(std::string message)
{
    return {false, std::move(message)};
}

std::string quoted(const std::string& line)
{
    return "\"" + quoted_line(line, 57) + "\"";
}

}  // namespace

bool TextLines::next(std::string& line)
{
    line.clear();
    ++number_;
    int c = 0;
    bool any = false;
    while ((c = getc_unlocked(file_)) != EOF) {
        any = true;
        if (c == '\n')
            break;
        if (c == '\0')
            return refuse("holds a NUL byte: it is not a text file");
        if (line.size() == kLongestLine)
            return refuse("is longer than 1000 characters: it is not a line of these formats");
        line += static_cast<char>(c);
    }
    if (std::ferror(file_))
        return refuse("could not be read (" + system_reason(errno) + ")");
    if (read_interrupted.load(std::memory_order_relaxed))
        return refuse("was not read to the end: the program was interrupted");
    if (!any)
        return false;
    if (!line.empty() && line.back() == '\r')
        return refuse("ends with a carriage return (CR LF line ends): convert the file to plain line feeds "
                      "first, for example with dos2unix");
    return true;
}

bool TextLines::refuse(std::string why)
{
    problem_ = std::move(why);
    return false;
}

std::FILE* open_text(const std::string& path, const std::string& shown_name, FileResult& result)
{
    std::FILE* file = open_for_reading(path.c_str());
    if (file == nullptr) {
        const std::string unusable = unusable_reason(path.c_str());
        result = fail("'" + shown_name + "' cannot be read (" +
                      (unusable.empty() ? system_reason(errno) : unusable) + ")");
    }
    return file;
}

bool blank(const std::string& line)
{
    return line.find_first_not_of(" \t") == std::string::npos;
}

bool starts_with(const std::string& line, const char* prefix)
{
    return line.compare(0, std::strlen(prefix), prefix) == 0;
}

std::string read_numbers(const std::string& line, std::size_t count, std::int64_t* values)
{
    const char* s = line.c_str();
    for (std::size_t i = 0; i < count; ++i) {
        while (*s == ' ' || *s == '\t')
            ++s;
        const ParsedInt number = parse_leading_int(s);
        const bool digits = number.end > s && number.end[-1] >= '0' && number.end[-1] <= '9';
        if (!digits || (*number.end != '\0' && *number.end != ' ' && *number.end != '\t'))
            return count == 1 ? "not a number" : "two numbers, k and n, were expected";
        if (number.overflow)
            return "the number is too large";
        values[i] = number.value;
        s = number.end;
    }
    while (*s == ' ' || *s == '\t')
        ++s;
    if (*s != '\0')
        return count == 1 ? "one number was expected" : "two numbers, k and n, were expected";
    return {};
}

bool all_digits(const std::string& text)
{
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

std::string form_refusal(const std::string& text, bool digit_exponent, bool pairs, std::int64_t& k, bool& is_pairs)
{
    is_pairs = false;
    if (text.find_first_of("/()") != std::string::npos)
        return "a divisor or bracket: only k*2^n+1 is sieved here";
    const std::size_t star = text.find('*');
    const std::size_t caret = text.find('^', star == std::string::npos ? 0 : star);
    const std::size_t sign = text.find_first_of("+-", caret == std::string::npos ? 0 : caret);
    if (star == std::string::npos || caret == std::string::npos || sign == std::string::npos)
        return "not of the form k*2^n+1";
    // "multiplier*base^exponent" and the constant with its sign
    const struct {
        std::string multiplier, base, exponent, constant;
    } form{text.substr(0, star), text.substr(star + 1, caret - star - 1), text.substr(caret + 1, sign - caret - 1),
           text.substr(sign)};
    if (form.base != "2")
        return "base " + form.base + ": only base 2 is sieved here";
    if (form.constant == "-1")
        return "the -1 form: only k*2^n+1 is sieved here";
    if (form.constant != "+1")
        return "the constant " + form.constant + ": only k*2^n+1 is sieved here";
    if (pairs && form.multiplier == "$a" && form.exponent == "$b") {
        is_pairs = true;
        return {};
    }
    if (digit_exponent ? !all_digits(form.exponent) : form.exponent != "$a")
        return digit_exponent ? "the exponent is not a number" : "$a is not the exponent";
    const ParsedInt value = parse_leading_int(form.multiplier.c_str());
    if (!all_digits(form.multiplier) || value.overflow || value.value < 1 || value.value > INT32_MAX)
        return "k must be a number from 1 to 2147483647";
    k = value.value;
    return {};
}

bool only_comment(const char* s)
{
    while (*s == ' ' || *s == '\t')
        ++s;
    return *s == '\0' || std::strncmp(s, "//", 2) == 0;
}

std::string next_word(const std::string& line, std::size_t& at)
{
    at = line.find_first_not_of(" \t", at);
    if (at == std::string::npos) {
        at = line.size();
        return {};
    }
    const std::size_t end = std::min(line.find_first_of(" \t", at), line.size());
    std::string word = line.substr(at, end - at);
    at = end;
    return word;
}

FileResult line_refused(const std::string& shown_name, int number, const std::string& why, const std::string& line)
{
    return fail("'" + shown_name + "' line " + std::to_string(number) + " (" + quoted(line) + "): " + why);
}

FileResult not_text(const std::string& shown_name, const TextLines& lines)
{
    return fail("'" + shown_name + "' line " + std::to_string(lines.number()) + " " + lines.problem());
}

}  // namespace zud::format_text
