// The plain formats that primality testers and other sieves read and write,
// for k*2^n+1 only: ABCD, ABC and NewPGen candidate files, and factor files
// of "p | k*2^n+1" lines.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "data/candidate_set.h"
#include "data/file_io.h"

namespace zud {

enum class CandidateFormat { abcd, abc, newpgen };

// "abcd", "abc" or "newpgen", in any case.
bool format_from_name(const std::string& name, CandidateFormat& format);

// Writes the candidates of `set` in `format`, each k once (the n of a k
// listed twice merged), k ascending, n ascending; a k without n is left
// out. `depth` is the p the set is sieved to. On failure the message names
// `shown_name` and the system's reason.
FileResult write_candidates(std::FILE* out, const CandidateSet& set, CandidateFormat format, std::int64_t depth,
                            const std::string& shown_name);

// Candidates read from one of the formats: per k, a bitmap of the n of
// [nmin, nmax] laid out as in the candidate set.
struct ImportedCandidates {
    std::int32_t nmin = 0;
    std::int32_t nmax = 0;
    std::map<std::int32_t, std::vector<std::uint32_t>> bitmaps;
    std::size_t lines = 0;   // n lines read, duplicates included
};

// Reads an ABCD, ABC or NewPGen file of k*2^n+1 (blocks of any of them may
// follow one another). Refuses, with a message naming the line, another
// form than k*2^n+1, an n outside [nmin, nmax], a difference that is not
// positive, a line that is not a number, CR LF line ends, NUL bytes and
// over-long lines; it reads no further than the first refused line and
// holds one line at a time.
FileResult read_candidates(const std::string& path, const std::string& shown_name, std::int32_t nmin,
                           std::int32_t nmax, ImportedCandidates& imported);

// The new candidate set: the k of `old` first, in its order, each with the
// imported n of its value (a k the file does not list keeps no n and is
// named in `kept_without_n`), then the file's other k ascending. `old` may
// be empty.
FileResult merge_candidates(const ImportedCandidates& imported, const CandidateSet& old, CandidateSet& merged,
                            std::vector<std::int32_t>& kept_without_n);

// One line of a factor file.
struct FactorLine {
    int line_number = 0;
    std::string text;        // the line without its line end
    std::int64_t p = 0;
    std::int32_t k = 0;
    std::int32_t n = 0;
    std::string refusal;     // why the line is not a factor line; empty when it is
};

// Calls `each` for every line of a factor file but blank lines and the
// status file's own records ("pmax=", "pmin=", a whole line "Done", a task's "digest="). Lines that are not
// "p | k*2^n+1" come with their refusal; the arithmetic is the caller's. A
// file that is not text (NUL bytes, over-long lines, CR LF line ends) fails
// the read where that shows: the caller then applies none of its lines.
FileResult read_factor_file(const std::string& path, const std::string& shown_name,
                            const std::function<void(const FactorLine&)>& each);

}  // namespace zud
