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
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "data/parse.h"

namespace zud {

namespace {

const char* const kCompletedQuestion =
    "There is a complete set of results in the file 'ZudStatus.dat' - have these been sent to the Zud "
    "team?\r\n\r\nNB If you say YES, a new range is started and this file is kept as 'ZudStatus.dat~'.";
const char* const kSendFirst = "Please send the results to the Zud team before starting a new sieve.";

bool starts_with(const char* line, const char* prefix)
{
    return std::strncmp(line, prefix, std::strlen(prefix)) == 0;
}

std::string without_line_end(const char* line)
{
    std::size_t length = std::strlen(line);
    if (length > 0 && line[length - 1] == '\n')
        --length;
    if (length > 0 && line[length - 1] == '\r')
        --length;
    return std::string(line, length);
}

FileResult write_result(int error_number)
{
    if (error_number == 0)
        return {};
    return {false, status_write_failure(error_number)};
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

StatusOutcome ask_completed(const StatusReadHooks& hooks, StatusRead& read)
{
    const BoxAnswer answer =
        hooks.box->show(kCompletedQuestion, BoxIcon::none, BoxButtons::yes_no, BoxAnswer::no);
    if (answer == BoxAnswer::yes) {
        read.pmin = read.pmax = 0;
        return StatusOutcome::cleared;
    }
    hooks.box->inform(kSendFirst);
    return StatusOutcome::refused;
}

void warn(const StatusReadHooks& hooks, const std::string& text)
{
    if (hooks.box != nullptr)
        hooks.box->warn(text);
}

// One line of the file below "pmax=" and "Done".
struct StatusLine {
    enum Kind { factor, checkpoint, other } kind = other;
    int number = 0;
    std::int64_t value = 0;   // the prime of a factor line, the value of a checkpoint
    std::pair<std::int32_t, std::int32_t> k_n{};
    std::string text;
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

StatusLine classify(const std::string& text, int number)
{
    StatusLine line;
    line.number = number;
    line.text = text;
    const char* begin = text.c_str();
    const char* end = begin + text.size();
    line.blank = std::all_of(begin, end, [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; });
    if (text.compare(0, 5, "pmin=") == 0) {
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

// What an interrupted write leaves of a record: the start of a factor line
// or of "pmin=", "pmax=" or "Done", not the whole of it.
bool cut_record(const std::string& tail)
{
    for (const char* record : {"pmin=", "pmax=", "Done"})
        if (tail.size() < std::strlen(record) && std::strncmp(record, tail.c_str(), tail.size()) == 0)
            return true;
    if (tail == "pmin=" || tail == "pmax=")
        return true;
    if (classify(tail, 0).kind != StatusLine::other ||
        (tail.compare(0, 5, "pmax=") == 0 && all_digits(tail.c_str() + 5, tail.c_str() + tail.size())))
        return false;
    return !tail.empty() && tail[0] >= '0' && tail[0] <= '9' &&
           tail.find_first_not_of("0123456789 |*^+") == std::string::npos;
}

std::string not_records_text(const std::vector<int>& numbers)
{
    std::string list;
    const std::size_t shown = numbers.size() < 20 ? numbers.size() : 20;
    for (std::size_t i = 0; i < shown; ++i)
        list += (i == 0 ? "" : ", ") + std::to_string(numbers[i]);
    if (shown < numbers.size())
        list += " and " + std::to_string(numbers.size() - shown) + " more";
    return std::string("The file 'ZudStatus.dat' has lines that are not records: ") +
           (numbers.size() == 1 ? "line " : "lines ") + list +
           ". They are kept as they are and do not move the resume point.";
}

const char* const kLeftUnchanged = " The file has been left unchanged.";

}  // namespace

std::string status_write_failure(int error_number)
{
    const std::string reason = error_number == EINVAL && !unusable_reason(kStatusFile).empty()
                                   ? unusable_reason(kStatusFile)
                                   : system_reason(error_number);
    return "The file 'ZudStatus.dat' could not be written (" + reason + ")!";
}

FileResult repair_status_file()
{
    if (file_kind(kStatusFile) != FileKind::regular)
        return {};
    const int fd = ::open(kStatusFile, O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return {false, status_write_failure(errno)};
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
        } else if (cut_record(tail)) {
            if (::ftruncate(fd, keep) != 0)
                error_number = errno;
        } else if (::pwrite(fd, "\n", 1, info.st_size) != 1) {
            error_number = errno;   // a whole record, or someone's note: ended, kept
        }
        if (error_number == 0 && ::fsync(fd) != 0)
            error_number = errno;
    }
    ::close(fd);
    return write_result(error_number);
}

StatusRead read_status_file(bool& echo, const StatusReadHooks& hooks)
{
    StatusRead read;
    const bool echoing = echo;
    echo = false;
    const std::string unusable = unusable_reason(kStatusFile);
    if (!unusable.empty()) {
        warn(hooks, "The file 'ZudStatus.dat' cannot be read - " + unusable + "!");
        read.outcome = StatusOutcome::unusable;
        return read;
    }
    std::FILE* file = open_for_reading(kStatusFile);
    if (file == nullptr) {
        if (errno != ENOENT) {
            warn(hooks, "The file 'ZudStatus.dat' cannot be read (" + system_reason(errno) + ")!");
            read.outcome = StatusOutcome::unusable;
        }
        return read;
    }
    // Whole lines of any length: a long note must not fall apart into
    // pieces that look like records.
    std::vector<StatusLine> lines;
    char* buffer = nullptr;
    std::size_t capacity = 0;
    int line_number = 0;
    int pmax_line = 0;
    std::string pmax_text;
    bool done = false;
    while (::getline(&buffer, &capacity, file) >= 0) {
        ++line_number;
        if (read_interrupted.load()) {
            std::free(buffer);
            std::fclose(file);
            read.outcome = StatusOutcome::unusable;
            return read;
        }
        const std::string text = without_line_end(buffer);
        if (starts_with(buffer, "pmax=")) {
            read.pmax = parse_int64(buffer + 5);
            pmax_line = line_number;
            pmax_text = text;
            continue;
        }
        if (starts_with(buffer, "Done")) {
            done = true;
            break;
        }
        lines.push_back(classify(text, line_number));
    }
    std::free(buffer);
    std::fclose(file);
    if (done) {
        // The results, in the log and for the caller, before the question
        // about them.
        for (const StatusLine& line : lines) {
            if (line.kind != StatusLine::factor)
                continue;
            read.factors.push_back(line.k_n);
            if (echoing && hooks.echo_line)
                hooks.echo_line(line.text);
        }
        read.outcome = ask_completed(hooks, read);
    }
    if (read.outcome == StatusOutcome::cleared) {
        // The completed file stays where it is until a new range is
        // confirmed (keep_completed_results): a cancelled range loses nothing.
        if (hooks.clear_log)
            hooks.clear_log();
        return read;
    }
    if (read.outcome != StatusOutcome::proceed)
        return read;
    const auto shown = [](const std::string& text) { return text.size() > 60 ? text.substr(0, 60) + "..." : text; };
    // A range that cannot be sieved, or factor lines that a new range's
    // header would overwrite: say so and touch nothing.
    if (pmax_line != 0 && read.pmax <= 0) {
        warn(hooks, "The file 'ZudStatus.dat' is damaged - line " + std::to_string(pmax_line) + " (\"" +
                        shown(pmax_text) + "\") does not give a valid range." + kLeftUnchanged);
        read.outcome = StatusOutcome::unusable;
        return read;
    }
    const bool any_factor = std::any_of(lines.begin(), lines.end(),
                                        [](const StatusLine& line) { return line.kind == StatusLine::factor; });
    if (pmax_line == 0) {
        if (any_factor) {
            warn(hooks, std::string("The file 'ZudStatus.dat' is damaged - it holds factor lines but no range (no "
                                    "\"pmax=\" line).") +
                            kLeftUnchanged);
            read.outcome = StatusOutcome::unusable;
        }
        return read;   // no range: the checkpoints of an initial creation are not offered
    }
    // Only records move the resume point: a factor line or a checkpoint
    // within the range. The first "pmin=" line is where the range began.
    std::int64_t range_pmin = -1;
    std::vector<int> not_records;
    for (const StatusLine& line : lines) {
        if (line.kind == StatusLine::other) {
            if (!line.blank)
                not_records.push_back(line.number);
            continue;
        }
        if (line.value > read.pmax) {
            warn(hooks, "The file 'ZudStatus.dat' is damaged - line " + std::to_string(line.number) + " (\"" +
                            shown(line.text) + "\") resumes above pmax." + kLeftUnchanged);
            read.outcome = StatusOutcome::unusable;
            return read;
        }
        if (range_pmin < 0 && line.kind == StatusLine::checkpoint) {
            range_pmin = line.value;
        } else if (line.value < range_pmin - (line.kind == StatusLine::checkpoint ? 1 : 0)) {
            // A stop records the prime before the first one not sieved.
            not_records.push_back(line.number);
            continue;
        }
        // A factor line resumes at its own prime: its other factors may not
        // all have been written; the recorded ones are left out.
        read.pmin = line.value;
        if (line.kind == StatusLine::factor) {
            read.factors.push_back(line.k_n);
            if (echoing && hooks.echo_line)
                hooks.echo_line(line.text);
        }
    }
    if (!not_records.empty() && hooks.box != nullptr)
        hooks.box->alert(not_records_text(not_records));
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

FileResult write_range_header(std::int64_t pmax, std::int64_t pmin)
{
    char text[100];
    std::snprintf(text, sizeof text, "pmax=%" PRId64 "\npmin=%" PRId64 "\n", pmax, pmin);
    return write_result(replace_whole(kStatusFile, text));
}

FileResult restore_status_file(std::int64_t pmax, std::int64_t pmin, const std::string& text)
{
    char header[100];
    std::snprintf(header, sizeof header, "pmax=%" PRId64 "\npmin=%" PRId64 "\n", pmax, pmin);
    return write_result(replace_whole(kStatusFile, header + text));
}

FileResult append_resume_point(std::int64_t p)
{
    return append_status_text(checkpoint_line(p), true);
}

FileResult write_stop_record(std::int64_t pmin, std::int64_t pmax)
{
    char text[100];
    std::snprintf(text, sizeof text, "pmin=%" PRId64 "\npmax=%" PRId64 "\n", pmin, pmax);
    return write_result(replace_whole(kStatusFile, text));
}

FileResult append_done()
{
    return append_status_text("Done\n", true);
}

FileResult write_done_initial()
{
    return write_result(replace_whole(kStatusFile, "Done"));
}

std::string read_status_text()
{
    std::FILE* file = open_for_reading(kStatusFile);
    if (file == nullptr)
        return {};
    std::string text;
    char piece[4096];
    for (std::size_t got; (got = std::fread(piece, 1, sizeof piece, file)) > 0;)
        text.append(piece, got);
    std::fclose(file);
    return text;
}

FileResult delete_status_file()
{
    if (std::remove(kStatusFile) != 0 && errno != ENOENT)
        return {false, "The file 'ZudStatus.dat' could not be deleted (" + system_reason(errno) + ")!"};
    return {};
}

FileResult append_exit_line(std::int64_t p)
{
    return append_status_text(checkpoint_line(p), true);
}

FileResult append_status_text(const std::string& text, bool durable)
{
    return write_result(append_whole(kStatusFile, text, durable));
}

FileResult keep_completed_results()
{
    // The backup before goes one step back rather than being lost.
    if (std::rename(kStatusBackup, kStatusBackup2) != 0 && errno != ENOENT)
        return {false, "The file 'ZudStatus.dat~' could not be kept as 'ZudStatus.dat~~' (" + system_reason(errno) +
                           ")! Nothing has been changed."};
    if (std::rename(kStatusFile, kStatusBackup) != 0 && errno != ENOENT)
        return {false, "The file 'ZudStatus.dat' could not be kept as 'ZudStatus.dat~' (" + system_reason(errno) +
                           ")! The new range has not been started."};
    sync_folder();
    return {true, {}};
}

}  // namespace zud
