// Reading and writing "ZudStatus.dat".
#include "data/status_file.h"

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <thread>

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

FileResult write_failed(int error_number)
{
    return {false, "The file 'ZudStatus.dat' could not be written (" + system_reason(error_number) + ")!"};
}

FileResult write_text(const char* mode, const char* text)
{
    std::FILE* file = open_file(kStatusFile, mode);
    if (file == nullptr)
        return write_failed(errno);
    const bool written = std::fputs(text, file) >= 0;
    const int error_number = errno;
    if (std::fclose(file) != 0 || !written)
        return write_failed(written ? errno : error_number);
    return {};
}

void append_retrying(const char* text)
{
    std::FILE* file;
    while ((file = open_file(kStatusFile, "a")) == nullptr)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::fputs(text, file);
    std::fclose(file);
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

}  // namespace

StatusRead read_status_file(bool& echo, const StatusReadHooks& hooks)
{
    StatusRead read;
    std::FILE* file = open_file(kStatusFile, "r");
    if (file == nullptr) {
        echo = false;
        return read;
    }
    char line[1024];
    while (std::fgets(line, sizeof line, file) != nullptr) {
        if (starts_with(line, "pmax=")) {
            read.pmax = parse_int64(line + 5);
        } else if (starts_with(line, "pmin=")) {
            read.pmin = parse_int64(line + 5);
        } else if (starts_with(line, "Done")) {
            read.outcome = ask_completed(hooks, read);
            break;
        } else if (starts_with_integer(line)) {
            const std::int64_t p = parse_int64(line);
            read.pmin = p < INT64_MAX ? p + 1 : p;
            if (echo && hooks.echo_line)
                hooks.echo_line(without_line_end(line));
        }
    }
    std::fclose(file);
    if (read.outcome == StatusOutcome::cleared) {
        std::remove(kStatusFile);
        if (hooks.clear_log)
            hooks.clear_log();
    }
    echo = false;
    return read;
}

FileResult write_range_header(std::int64_t pmax, std::int64_t pmin)
{
    char text[100];
    std::snprintf(text, sizeof text, "pmax=%" PRId64 "\npmin=%" PRId64 "\n", pmax, pmin);
    return write_text("w", text);
}

FileResult append_resume_point(std::int64_t p)
{
    char text[100];
    std::snprintf(text, sizeof text, "pmin=%" PRId64 "\n", p);
    return write_text("a", text);
}

FileResult write_stop_record(std::int64_t pmin, std::int64_t pmax)
{
    char text[100];
    std::snprintf(text, sizeof text, "pmin=%" PRId64 "\npmax=%" PRId64 "\n", pmin, pmax);
    return write_text("w", text);
}

FileResult append_done()
{
    return write_text("a", "Done\n");
}

FileResult write_done_initial()
{
    return write_text("w", "Done");
}

FileResult delete_status_file()
{
    if (std::remove(kStatusFile) != 0 && errno != ENOENT)
        return {false, "The file 'ZudStatus.dat' could not be deleted (" + system_reason(errno) + ")!"};
    return {};
}

void append_exit_line(std::int64_t p)
{
    char text[100];
    std::snprintf(text, sizeof text, "pmin=%" PRId64 "\n", p);
    write_text("a", text);
}

void append_factor_line_retrying(std::int64_t p, std::int32_t k, std::int32_t n)
{
    char text[100];
    std::snprintf(text, sizeof text, "%" PRId64 " | %d*2^%d+1\n", p, k, n);
    append_retrying(text);
}

void append_checkpoint_retrying(std::int64_t p)
{
    char text[100];
    std::snprintf(text, sizeof text, "pmin=%" PRId64 "\n", p);
    append_retrying(text);
}

}  // namespace zud
