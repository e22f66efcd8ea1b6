// "Zud.dat" damaged in transit: thousands of mutated copies of a real file,
// each read by the program and by a strict reader written here from the
// format alone. The program may refuse only what the strict reader refuses,
// and what it accepts it must read as the strict reader does: a damaged
// file is never taken for another candidate set.
//
// No malformed file is accepted. Some damage leaves a well-formed file,
// which no reader of this format can tell from a sound one: a cut exactly at
// a line end inside the last list (its last n are simply gone), a digit
// turned into another digit, or a whole line deleted, repeated or swapped
// where the result still ascends. Both readers then read the same, other
// set, which is all the format allows.
#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <set>

#include "data/candidate_set.h"
#include "temp_dir.h"

namespace {

struct Candidates {
    std::int64_t nmin = 0;
    std::int64_t nmax = 0;
    std::vector<std::pair<std::int64_t, std::vector<std::int64_t>>> ks;
    bool operator==(const Candidates& o) const { return nmin == o.nmin && nmax == o.nmax && ks == o.ks; }
};

// The format as written: every line ends with "\n" ("\r\n" is taken too),
// blank lines mean nothing, and each other line is exactly digits, "+" and
// digits, or "k=" and digits, of 1 to 2^31 - 1 without a leading zero.
std::optional<Candidates> strict_read(const std::string& text)
{
    if (text.find('\0') != std::string::npos || (!text.empty() && text.back() != '\n'))
        return std::nullopt;
    struct Line {
        char kind;   // 'n', '+', 'k'
        std::int64_t value;
    };
    std::vector<Line> lines;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = text.find('\n', at);
        std::string line = text.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        char kind = 'n';
        std::size_t digits = 0;
        if (line.compare(0, 2, "k=") == 0) {
            kind = 'k';
            digits = 2;
        } else if (line[0] == '+') {
            kind = '+';
            digits = 1;
        }
        const std::string number = line.substr(digits);
        if (number.empty() || number.size() > 10 || number.find_first_not_of("0123456789") != std::string::npos ||
            number[0] == '0')
            return std::nullopt;
        const std::int64_t value = std::stoll(number);
        if (value < 1 || value > 2147483647)
            return std::nullopt;
        lines.push_back({kind, value});
    }
    if (lines.size() < 3 || lines[0].kind != 'n' || lines[1].kind != 'n' || lines[2].kind != 'n' ||
        lines[1].value > lines[2].value)
        return std::nullopt;
    Candidates set;
    set.nmin = lines[1].value;
    set.nmax = lines[2].value;
    std::set<std::int64_t> seen;
    std::size_t i = 3;
    for (std::int64_t block = 0; block < lines[0].value; ++block) {
        if (i == lines.size() || lines[i].kind != 'k' || !seen.insert(lines[i].value).second)
            return std::nullopt;
        set.ks.push_back({lines[i].value, {}});
        std::vector<std::int64_t>& ns = set.ks.back().second;
        for (++i; i < lines.size() && lines[i].kind != 'k'; ++i) {
            const std::int64_t n = lines[i].kind == '+' ? (ns.empty() ? -1 : ns.back() + lines[i].value) : lines[i].value;
            if (n < set.nmin || n > set.nmax || (!ns.empty() && n <= ns.back()))
                return std::nullopt;
            ns.push_back(n);
        }
    }
    if (i != lines.size())
        return std::nullopt;
    return set;
}

Candidates as_read(const zud::CandidateSet& set)
{
    Candidates read;
    read.nmin = set.nmin;
    read.nmax = set.nmax;
    for (std::int32_t i = 0; i < set.kcount; ++i) {
        read.ks.push_back({set.k_values[static_cast<std::size_t>(i)], {}});
        // Every bit of the bitmap, spare bits too: none may be set beyond nmax.
        for (std::int64_t d = 0; d < std::int64_t{set.words_per_k} * 32; ++d)
            if (set.bitmap(i)[d / 32] >> (d % 32) & 1u)
                read.ks.back().second.push_back(set.nmin + d);
    }
    return read;
}

std::vector<std::string> split_lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t at = 0;
    for (std::size_t end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
        lines.push_back(text.substr(at, end - at + 1));
    if (at < text.size())
        lines.push_back(text.substr(at));
    return lines;
}

std::string joined(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += line;
    return text;
}

std::string mutated(const std::string& original, std::mt19937& random, int kind)
{
    std::string text = original;
    const auto pick = [&random](std::size_t size) { return std::uniform_int_distribution<std::size_t>(0, size - 1)(random); };
    // Damage where it matters most as often as anywhere else: in the
    // header lines and in the "k=" lines.
    const auto position = [&](std::size_t size) {
        const std::size_t where = pick(10);
        if (where < 3)
            return pick(std::min<std::size_t>(size, 24));
        if (where < 5) {
            std::vector<std::size_t> headers;
            for (std::size_t at = text.find("k="); at != std::string::npos && at < size; at = text.find("k=", at + 1))
                headers.push_back(at);
            if (!headers.empty())
                return std::min(size - 1, headers[pick(headers.size())] + pick(5));
        }
        return pick(size);
    };
    static const std::string bytes = std::string("0123456789+-k= \t\r\n\x1b") + std::string(1, '\0') + "xl";
    std::vector<std::string> lines = split_lines(text);
    switch (kind) {
    case 0:   // a bit flipped
        text[position(text.size())] ^= static_cast<char>(1 << pick(8));
        return text;
    case 1:   // a byte inserted
        text.insert(position(text.size() + 1), 1, bytes[pick(bytes.size())]);
        return text;
    case 2:   // a byte deleted
        text.erase(position(text.size()), 1);
        return text;
    case 3:   // a line deleted
        lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(pick(lines.size())));
        return joined(lines);
    case 4: {   // a line duplicated
        const std::size_t at = pick(lines.size());
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), lines[at]);
        return joined(lines);
    }
    case 5:   // two lines swapped
        std::swap(lines[pick(lines.size())], lines[pick(lines.size())]);
        return joined(lines);
    default:   // cut short
        return text.substr(0, position(text.size()));
    }
}

class CandidateMutations : public zud_test::TempDirTest {};

TEST_F(CandidateMutations, a_damaged_file_is_refused_or_read_exactly_as_the_strict_reader_reads_it)
{
    // A real file, with a k without n in the middle and one at the end.
    std::string original = test_data("small_Zud.dat");
    original.replace(0, original.find('\n'), "5");
    const std::size_t second_k = original.find("k=", 5);
    original.insert(second_k, "k=13\n");
    original += "k=17\n";
    const std::optional<Candidates> sound = strict_read(original);
    ASSERT_TRUE(sound.has_value());
    zud::CandidateSet set;
    write_file("Zud.dat", original);
    ASSERT_TRUE(zud::read_candidate_file(zud::DataFolder(), set).ok);
    ASSERT_EQ(as_read(set), *sound);

    std::mt19937 random(25);
    int refused = 0, changed_but_well_formed = 0;
    for (int i = 0; i < 1400; ++i) {
        const std::string text = mutated(original, random, i % 7);
        const std::optional<Candidates> expected = strict_read(text);
        write_file("Zud.dat", text);
        const zud::FileResult read = zud::read_candidate_file(zud::DataFolder(), set);
        if (!expected) {
            ++refused;
            EXPECT_FALSE(read.ok) << "mutation " << i << " accepted:\n" << text;
            continue;
        }
        ASSERT_TRUE(read.ok) << "mutation " << i << ": " << read.message << "\n" << text;
        EXPECT_EQ(as_read(set), *expected) << "mutation " << i << ":\n" << text;
        changed_but_well_formed += *expected == *sound ? 0 : 1;
    }
    // Most damage shows; what does not is what no reader could see.
    EXPECT_GT(refused, 900);
    RecordProperty("refused", refused);
    RecordProperty("well_formed_other_set", changed_but_well_formed);
}

}  // namespace
