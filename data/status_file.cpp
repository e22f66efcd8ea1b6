// Reading, repairing and writing "ZudStatus.dat".
#include "data/status_file.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cerrno>
#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

#include "data/parse.h"

namespace zud {

namespace {

FileResult write_result(const DataFolder& folder, int error_number)
{
    if (error_number == 0)
        return {};
    return {false, status_write_failure(folder, error_number), error_number};
}

// The status file's tail after its last line end, read backwards in pieces.
bool last_line_end(int fd, off_t size, off_t& keep)
{
    char piece[4096];
    off_t end = size;
    while (end > 0) {
        const off_t begin = end > static_cast<off_t>(sizeof piece) ? end - static_cast<off_t>(sizeof piece) : 0;
        const ssize_t got = ::pread(fd, piece, static_cast<std::size_t>(end - begin), begin);
        if (got != end - begin)
            return false;
        for (off_t i = got - 1; i >= 0; --i)
            if (piece[i] == '\n') {
                keep = begin + i + 1;
                return true;
            }
        end = begin;
    }
    keep = 0;
    return true;
}

StatusRead unusable_read(std::string damage)
{
    StatusRead read;
    read.unusable = true;
    read.damage = std::move(damage);
    return read;
}

// One line of the file but "pmax=", "Done" and "digest=".
struct StatusLine {
    enum Kind { factor, checkpoint, other } kind = other;
    std::int64_t value = 0;   // the prime of a factor line, the value of a checkpoint
    std::pair<std::int32_t, std::int32_t> k_n{};
    bool blank = false;
};

// Digits only, up to `end`, and at least one of them.
bool all_digits(const char* begin, const char* end)
{
    if (begin == end)
        return false;
    for (const char* c = begin; c != end; ++c)
        if (*c < '0' || *c > '9')
            return false;
    return true;
}

// The line from `begin` to `end`, which a line end or a NUL byte follows.
StatusLine classify(const char* begin, const char* end)
{
    StatusLine line;
    line.blank = std::all_of(begin, end, [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; });
    if (end - begin >= 5 && std::memcmp(begin, "pmin=", 5) == 0) {
        const ParsedInt value = parse_leading_int(begin + 5);
        if (all_digits(begin + 5, end) && !value.overflow) {
            line.kind = StatusLine::checkpoint;
            line.value = value.value;
        }
        return line;
    }
    // "p | k*2^n+1" and nothing else.
    while (begin < end && (*begin == ' ' || *begin == '\t'))
        ++begin;
    const char* at = begin;
    std::int64_t parts[3] = {0, 0, 0};
    const char* const separators[3] = {" | ", "*2^", "+1"};
    for (int i = 0; i < 3; ++i) {
        const char* digits = at;
        const ParsedInt value = parse_leading_int(digits);
        if (value.overflow || !all_digits(digits, value.end))
            return line;
        parts[i] = value.value;
        at = value.end;
        const std::size_t length = std::strlen(separators[i]);
        if (std::strncmp(at, separators[i], length) != 0)
            return line;
        at += length;
    }
    if (at != end || parts[0] < 2 || parts[1] < 1 || parts[1] > INT32_MAX || parts[2] < 1 || parts[2] > INT32_MAX)
        return line;
    line.kind = StatusLine::factor;
    line.value = parts[0];
    line.k_n = {static_cast<std::int32_t>(parts[1]), static_cast<std::int32_t>(parts[2])};
    return line;
}

// The start of a factor line "p | k*2^n+1" that goes on past its prime:
// digits alone may as well be someone's note (a year), which is kept.
bool cut_factor_line(const std::string& tail)
{
    const char* const parts[] = {"#", " | ", "#", "*2^", "#", "+1"};
    std::size_t at = 0;
    for (const char* part : parts) {
        if (at == tail.size())
            return at > 0 && tail[0] >= '0' && tail[0] <= '9' && tail.find(' ') != std::string::npos;
        if (part[0] == '#') {
            const std::size_t from = at;
            while (at < tail.size() && tail[at] >= '0' && tail[at] <= '9')
                ++at;
            if (at == from)
                return false;
            continue;
        }
        for (const char* c = part; *c != '\0'; ++c, ++at) {
            if (at == tail.size())
                return true;   // ends inside the separator, after the prime's blank
            if (tail[at] != *c)
                return false;
        }
    }
    return false;   // the whole line, or more than one
}

// Where the next record of the file may lie: from the last record before
// the tail (or the one before it, for a stop) to pmax; pmax < 0 when the
// file gives none.
struct NextRecord {
    std::int64_t from = 0;
    std::int64_t pmax = -1;
};

// Digits `digits` begin some number of [from, pmax].
bool begins_a_number_within(const std::string& digits, const NextRecord& next)
{
    if (digits.empty() || digits.size() > 19 || (digits[0] == '0' && digits.size() > 1))
        return false;
    __extension__ typedef __int128 Wide;
    Wide low = std::stoll(digits), width = 1;
    for (int more = 0; more <= 19 && low <= next.pmax; ++more, low *= 10, width *= 10)
        if (low + width - 1 >= next.from)
            return true;
    return false;
}

// What an interrupted write leaves of a record: the start of a factor line
// or of "pmin=", "pmax=" or "Done", not the whole of it. Digits alone (or
// after "pmin=") may as well be someone's note, a year, or a whole resume
// point: they are a cut record only when no whole line could mean them and
// they begin a number where the next record would lie.
bool cut_record(const std::string& tail, const NextRecord& next)
{
    for (const char* record : {"pmin=", "pmax=", "Done"})
        if (tail.size() < std::strlen(record) && std::strncmp(record, tail.c_str(), tail.size()) == 0)
            return true;
    if (tail == "pmin=" || tail == "pmax=" || cut_factor_line(tail))
        return true;
    const bool checkpoint = tail.compare(0, 5, "pmin=") == 0;
    const std::string digits = checkpoint ? tail.substr(5) : tail;
    if (next.pmax < 0 || digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    if (checkpoint && digits.size() < 19) {
        const std::int64_t value = std::stoll(digits);
        if (value >= next.from - 1 && value <= next.pmax)
            return false;   // whole as it stands
    }
    return begins_a_number_within(digits, next);
}

// pmax from the file's first lines and the value of its last whole line,
// when that is a record.
NextRecord next_record(int fd, off_t keep)
{
    NextRecord next;
    char head[4096];
    const ssize_t got = ::pread(fd, head, sizeof head - 1, 0);
    if (got > 0) {
        head[got] = '\0';
        for (const char* line = head; line != nullptr && line < head + got;) {
            if (std::strncmp(line, "pmax=", 5) == 0 || std::strncmp(line, "\xEF\xBB\xBFpmax=", 8) == 0) {
                const ParsedInt value = parse_leading_int(std::strchr(line, '=') + 1);
                next.pmax = value.overflow ? -1 : value.value;
                break;
            }
            line = std::strchr(line, '\n');
            line = line != nullptr ? line + 1 : nullptr;
        }
    }
    if (keep > 0) {
        const off_t begin = keep > 200 ? keep - 200 : 0;
        std::string last(static_cast<std::size_t>(keep - begin), '\0');
        if (::pread(fd, &last[0], last.size(), begin) == static_cast<ssize_t>(last.size())) {
            last.pop_back();   // its line end
            const std::size_t start = last.rfind('\n');
            if (start != std::string::npos || begin == 0) {
                last.erase(0, start == std::string::npos ? 0 : start + 1);
                if (!last.empty() && last.back() == '\r')
                    last.pop_back();
                const StatusLine line = classify(last.c_str(), last.c_str() + last.size());
                if (line.kind != StatusLine::other)
                    next.from = line.value;
            }
        }
    }
    return next;
}

std::string numbered_lines(const std::vector<int>& numbers)
{
    std::string list;
    const std::size_t shown = numbers.size() < 20 ? numbers.size() : 20;
    for (std::size_t i = 0; i < shown; ++i)
        list += (i == 0 ? "" : ", ") + std::to_string(numbers[i]);
    if (shown < numbers.size())
        list += " and " + std::to_string(numbers.size() - shown) + " more";
    return (numbers.size() == 1 ? "line " : "lines ") + list;
}

std::string not_records_text(const std::vector<int>& numbers)
{
    return "The file 'ZudStatus.dat' has lines that are not records: " + numbered_lines(numbers) +
           ". They are kept as they are and do not move the resume point.";
}

const char* const kLeftUnchanged = " The file has been left unchanged.";

}  // namespace

std::string status_write_failure(const DataFolder& folder, int error_number)
{
    const char* const status_file = folder.status_file().c_str();
    const std::string reason = error_number == EINVAL && !unusable_reason(status_file).empty()
                                   ? unusable_reason(status_file)
                                   : system_reason(error_number);
    return "The file 'ZudStatus.dat' could not be written (" + reason + ")!";
}

FileResult repair_status_file(const DataFolder& folder)
{
    const char* const status_file = folder.status_file().c_str();
    if (file_kind(status_file) != FileKind::regular)
        return {};
    const int fd = ::open(status_file, O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return {false, status_write_failure(folder, errno)};
    struct stat info {};
    off_t keep = 0;
    int error_number = 0;
    if (::fstat(fd, &info) != 0 || !last_line_end(fd, info.st_size, keep)) {
        error_number = errno != 0 ? errno : EIO;
    } else if (keep < info.st_size) {
        std::string tail(static_cast<std::size_t>(info.st_size - keep), '\0');
        if (::pread(fd, &tail[0], tail.size(), keep) != static_cast<ssize_t>(tail.size())) {
            error_number = errno != 0 ? errno : EIO;
        } else if (tail == "Done") {
            // as an initial creation writes it
        } else if (cut_record(tail, next_record(fd, keep))) {
            if (::ftruncate(fd, keep) != 0)
                error_number = errno;
        } else if (::pwrite(fd, "\n", 1, info.st_size) != 1) {
            error_number = errno;   // a whole record, or someone's note: ended, kept
        }
        if (error_number == 0 && sync_file(fd, status_file) != 0)
            error_number = errno;
    }
    ::close(fd);
    return write_result(folder, error_number);
}

namespace {

// A line that counts: the range's end, a resume point or a factor, or the
// end of the range; or a line meant as a factor line that does not read as one.
struct Record {
    enum Kind : std::uint8_t { pmax, checkpoint, factor, done, malformed } kind;
    int number;
    std::int64_t value;   // pmax, the checkpoint, or the factor's p
    std::int32_t k;
    std::int32_t n;
    std::size_t text_at;  // in the read's copy of the record lines
    std::size_t text_length;
};

constexpr std::int64_t kPLimit = std::int64_t{1} << 62;

// A line written as a factor line, whole or not: a number and a bar, or a
// power of 2 after a number or beside a bar. Taken for a note, its factor
// would be lost without a word.
bool meant_as_factor_line(const char* begin, const char* end)
{
    while (begin < end && (*begin == ' ' || *begin == '\t'))
        ++begin;
    const std::string_view line(begin, static_cast<std::size_t>(end - begin));
    const std::size_t digits = std::min(line.find_first_not_of("0123456789"), line.size());
    const std::size_t after = std::min(line.find_first_not_of(" \t", digits), line.size());
    const bool number_and_bar = digits > 0 && after < line.size() && line[after] == '|';
    const bool power = line.find("*2^") != std::string_view::npos;
    const bool bar = line.find('|') != std::string_view::npos;
    return number_and_bar || (power && (bar || digits > 0));
}

std::uint64_t k_n_key(std::int32_t k, std::int32_t n)
{
    return static_cast<std::uint64_t>(static_cast<std::uint32_t>(k)) << 32 | static_cast<std::uint32_t>(n);
}

// k value -> k indexes of the candidate set, sorted for lookup.
class CandidateLookup {
public:
    explicit CandidateLookup(const CandidateSet* set) : set_(set)
    {
        if (set_ == nullptr)
            return;
        for (std::int32_t i = 0; i < set_->kcount; ++i)
            by_k_.emplace_back(set_->k_values[static_cast<std::size_t>(i)], i);
        std::sort(by_k_.begin(), by_k_.end());
    }
    bool checks() const { return set_ != nullptr; }
    bool is_candidate(std::int32_t k, std::int32_t n) const
    {
        if (n < set_->nmin || n > set_->nmax)
            return false;
        for (auto it = std::lower_bound(by_k_.begin(), by_k_.end(), std::make_pair(k, INT32_MIN));
             it != by_k_.end() && it->first == k; ++it)
            if (set_->is_candidate(it->second, n))
                return true;
        return false;
    }

private:
    const CandidateSet* set_;
    std::vector<std::pair<std::int32_t, std::int32_t>> by_k_;
};

}  // namespace

StatusRead read_status_file(const DataFolder& folder, bool& echo, const StatusReadHooks& hooks)
{
    StatusRead read;
    const bool echoing = echo;
    echo = false;
    const std::string unusable = unusable_reason(folder.status_file().c_str());
    if (!unusable.empty())
        return unusable_read("The file 'ZudStatus.dat' cannot be read - " + unusable + "!");
    std::FILE* file = open_for_reading(folder.status_file().c_str());
    if (file == nullptr) {
        if (errno != ENOENT)
            return unusable_read("The file 'ZudStatus.dat' cannot be read (" + system_reason(errno) + ")!");
        return read;
    }
    std::vector<char> buffer_space(1 << 16);
    std::setvbuf(file, buffer_space.data(), _IOFBF, buffer_space.size());
    // Whole lines of any length: a long note must not fall apart into
    // pieces that look like records.
    std::vector<Record> records;
    std::string texts;   // the text of every record line, one after another
    // A dense range records a million lines: room for them at once.
    struct stat info {};
    if (::fstat(fileno(file), &info) == 0 && info.st_size > 0) {
        records.reserve(static_cast<std::size_t>(info.st_size / 16));
        texts.reserve(static_cast<std::size_t>(info.st_size));
    }
    std::vector<int> not_records;
    char* buffer = nullptr;
    std::size_t capacity = 0;
    int line_number = 0;
    ssize_t got;
    while ((got = ::getline(&buffer, &capacity, file)) >= 0) {
        ++line_number;
        if (read_interrupted.load(std::memory_order_relaxed)) {
            std::free(buffer);
            std::fclose(file);
            return unusable_read({});
        }
        const char* begin = buffer;
        const char* end = buffer + got;
        if (end > begin && end[-1] == '\n')
            --end;
        if (end > begin && end[-1] == '\r')
            --end;
        // An editor's byte order mark is no part of the first line.
        if (line_number == 1 && end - begin >= 3 && std::memcmp(begin, "\xEF\xBB\xBF", 3) == 0)
            begin += 3;
        const auto length = static_cast<std::size_t>(end - begin);
        // The work digest of a task belongs to the task's tools: kept, not read.
        if (length >= 7 && std::memcmp(begin, "digest=", 7) == 0)
            continue;
        Record record{Record::done, line_number, 0, 0, 0, texts.size(), length};
        if (length >= 5 && std::memcmp(begin, "pmax=", 5) == 0) {
            record.kind = Record::pmax;
            const ParsedInt value = parse_leading_int(begin + 5);
            record.value = all_digits(begin + 5, end) && !value.overflow && value.end == end ? value.value : -1;
        } else if (length == 4 && std::memcmp(begin, "Done", 4) == 0) {
            record.kind = Record::done;   // the range is complete: no record may follow it
        } else {
            const StatusLine line = classify(begin, end);
            if (line.kind == StatusLine::other && meant_as_factor_line(begin, end)) {
                // What an interrupted write left at the end is no damage: the
                // next write cuts it (repair_status_file), its prime is sieved again.
                if (buffer[got - 1] != '\n' && cut_factor_line(std::string(begin, end)))
                    continue;
                record.kind = Record::malformed;
                texts.append(begin, length);
                records.push_back(record);
                continue;
            }
            if (line.kind == StatusLine::other) {
                if (!line.blank)
                    not_records.push_back(line_number);
                continue;
            }
            record.kind = line.kind == StatusLine::factor ? Record::factor : Record::checkpoint;
            record.value = line.value;
            record.k = line.k_n.first;
            record.n = line.k_n.second;
        }
        texts.append(begin, length);
        records.push_back(record);
    }
    std::free(buffer);
    std::fclose(file);

    const auto text_of = [&texts](const Record& record) { return texts.substr(record.text_at, record.text_length); };
    const auto damaged = [&](const Record& record, const std::string& why) {
        return unusable_read("The file 'ZudStatus.dat' is damaged - line " + std::to_string(record.number) + " (\"" +
                             quoted_line(text_of(record), 60) + "\") " + why + kLeftUnchanged);
    };
    // The range: one "pmax=" line, below 2^62, and the first "pmin=" line,
    // where it began.
    const Record* pmax = nullptr;
    const Record* start = nullptr;
    const Record* done = nullptr;
    bool any_factor = false;
    for (const Record& record : records) {
        if (record.kind == Record::malformed)
            return damaged(record, "is not a factor line \"p | k*2^n+1\".");
        if (done != nullptr)
            return damaged(record, "comes after \"Done\" (line " + std::to_string(done->number) +
                                       "), which ends the range.");
        if (record.kind == Record::pmax) {
            if (pmax != nullptr)
                return damaged(record, "is a second \"pmax=\" line (line " + std::to_string(pmax->number) +
                                           " gives the range).");
            if (record.value <= 0 || record.value >= kPLimit)
                return damaged(record, "does not give a valid range (pmax from 1 to 2^62 - 1).");
            pmax = &record;
        } else if (record.kind == Record::checkpoint && start == nullptr) {
            start = &record;
        } else if (record.kind == Record::done) {
            done = &record;
        }
        any_factor = any_factor || record.kind == Record::factor;
    }
    if (pmax == nullptr) {
        if (any_factor)
            return unusable_read(std::string("The file 'ZudStatus.dat' is damaged - it holds factor lines but no "
                                             "range (no \"pmax=\" line).") +
                                 kLeftUnchanged);
        // No range: the checkpoints of an initial creation are not offered,
        // and its "Done" stands alone.
    } else {
        read.pmax = pmax->value;
        if (start == nullptr)
            return unusable_read("The file 'ZudStatus.dat' is damaged - it gives no \"pmin=\" line, so the range of "
                                 "line " + std::to_string(pmax->number) + " has no start." + kLeftUnchanged);
        // Every record as a run writes it: after the range header, ascending,
        // within the range, and each factor sound, as a new factor is.
        const CandidateLookup candidates(done == nullptr ? hooks.candidates : nullptr);
        std::unordered_map<std::uint64_t, const Record*> recorded;   // (k, n) -> its factor line
        recorded.reserve(records.size());
        std::vector<int> repeats;
        const int header_end = std::max(pmax->number, start->number);
        const Record* last = nullptr;   // the record that gives the resume point
        for (const Record& record : records) {
            if (record.kind == Record::pmax || record.kind == Record::done || &record == start) {
                if (&record == start) {
                    if (record.value > read.pmax)
                        return damaged(record, "resumes above pmax.");
                    last = &record;
                    read.pmin = record.value;
                }
                continue;
            }
            if (record.number < header_end)
                return damaged(record, "comes before the range header (\"pmax=\" and \"pmin=\").");
            if (record.kind == Record::factor) {
                const std::uint64_t key = k_n_key(record.k, record.n);
                const auto found = recorded.find(key);
                if (found != recorded.end() && found->second->value == record.value) {
                    repeats.push_back(record.number);   // the same line again: counted once
                    continue;
                }
                if (record.value < last->value)
                    return damaged(record, "goes back below line " + std::to_string(last->number) +
                                               ": the records of a range ascend.");
                if (record.value > read.pmax)
                    return damaged(record, "resumes above pmax.");
                if (hooks.factor_fault != nullptr) {
                    const std::string why = hooks.factor_fault(record.value, record.k, record.n);
                    if (!why.empty())
                        return damaged(record, "records no true factor: " + why + ".");
                }
                // A run records one factor of each number, never a second:
                // one after the first moves the resume point past primes
                // that were never sieved.
                if (found != recorded.end())
                    return damaged(record, "records " + std::to_string(record.k) + "*2^" +
                                               std::to_string(record.n) + "+1 a second time (line " +
                                               std::to_string(found->second->number) + " gives its factor " +
                                               std::to_string(found->second->value) +
                                               "): a range records one factor of each number.");
                if (candidates.checks() && !candidates.is_candidate(record.k, record.n))
                    return damaged(record, "names " + std::to_string(record.k) + "*2^" + std::to_string(record.n) +
                                               "+1, which is not a candidate of 'Zud.dat'.");
                recorded.emplace(key, &record);
                read.factors.emplace_back(record.k, record.n);
            } else {
                // A stop records the prime before the first one not sieved,
                // which may be the prime of the factor line before it.
                if (record.value < last->value - 1)
                    return damaged(record, "goes back below line " + std::to_string(last->number) +
                                               ": the records of a range ascend.");
                if (record.value > read.pmax)
                    return damaged(record, "resumes above pmax.");
            }
            last = &record;
            // A factor line resumes at its own prime: its other factors may
            // not all have been written; the recorded ones are left out.
            read.pmin = record.value;
        }
        if (echoing)
            for (const Record& record : records)
                if (record.kind == Record::factor)
                    read.echo_lines.push_back(text_of(record));
        if (!repeats.empty())
            read.notes.push_back("The file 'ZudStatus.dat' repeats factor lines of earlier lines: " +
                                 numbered_lines(repeats) + ". They are kept as they are and counted once.");
    }
    // A completed file is handed over whole: its other lines go with it.
    read.completed = done != nullptr;
    if (!read.completed && !not_records.empty())
        read.notes.push_back(not_records_text(not_records));
    return read;
}

std::string factor_line(std::int64_t p, std::int32_t k, std::int32_t n)
{
    std::string text;
    append_factor_line(text, p, k, n);
    return text;
}

namespace {

template <typename Int>
void append_decimal(std::string& out, Int value)
{
    char digits[24];
    const std::to_chars_result end = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, static_cast<std::size_t>(end.ptr - digits));
}

}  // namespace

void append_factor_line(std::string& out, std::int64_t p, std::int32_t k, std::int32_t n, const char* line_end)
{
    append_decimal(out, p);
    out += " | ";
    append_decimal(out, k);
    out += "*2^";
    append_decimal(out, n);
    out += "+1";
    out += line_end;
}

std::string checkpoint_line(std::int64_t p)
{
    char text[100];
    std::snprintf(text, sizeof text, "pmin=%" PRId64 "\n", p);
    return text;
}

FileResult write_range_header(const DataFolder& folder, std::int64_t pmax, std::int64_t pmin)
{
    char text[100];
    std::snprintf(text, sizeof text, "pmax=%" PRId64 "\npmin=%" PRId64 "\n", pmax, pmin);
    return write_result(folder, replace_whole(folder.status_file().c_str(), text));
}

FileResult restore_status_file(const DataFolder& folder, std::int64_t pmax, std::int64_t pmin, const std::string& text)
{
    char header[100];
    std::snprintf(header, sizeof header, "pmax=%" PRId64 "\npmin=%" PRId64 "\n", pmax, pmin);
    return write_result(folder, replace_whole(folder.status_file().c_str(), header + text));
}

FileResult append_resume_point(const DataFolder& folder, std::int64_t p)
{
    return append_status_text(folder, checkpoint_line(p), true);
}

FileResult write_stop_record(const DataFolder& folder, std::int64_t pmin, std::int64_t pmax)
{
    char text[100];
    std::snprintf(text, sizeof text, "pmin=%" PRId64 "\npmax=%" PRId64 "\n", pmin, pmax);
    return write_result(folder, replace_whole(folder.status_file().c_str(), text));
}

FileResult append_done(const DataFolder& folder)
{
    return append_status_text(folder, "Done\n", true);
}

FileResult write_done_initial(const DataFolder& folder)
{
    return write_result(folder, replace_whole(folder.status_file().c_str(), "Done"));
}

std::string read_status_text(const DataFolder& folder)
{
    std::FILE* file = open_for_reading(folder.status_file().c_str());
    if (file == nullptr)
        return {};
    std::string text;
    char piece[4096];
    for (std::size_t got; (got = std::fread(piece, 1, sizeof piece, file)) > 0;)
        text.append(piece, got);
    std::fclose(file);
    return text;
}

FileResult delete_status_file(const DataFolder& folder)
{
    if (std::remove(folder.status_file().c_str()) != 0 && errno != ENOENT)
        return {false, "The file 'ZudStatus.dat' could not be deleted (" + system_reason(errno) + ")!"};
    return {};
}

FileResult append_status_text(const DataFolder& folder, const std::string& text, bool durable)
{
    return write_result(folder, append_whole(folder.status_file().c_str(), text, durable));
}

FileResult keep_completed_results(const DataFolder& folder)
{
    // The backup before goes one step back rather than being lost.
    if (std::rename(folder.status_backup().c_str(), folder.status_backup2().c_str()) != 0 && errno != ENOENT)
        return {false, "The file 'ZudStatus.dat~' could not be kept as 'ZudStatus.dat~~' (" + system_reason(errno) +
                           ")! Nothing has been changed."};
    if (std::rename(folder.status_file().c_str(), folder.status_backup().c_str()) != 0 && errno != ENOENT)
        return {false, "The file 'ZudStatus.dat' could not be kept as 'ZudStatus.dat~' (" + system_reason(errno) +
                           ")! The new range has not been started."};
    sync_folder_holding(folder.status_file());
    return {true, {}};
}

}  // namespace zud
