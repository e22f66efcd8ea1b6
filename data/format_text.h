// What the readers of the field's formats share: one line held at a time and
// checked for being text, numbers and number forms parsed whole, and
// refusals that name the line.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "data/file_io.h"

namespace zud::format_text {

// The lines of a text file, one at a time, with the line end removed.
class TextLines {
public:
    explicit TextLines(std::FILE* file) : file_(file) {}

    // False at the end of the file or at a line that is not text (a NUL
    // byte, CR LF, more than 1000 characters), or when reading fails; then
    // problem() says why (empty at a plain end).
    bool next(std::string& line);
    int number() const { return number_; }   // of the line last read
    const std::string& problem() const { return problem_; }

private:
    bool refuse(std::string why);

    std::FILE* file_;
    int number_ = 0;
    std::string problem_;
};

// Closes a stream when it goes.
class FileCloser {
public:
    explicit FileCloser(std::FILE* file) : file_(file) {}
    ~FileCloser() { std::fclose(file_); }
    FileCloser(const FileCloser&) = delete;
    FileCloser& operator=(const FileCloser&) = delete;

private:
    std::FILE* file_;
};

// Opens a regular file for reading; nullptr with `result` naming
// `shown_name` and the reason.
std::FILE* open_text(const std::string& path, const std::string& shown_name, FileResult& result);

bool blank(const std::string& line);
bool starts_with(const std::string& line, const char* prefix);
bool all_digits(const std::string& text);

// `count` signed decimal numbers separated by blanks and nothing else;
// empty, or why not.
std::string read_numbers(const std::string& line, std::size_t count, std::int64_t* values);

// Why `text` is not k*2^E+1 with E "$a" (or, `digit_exponent`, digits),
// k from 1 to 2^31 - 1; empty when it is. With `pairs`, "$a*2^$b+1" (k and n
// on the data lines) is taken too and sets `is_pairs`.
std::string form_refusal(const std::string& text, bool digit_exponent, bool pairs, std::int64_t& k,
                         bool& is_pairs);

// True when `s` holds nothing but blanks and perhaps a "//" comment.
bool only_comment(const char* s);

// The next word of `line` from `at` (blank-separated); `at` moves past it.
std::string next_word(const std::string& line, std::size_t& at);

// "'name' line N ("text"): why".
FileResult line_refused(const std::string& shown_name, int number, const std::string& why, const std::string& line);
// "'name' line N <problem>", for a file that is not text.
FileResult not_text(const std::string& shown_name, const TextLines& lines);

}  // namespace zud::format_text
