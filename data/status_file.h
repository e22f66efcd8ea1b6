// "ZudStatus.dat": the results handed to the Zud team and the resume record.
// Lines are only ever appended whole or the whole file replaced; the reader
// takes the last pmax and the last resume point.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "data/candidate_set.h"
#include "data/data_folder.h"
#include "data/file_io.h"

namespace zud {

// What the file says. The reader shows nothing and asks nothing: each front
// end tells and asks its user from these facts.
struct StatusRead {
    std::int64_t pmin = 0;   // the resume point
    std::int64_t pmax = 0;   // the recorded range's end; 0: no range
    // A "Done" line ends the range: its results wait to be handed over
    // before a new range may start.
    bool completed = false;
    // Not readable or damaged: nothing may run. `damage` names the file and
    // why, and that it was left unchanged; empty when the read was
    // interrupted (read_interrupted).
    bool unusable = false;
    std::string damage;
    // What is worth telling of a usable file, in order: factor lines that
    // repeat earlier ones, then (unless completed) lines that are not records.
    std::vector<std::string> notes;
    // The text of every factor line, read while `echo` was set.
    std::vector<std::string> echo_lines;
    // Every factor the file records for its range: a resumed run leaves
    // these n out, as the run before the stop had done.
    std::vector<std::pair<std::int32_t, std::int32_t>> factors;   // (k, n)
};

// What the records are checked against.
struct StatusReadHooks {
    // Every factor line is checked as a new factor is: `factor_fault` says
    // why p proves nothing about k*2^n+1 ("" when it is a prime factor),
    // and an unfinished range must name candidates of `candidates`. Without
    // them only the form and order of the lines are checked.
    std::string (*factor_fault)(std::int64_t p, std::int32_t k, std::int32_t n) = nullptr;
    const CandidateSet* candidates = nullptr;
};

// Mends a last line without its line end: what an interrupted write left
// of a record is cut, anything else (a whole record, someone's note) gets
// its line end. Call before anything else touches the file.
FileResult repair_status_file(const DataFolder& folder);

// Reads the file at Start. Only records count: one "pmax=" line below 2^62,
// a factor line "p | k*2^n+1" or a "pmin=" line of digits, within the range
// and ascending, each number with one factor; the last one is the resume
// point (a factor line's p itself, since the rest of its prime may not have
// been written), and only a whole line "Done", the last record, ends the
// range. Other lines are kept and named once in the notes, as are factor
// lines that repeat an earlier one (counted once); "digest=" lines are a
// task's own and pass silently. A record that breaks these rules, a record
// after "Done", and a line meant as a factor line that does not read as one
// are damage, finished range or not: named with the reason, nothing changes.
// The factor lines' texts are returned while `echo` is set; it is cleared
// afterwards, whatever was read.
StatusRead read_status_file(const DataFolder& folder, bool& echo, const StatusReadHooks& hooks);

// The texts of the file's lines.
std::string factor_line(std::int64_t p, std::int32_t k, std::int32_t n);   // with its line end
// Appends "p | k*2^n+1" and `line_end`: the factor line's text, made
// without printf, since a dense range records a million lines a second.
void append_factor_line(std::string& out, std::int64_t p, std::int32_t k, std::int32_t n,
                        const char* line_end = "\n");
std::string checkpoint_line(std::int64_t p);                               // "pmin=p\n"

// Window-side writers. Appends are whole and reach the disk before they
// return; replacements never leave a half-written file. A failure carries
// a warning that names the file and the reason.
FileResult write_range_header(const DataFolder& folder, std::int64_t pmax, std::int64_t pmin);
FileResult append_resume_point(const DataFolder& folder, std::int64_t p);                       // "pmin=" p
FileResult write_stop_record(const DataFolder& folder, std::int64_t pmin, std::int64_t pmax); // after an initial creation
FileResult append_done(const DataFolder& folder);                                              // "Done\n"
FileResult write_done_initial(const DataFolder& folder);                                      // "Done" alone
FileResult delete_status_file(const DataFolder& folder);
// The completed file becomes "ZudStatus.dat~", once a new range is
// confirmed; the backup before it "ZudStatus.dat~~".
FileResult keep_completed_results(const DataFolder& folder);
// The whole text of "ZudStatus.dat" (what is handed to the Zud team); empty
// when it cannot be read.
std::string read_status_text(const DataFolder& folder);

// The run's writer: factor lines and checkpoints, all of `text` or none of
// it. `durable`: on disk before it returns.
FileResult append_status_text(const DataFolder& folder, const std::string& text, bool durable);

// A status file that vanished during a run, written again: the range header
// (pmax, pmin) and then `text`.
FileResult restore_status_file(const DataFolder& folder, std::int64_t pmax, std::int64_t pmin, const std::string& text);

// "The file 'ZudStatus.dat' could not be written (reason)!"
std::string status_write_failure(const DataFolder& folder, int error_number);

}  // namespace zud
