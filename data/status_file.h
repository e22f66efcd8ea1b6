// "ZudStatus.dat": the results handed to the Zud team and the resume record.
// Lines are only ever appended ("a") or the whole file replaced ("w"); the
// reader takes the last pmax and the last resume point.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "data/file_io.h"
#include "ui/message_box.h"

namespace zud {

enum class StatusOutcome {
    proceed,   // a recorded range (pmax != 0) resumes; pmax == 0 asks for a new one
    cleared,   // the user confirmed the hand-over; the file was deleted
    refused,   // results not yet handed over: no run
};

struct StatusRead {
    std::int64_t pmin = 0;
    std::int64_t pmax = 0;
    StatusOutcome outcome = StatusOutcome::proceed;
};

// What the read needs of the main window.
struct StatusReadHooks {
    std::function<void(const std::string&)> echo_line;   // log append, kind echoed line
    std::function<void()> clear_log;                      // empty the pane, clear the truncated flag
    MessageBox* box = nullptr;                            // the completed-results question
};

// Reads the file at Start. Factor lines are echoed while `echo` is set; it
// is cleared afterwards, whatever was read.
StatusRead read_status_file(bool& echo, const StatusReadHooks& hooks);

// Window-side writers: one open, one text, one close, no retry. A failure
// carries a warning that names the file and the reason.
FileResult write_range_header(std::int64_t pmax, std::int64_t pmin);     // "w"
FileResult append_resume_point(std::int64_t p);                          // "a", "pmin=" p
FileResult write_stop_record(std::int64_t pmin, std::int64_t pmax);      // "w", after an initial creation
FileResult append_done();                                                // "a", "Done\n"
FileResult write_done_initial();                                         // "w", "Done" alone
FileResult delete_status_file();
// The exit line: skipped when the file cannot be opened; the program ends anyway.
void append_exit_line(std::int64_t p);

// Worker-side writers: the open is retried every 10 ms until it succeeds.
void append_factor_line_retrying(std::int64_t p, std::int32_t k, std::int32_t n);
void append_checkpoint_retrying(std::int64_t p);

}  // namespace zud
