// Reading, repairing and writing "ZudStatus.dat".
#include "data/status_file.h"

#include <cctype>
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
    "team?\r\n\r\nNB If you say YES, the file will be overwritten and the data will be lost!";
const char* const kSendFirst = "Please send the results to the Zud team before starting a new sieve.";

bool starts_with(const char* line, const char* prefix)
{
    return std::strncmp(line, prefix, std::strlen(prefix)) == 0;
}

bool starts_with_integer(const char* line)
{
    while (std::isspace(static_cast<unsigned char>(*line)))
        ++line;
    if (*line == '+' || *line == '-')
        ++line;
    return *line >= '0' && *line <= '9';
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

bool whole_record(const std::string& tail)
{
    if (tail == "Done")
        return true;
    if (tail.compare(0, 5, "pmin=") != 0 && tail.compare(0, 5, "pmax=") != 0)
        return false;
    std::size_t i = 5;
    if (i < tail.size() && tail[i] == '-')
        ++i;
    if (i == tail.size())
        return false;
    for (; i < tail.size(); ++i)
        if (tail[i] < '0' || tail[i] > '9')
            return false;
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

// "p | k*2^n+1": the k and n, when the line has that shape.
bool parse_factor(const char* line, std::pair<std::int32_t, std::int32_t>& factor)
{
    const char* bar = std::strstr(line, " | ");
    if (bar == nullptr)
        return false;
    const ParsedInt k = parse_leading_int(bar + 3);
    if (k.overflow || k.value < 1 || k.value > INT32_MAX || std::strncmp(k.end, "*2^", 3) != 0)
        return false;
    const ParsedInt n = parse_leading_int(k.end + 3);
    if (n.overflow || n.value < 1 || n.value > INT32_MAX || std::strncmp(n.end, "+1", 2) != 0)
        return false;
    factor = {static_cast<std::int32_t>(k.value), static_cast<std::int32_t>(n.value)};
    return true;
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
        if (tail.size() <= 64 && ::pread(fd, &tail[0], tail.size(), keep) == static_cast<ssize_t>(tail.size()) &&
            whole_record(tail)) {
            if (tail != "Done" && ::pwrite(fd, "\n", 1, info.st_size) != 1)
                error_number = errno;
        } else if (::ftruncate(fd, keep) != 0) {
            error_number = errno;
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
    char line[1024];
    int line_number = 0;
    int pmax_line = 0;
    std::string pmax_text;
    bool factor_lines = false;
    while (std::fgets(line, sizeof line, file) != nullptr) {
        ++line_number;
        if (read_interrupted.load()) {
            std::fclose(file);
            read.outcome = StatusOutcome::unusable;
            return read;
        }
        // A last line without its line end is what an interrupted write
        // leaves: not a record (a lone "Done" aside).
        const bool complete = std::strchr(line, '\n') != nullptr || !std::feof(file);
        if (starts_with(line, "pmax=")) {
            read.pmax = parse_int64(line + 5);
            pmax_line = line_number;
            pmax_text = without_line_end(line);
        } else if (starts_with(line, "pmin=")) {
            read.pmin = parse_int64(line + 5);
        } else if (starts_with(line, "Done")) {
            read.outcome = ask_completed(hooks, read);
            break;
        } else if (starts_with_integer(line) && complete) {
            const std::int64_t p = parse_int64(line);
            read.pmin = p < INT64_MAX ? p + 1 : p;
            factor_lines = true;
            std::pair<std::int32_t, std::int32_t> factor;
            if (parse_factor(line, factor))
                read.factors.push_back(factor);
            if (echoing && hooks.echo_line)
                hooks.echo_line(without_line_end(line));
        }
    }
    std::fclose(file);
    if (read.outcome == StatusOutcome::cleared) {
        std::remove(kStatusFile);
        if (hooks.clear_log)
            hooks.clear_log();
        return read;
    }
    if (read.outcome != StatusOutcome::proceed)
        return read;
    // A range that cannot be sieved, or factor lines that a new range's
    // header would overwrite: say so and touch nothing.
    if (pmax_line != 0 && read.pmax <= 0) {
        warn(hooks, "The file 'ZudStatus.dat' is damaged - line " + std::to_string(pmax_line) + " (\"" + pmax_text +
                        "\") does not give a valid range." + kLeftUnchanged);
        read.outcome = StatusOutcome::unusable;
    } else if (pmax_line == 0 && factor_lines) {
        warn(hooks, std::string("The file 'ZudStatus.dat' is damaged - it holds factor lines but no range (no "
                                "\"pmax=\" line).") +
                        kLeftUnchanged);
        read.outcome = StatusOutcome::unusable;
    }
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

}  // namespace zud
