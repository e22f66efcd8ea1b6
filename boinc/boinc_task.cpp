// A BOINC task's inputs and the rules of its starts.
#include "boinc/boinc_task.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "data/candidate_set.h"
#include "data/digest_line.h"
#include "data/file_io.h"
#include "data/parse.h"
#include "data/status_file.h"
#include "run/factor_check.h"
#include "run/status_journal.h"

namespace zud {

namespace {

constexpr std::int64_t kHighestP = (std::int64_t{1} << 62) - 1;

TaskStart stop_with(TaskFault fault, std::string message)
{
    TaskStart start;
    start.kind = TaskStart::Kind::fault;
    start.fault = fault;
    start.message = std::move(message);
    return start;
}

TaskStart read_candidates(const DataFolder& folder, RunRecord& record)
{
    std::FILE* probe = open_for_reading(folder.candidate_file().c_str());
    if (probe == nullptr) {
        const std::string unusable = unusable_reason(folder.candidate_file().c_str());
        return stop_with(TaskFault::candidate_file_missing,
                         "The file 'Zud.dat' cannot be read (" +
                             (unusable.empty() ? system_reason(errno) : unusable) + ")!");
    }
    std::fclose(probe);
    const FileResult read = read_candidate_file(folder, record.candidates);
    if (!read.ok)
        return stop_with(TaskFault::candidate_file_invalid, read.message);
    return {};
}

}  // namespace

TaskArguments parse_task_arguments(const std::vector<std::string>& args)
{
    TaskArguments parsed;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--boinc")
            continue;
        if (args[i] == "--nthreads" && i + 1 < args.size()) {
            const ParsedInt n = parse_leading_int(args[++i].c_str());
            if (n.overflow || *n.end != '\0' || n.value < 1 || n.value > 1024) {
                parsed.ok = false;
                parsed.error = "--nthreads takes a number of threads from 1 to 1024, not '" + args[i] + "'";
                return parsed;
            }
            parsed.threads = static_cast<int>(n.value);
            continue;
        }
        parsed.ok = false;
        parsed.error = "unknown argument '" + args[i] + "' (the BOINC mode takes --nthreads N)";
        return parsed;
    }
    return parsed;
}

int task_threads(int from_arguments, double ncpus)
{
    if (from_arguments > 0)
        return from_arguments;
    if (ncpus >= 1 && ncpus <= 1024)
        return static_cast<int>(ncpus);
    return 1;
}

TaskRange read_range_file(const char* path)
{
    TaskRange range;
    std::FILE* file = open_for_reading(path);
    if (file == nullptr) {
        range.fault = TaskFault::range_missing;
        range.message = "The file 'range' cannot be read (" + system_reason(errno) + ")!";
        return range;
    }
    char text[256] = {};
    const std::size_t got = std::fread(text, 1, sizeof text - 1, file);
    const bool longer = std::fgetc(file) != EOF;
    std::fclose(file);
    text[got] = '\0';
    const ParsedInt pmin = parse_leading_int(text);
    const ParsedInt pmax = parse_leading_int(pmin.end);
    const char* rest = pmax.end;
    while (*rest == ' ' || *rest == '\t' || *rest == '\r' || *rest == '\n')
        ++rest;
    const bool shaped = !longer && pmin.end != text && pmax.end != pmin.end && *rest == '\0' &&
                        std::strlen(text) == got && (*pmin.end == ' ' || *pmin.end == '\t');
    if (!shaped || pmin.overflow || pmax.overflow || pmin.value < 1 || pmax.value < pmin.value ||
        pmax.value > kHighestP) {
        range.fault = TaskFault::range_invalid;
        range.message = "The file 'range' is invalid - it must hold \"pmin pmax\" with 1 <= pmin <= pmax < 2^62!";
        return range;
    }
    range.pmin = pmin.value;
    range.pmax = pmax.value;
    return range;
}

TaskStart prepare_task(const DataFolder& folder, RunRecord& record, const char* range_path)
{
    const TaskRange range = read_range_file(range_path);
    if (range.fault != TaskFault::none)
        return stop_with(range.fault, range.message);
    const FileResult repaired = StatusJournal::mend(folder);
    if (!repaired.ok)
        return stop_with(TaskFault::status_file_unwritable, repaired.message);
    TaskStart start = read_candidates(folder, record);
    if (start.kind != TaskStart::Kind::run)
        return start;
    start.range = range;
    StatusReadHooks hooks;
    hooks.factor_fault = factor_fault;
    hooks.candidates = &record.candidates;
    bool echo = false;
    const StatusRead status = read_status_file(folder, echo, hooks);
    if (status.unusable)
        return stop_with(TaskFault::status_file_damaged, status.damage);
    // Notes in the file are the volunteer's business: say so and go on.
    for (const std::string& note : status.notes)
        std::fprintf(stderr, "%s\n", note.c_str());
    // Nobody can answer a question on a volunteer's machine: a recorded
    // "Done" means the task is finished.
    if (status.completed) {
        start.kind = TaskStart::Kind::finished;
        return start;
    }
    record.pmax = range.pmax;
    record.digest_wanted = true;
    record.digest = WorkDigest();
    if (status.pmax == 0) {
        const FileResult header = StatusJournal::begin_range(folder, range.pmax, range.pmin);
        if (!header.ok) {
            const bool passing = passing_failure(header.error_number);
            start = stop_with(passing ? TaskFault::none : TaskFault::status_file_unwritable, header.message);
            if (passing)
                start.kind = TaskStart::Kind::temporary;
            return start;
        }
        record.pmin = range.pmin;
        return start;
    }
    if (status.pmax != range.pmax || status.pmin < range.pmin - 1 || status.pmin > range.pmax + 1) {
        char text[300];
        std::snprintf(text, sizeof text,
                      "The file 'ZudStatus.dat' records the range to p=%" PRId64 " at p=%" PRId64
                      ", which is not the task's range p=%" PRId64 " to p=%" PRId64 "!",
                      status.pmax, status.pmin, range.pmin, range.pmax);
        return stop_with(TaskFault::status_file_damaged, text);
    }
    // What the range has already found stays found. The work digest must
    // cover every prime of the range, so the sieve goes on from the last
    // digest line (the primes after it are searched again, without the
    // factors recorded since) or from the start of the range.
    record.candidates.remove(status.factors);
    record.pmin = range.pmin;
    DigestPoint point;
    if (last_digest_point(folder.status_file().c_str(), point) && point.below >= range.pmin && point.below <= range.pmax + 1 &&
        point.below <= (status.pmin < range.pmin ? range.pmin : status.pmin) + 1) {
        record.pmin = point.below;
        record.digest = point.digest;
    }
    record.recorded_p = status.pmin;
    return start;
}

bool passing_failure(int error_number)
{
    return error_number == ENOSPC || error_number == EDQUOT;
}

double task_fraction(const TaskRange& range, std::int64_t resume_p)
{
    if (resume_p <= range.pmin)
        return 0;
    if (resume_p > range.pmax)
        return 1;
    return static_cast<double>(resume_p - range.pmin) / static_cast<double>(range.pmax - range.pmin + 1);
}

}  // namespace zud
