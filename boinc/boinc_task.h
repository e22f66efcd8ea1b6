// A BOINC task, without the BOINC library: its command line and inputs, how
// each start continues what ZudStatus.dat records, and one exit code per
// input fault (the BOINC front end passes them to boinc_finish).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "data/data_folder.h"
#include "run/run_record.h"

namespace zud {

// Exit codes of a task that cannot go on; listed in the README.
enum class TaskFault : int {
    none = 0,
    candidate_file_missing = 11,   // "Zud.dat" is not there or cannot be read
    candidate_file_invalid = 12,   // its reader refused it (or it does not fit in memory)
    range_missing = 13,            // "range" is not there or cannot be read
    range_invalid = 14,            // not "pmin pmax" with 1 <= pmin <= pmax < 2^62
    status_file_damaged = 15,      // "ZudStatus.dat" unreadable, damaged or of another range
    status_file_unwritable = 16,   // it cannot be written, for a reason that will not pass
    verification_failed = 17,      // a reported factor failed its check
    engine_gave_up = 18,           // the sieve could not set itself up
    command_line = 19,             // an argument the BOINC mode does not know
};

// The BOINC mode's arguments: --boinc, --nthreads N.
struct TaskArguments {
    bool ok = true;
    int threads = 0;     // 0: not given
    std::string error;
};
TaskArguments parse_task_arguments(const std::vector<std::string>& args);

// Sieving threads: --nthreads, else the client's <ncpus>, else 1.
int task_threads(int from_arguments, double ncpus);

struct TaskRange {
    std::int64_t pmin = 0;
    std::int64_t pmax = 0;
    TaskFault fault = TaskFault::none;
    std::string message;
};
// "pmin pmax" on one line.
TaskRange read_range_file(const char* path);

struct TaskStart {
    enum class Kind {
        run,         // the record is ready: sieve it
        finished,    // "Done" is recorded: nothing left to do
        temporary,   // a fault that may pass (a full disk): try again later
        fault,       // `fault` with `message`
    } kind = Kind::run;
    TaskFault fault = TaskFault::none;
    std::string message;
    TaskRange range;   // the task's whole range
};

// Reads the range, "Zud.dat" and "ZudStatus.dat" (the files `folder`
// names) into `record`. The first start writes the range header; a later
// one resumes from the recorded point without the factors already
// recorded, as the desktop program does; a "Done" means finished.
TaskStart prepare_task(const DataFolder& folder, RunRecord& record, const char* range_path);

// A status-file failure that may pass by itself.
bool passing_failure(int error_number);

// Share of the task's range below `resume_p`, 0 .. 1.
double task_fraction(const TaskRange& range, std::int64_t resume_p);

}  // namespace zud
