// Status files damaged as an editor, a script or a bad disk damages them,
// made from the true factor lines of one uninterrupted run. Each front end
// must name the damage before anything else, change no file and run nothing.
#pragma once

#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

#include "reference.h"

namespace zud_test {

struct DamagedStatus {
    std::string what;      // the damage, for a failure's message
    std::string text;      // the whole status file
    std::string message;   // the whole damage message
};

inline std::string damage_message(int line, const std::string& text, const std::string& why)
{
    const std::string quoted = text.size() > 60 ? text.substr(0, 60) + "..." : text;
    return "The file 'ZudStatus.dat' is damaged - line " + std::to_string(line) + " (\"" + quoted + "\") " + why +
           " The file has been left unchanged.";
}

// `header` is "pmax=P\npmin=Q\n", `lines` the factor lines of that whole
// range in order (at least 20 of them, the last below pmax). A number with
// a second factor in the range is looked for among the first half; a range
// with none gives one case fewer.
inline std::vector<DamagedStatus> damaged_status_files(const std::string& header, const std::vector<std::string>& lines)
{
    const std::size_t half = lines.size() / 2;
    const auto join = [&lines](std::size_t from, std::size_t to) {
        std::string text;
        for (std::size_t i = from; i < to; ++i)
            text += lines[i] + "\n";
        return text;
    };
    const int first = 3;   // the line number of lines[0]
    const int at_half = first + static_cast<int>(half);
    const std::string first_half = header + join(0, half);
    const std::string not_factor = "is not a factor line \"p | k*2^n+1\".";
    const std::string done_ends = "), which ends the range.";
    const std::string cut = lines[half].substr(0, lines[half].rfind('+'));
    std::vector<DamagedStatus> cases = {
        {"Done before the end", first_half + "Done\n" + join(half, lines.size()),
         damage_message(at_half + 1, lines[half], "comes after \"Done\" (line " + std::to_string(at_half) + done_ends)},
        {"Done as line 1", "Done\n" + header + join(0, lines.size()),
         damage_message(2, header.substr(0, header.find('\n')), "comes after \"Done\" (line 1" + done_ends)},
        {"Done twice", header + join(0, lines.size()) + "Done\nDone\n",
         damage_message(first + static_cast<int>(lines.size()) + 1, "Done",
                        "comes after \"Done\" (line " + std::to_string(first + static_cast<int>(lines.size())) +
                            done_ends)},
        {"a line end lost, finished",
         first_half + lines[half] + lines[half + 1] + "\n" + join(half + 2, lines.size()) + "Done\n",
         damage_message(at_half, lines[half] + lines[half + 1], not_factor)},
        {"a line cut, finished", first_half + cut + "\n" + join(half + 1, lines.size()) + "Done\n",
         damage_message(at_half, cut, not_factor)},
        {"text after a factor line", first_half + lines[half] + "=0\n" + join(half + 1, lines.size()),
         damage_message(at_half, lines[half] + "=0", not_factor)},
    };
    // A true second factor of a number the first half records: above its
    // last prime, so that it would move the resume point past the rest.
    std::uint64_t pmax = 0, last_p = 0;
    std::sscanf(header.c_str(), "pmax=%" SCNu64, &pmax);
    std::sscanf(lines[half - 1].c_str(), "%" SCNu64, &last_p);
    const std::vector<std::uint64_t> primes = primes_below(pmax + 1);
    for (std::size_t i = 0; i < half; ++i) {
        std::uint64_t p = 0, k = 0, n = 0;
        std::sscanf(lines[i].c_str(), "%" SCNu64 " | %" SCNu64 "*2^%" SCNu64 "+1", &p, &k, &n);
        for (std::uint64_t q : primes)
            if (q > last_p && divides(q, k, n)) {
                const std::string number = std::to_string(k) + "*2^" + std::to_string(n) + "+1";
                const std::string second = std::to_string(q) + " | " + number;
                cases.push_back({"a second factor of one number", first_half + second + "\n",
                                 damage_message(at_half, second,
                                                "records " + number + " a second time (line " +
                                                    std::to_string(first + static_cast<int>(i)) +
                                                    " gives its factor " + std::to_string(p) +
                                                    "): a range records one factor of each number.")});
                return cases;
            }
    }
    return cases;
}

}  // namespace zud_test
