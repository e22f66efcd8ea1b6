// ABCD, ABC and NewPGen candidate files and factor files, read strictly:
// a file is taken whole or refused at its first doubtful line, so that an
// import never drops or invents a candidate.
#include "data/formats.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <climits>
#include <utility>

#include "data/format_text.h"
#include "data/parse.h"

namespace zud {

namespace {

using namespace format_text;

// What the candidate reader is in the middle of.
enum class Block { none, abcd, abc_one_k, abc_pairs, newpgen };

class CandidateReader {
public:
    CandidateReader(ImportedCandidates& out, std::int32_t nmin, std::int32_t nmax)
        : out_(out), words_((std::int64_t{nmax} - nmin + 1) / 32 + 1)
    {
        out_.nmin = nmin;
        out_.nmax = nmax;
    }

    // Empty when the line was taken, else why not.
    std::string take(const std::string& line)
    {
        if (starts_with(line, "ABCD ") || starts_with(line, "ABC "))
            return header(line);
        if (!line.empty() && line[0] >= '0' && line[0] <= '9' && line.find(':') != std::string::npos)
            return newpgen_header(line);
        std::int64_t values[2] = {0, 0};
        switch (block_) {
        case Block::none:
            return "a line before any header (\"ABCD k*2^$a+1 [n]\", \"ABC k*2^$a+1\" or a NewPGen header)";
        case Block::abcd:
            if (std::string why = read_numbers(line, 1, values); !why.empty())
                return why;
            if (values[0] <= 0)
                return "a difference must be positive";
            n_ = values[0] > INT32_MAX ? INT64_MAX : n_ + values[0];   // n_ is in range here
            return add(k_, n_);
        case Block::abc_one_k:
            if (std::string why = read_numbers(line, 1, values); !why.empty())
                return why;
            return add(k_, values[0]);
        case Block::abc_pairs:
        case Block::newpgen:
            if (std::string why = read_numbers(line, 2, values); !why.empty())
                return why;
            return add(values[0], values[1]);
        }
        return {};
    }

private:
    std::string header(const std::string& line)
    {
        const bool abcd = starts_with(line, "ABCD ");
        std::size_t at = abcd ? 5 : 4;
        const std::string text = next_word(line, at);
        bool pairs = false;
        if (std::string why = form_refusal(text, false, !abcd, k_, pairs); !why.empty())
            return why;
        if (!abcd) {
            block_ = pairs ? Block::abc_pairs : Block::abc_one_k;
            return only_comment(line.c_str() + at) ? std::string() : "an ABC header is \"ABC k*2^$a+1\"";
        }
        block_ = Block::abcd;
        const std::string first = next_word(line, at);
        const ParsedInt n0 = parse_leading_int(first.c_str() + (first.empty() ? 0 : 1));
        if (first.size() < 3 || first.front() != '[' || first.back() != ']' ||
            !all_digits(first.substr(1, first.size() - 2)) || !only_comment(line.c_str() + at))
            return "an ABCD header is \"ABCD k*2^$a+1 [n]\"";
        n_ = n0.overflow ? INT64_MAX : n0.value;
        return add(k_, n_);
    }

    std::string newpgen_header(const std::string& line)
    {
        std::vector<std::string> fields;
        for (std::size_t from = 0;;) {
            const std::size_t colon = line.find(':', from);
            fields.push_back(line.substr(from, colon - from));
            if (colon == std::string::npos)
                break;
            from = colon + 1;
        }
        while (!fields.back().empty() && (fields.back().back() == ' ' || fields.back().back() == '\t'))
            fields.back().pop_back();
        if (fields.size() != 5 || !all_digits(fields[0]) || !all_digits(fields[2]) || !all_digits(fields[4]))
            return "a NewPGen header is \"depth:P:1:2:257\"";
        if (parse_leading_int(fields[0].c_str()).overflow)
            return "the depth is too large for a p (at most 2^63 - 1)";
        if (fields[1] == "M")
            return "the -1 form (M): only k*2^n+1 (P) is sieved here";
        if (fields[1] != "P")
            return "the form " + fields[1] + ": only k*2^n+1 (P) is sieved here";
        if (fields[3] != "2")
            return "base " + fields[3] + ": only base 2 is sieved here";
        block_ = Block::newpgen;
        return {};
    }

    std::string add(std::int64_t k, std::int64_t n)
    {
        if (k < 1 || k > INT32_MAX)
            return "k must be a number from 1 to 2147483647";
        if (n < out_.nmin || n > out_.nmax)
            return "n=" + std::to_string(n) + " is outside the range of n, " + std::to_string(out_.nmin) + " to " +
                   std::to_string(out_.nmax);
        auto found = out_.bitmaps.find(static_cast<std::int32_t>(k));
        if (found == out_.bitmaps.end()) {
            const FileResult room = candidate_memory_check(
                static_cast<std::int64_t>(out_.bitmaps.size()) + 1, out_.nmin, out_.nmax);
            if (!room.ok)
                return room.message;
            found = out_.bitmaps.emplace(static_cast<std::int32_t>(k), std::vector<std::uint32_t>(words_)).first;
        }
        const auto d = static_cast<std::uint32_t>(n - out_.nmin);
        found->second[d / 32] |= 1u << (d % 32);
        ++out_.lines;
        return {};
    }

    ImportedCandidates& out_;
    std::size_t words_;
    Block block_ = Block::none;
    std::int64_t k_ = 0;
    std::int64_t n_ = 0;
};

// "p | k*2^n+1", with or without blanks around the bar.
std::string factor_refusal(FactorLine& line)
{
    const char* const shape = "not a factor line \"p | k*2^n+1\"";
    const ParsedInt p = parse_leading_int(line.text.c_str());
    if (p.end == line.text.c_str() || p.end[-1] < '0' || p.end[-1] > '9')
        return shape;
    std::size_t at = line.text.find_first_not_of(" \t", static_cast<std::size_t>(p.end - line.text.c_str()));
    if (at == std::string::npos || line.text[at] != '|')
        return shape;
    ++at;
    const std::string form = next_word(line.text, at);
    if (form.empty() || !next_word(line.text, at).empty())
        return shape;
    if (p.overflow || p.value < 2)
        return "p must be a number from 2 to 9223372036854775807";
    std::int64_t k = 0;
    bool pairs = false;
    if (std::string why = form_refusal(form, true, false, k, pairs); !why.empty())
        return why;
    const ParsedInt n = parse_leading_int(form.c_str() + form.find('^') + 1);
    if (n.overflow || n.value < 1 || n.value > INT32_MAX)
        return "n must be a number from 1 to 2147483647";
    line.p = p.value;
    line.k = static_cast<std::int32_t>(k);
    line.n = static_cast<std::int32_t>(n.value);
    return {};
}

}  // namespace

bool format_from_name(const std::string& given, CandidateFormat& format)
{
    std::string name = given;
    for (char& c : name)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (name == "abcd")
        format = CandidateFormat::abcd;
    else if (name == "abc")
        format = CandidateFormat::abc;
    else if (name == "newpgen")
        format = CandidateFormat::newpgen;
    else
        return false;
    return true;
}

FileResult write_candidates(std::FILE* out, const CandidateSet& set, CandidateFormat format, std::int64_t depth,
                            const std::string& shown_name)
{
    std::vector<std::pair<std::int32_t, std::int32_t>> order;   // (k, index)
    for (std::int32_t i = 0; i < set.kcount; ++i)
        order.emplace_back(set.k_values[static_cast<std::size_t>(i)], i);
    std::sort(order.begin(), order.end());
    if (format == CandidateFormat::abc)
        std::fprintf(out, "ABC $a*2^$b+1 // Sieved to %" PRId64 "\n", depth);
    else if (format == CandidateFormat::newpgen)
        std::fprintf(out, "%" PRId64 ":P:1:2:257\n", depth);
    for (std::size_t first = 0; first < order.size();) {
        const std::int32_t k = order[first].first;
        std::size_t last = first;
        while (last < order.size() && order[last].first == k)
            ++last;
        std::int64_t previous = -1;
        for (std::int32_t w = 0; w < set.words_per_k; ++w) {
            std::uint32_t word = 0;
            for (std::size_t i = first; i < last; ++i)
                word |= set.bitmap(order[i].second)[w];
            for (; word != 0; word &= word - 1) {
                const std::int64_t n = set.nmin + std::int64_t{w} * 32 + __builtin_ctz(word);
                if (n > set.nmax)
                    break;
                if (format != CandidateFormat::abcd)
                    std::fprintf(out, "%d %" PRId64 "\n", k, n);
                else if (previous < 0)
                    std::fprintf(out, "ABCD %d*2^$a+1 [%" PRId64 "] // Sieved to %" PRId64 "\n", k, n, depth);
                else
                    std::fprintf(out, "%" PRId64 "\n", n - previous);
                previous = n;
            }
        }
        first = last;
    }
    if (std::fflush(out) != 0 || std::ferror(out))
        return {false, "'" + shown_name + "' could not be written (" + system_reason(errno) + ")"};
    return {};
}

FileResult read_candidates(const std::string& path, const std::string& shown_name, std::int32_t nmin,
                           std::int32_t nmax, ImportedCandidates& imported)
{
    imported = ImportedCandidates{};
    FileResult opened;
    std::FILE* file = open_text(path, shown_name, opened);
    if (file == nullptr)
        return opened;
    FileCloser closer(file);
    TextLines lines(file);
    CandidateReader reader(imported, nmin, nmax);
    std::string line;
    while (lines.next(line)) {
        if (blank(line))
            continue;
        if (std::string why = reader.take(line); !why.empty())
            return line_refused(shown_name, lines.number(), why, line);
    }
    if (!lines.problem().empty())
        return not_text(shown_name, lines);
    return {};
}

FileResult merge_candidates(const ImportedCandidates& imported, const CandidateSet& old, CandidateSet& merged,
                            std::vector<std::int32_t>& kept_without_n)
{
    kept_without_n.clear();
    std::vector<std::int32_t> order(old.k_values.begin(), old.k_values.end());
    std::vector<std::int32_t> sorted_old = order;
    std::sort(sorted_old.begin(), sorted_old.end());
    for (const auto& entry : imported.bitmaps)
        if (!std::binary_search(sorted_old.begin(), sorted_old.end(), entry.first))
            order.push_back(entry.first);
    if (FileResult r = allocate_candidate_set(merged, static_cast<std::int64_t>(order.size()), imported.nmin,
                                              imported.nmax);
        !r.ok)
        return r;
    for (std::size_t i = 0; i < order.size(); ++i) {
        merged.k_values[i] = order[i];
        const auto found = imported.bitmaps.find(order[i]);
        if (found == imported.bitmaps.end())
            kept_without_n.push_back(order[i]);
        else
            std::copy(found->second.begin(), found->second.end(), merged.bitmap(static_cast<std::int32_t>(i)));
    }
    return {};
}

FileResult read_factor_file(const std::string& path, const std::string& shown_name,
                            const std::function<void(const FactorLine&)>& each)
{
    FileResult opened;
    std::FILE* file = open_text(path, shown_name, opened);
    if (file == nullptr)
        return opened;
    FileCloser closer(file);
    TextLines lines(file);
    FactorLine line;
    while (lines.next(line.text)) {
        if (blank(line.text) || starts_with(line.text, "pmax=") || starts_with(line.text, "pmin=") ||
            line.text == "Done" || starts_with(line.text, "digest="))
            continue;
        line.line_number = lines.number();
        line.refusal = factor_refusal(line);
        each(line);
    }
    if (!lines.problem().empty())
        return not_text(shown_name, lines);
    return {};
}

}  // namespace zud
