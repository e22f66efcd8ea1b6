// What a run tells its front end, and what a front end may tell a run.
// A front end (the window, the console, a BOINC wrapper) implements
// RunEvents and passes it to the run; the run calls it on the run's own
// thread, one call at a time, in the order things happened. Nothing
// crosses as text to be parsed back: each front end formats what it shows.
// A call must not wait for the user or for the screen (a stop has to take
// effect within a second however much waits to be shown): a front end
// that shows events on another thread queues them (run/event_queue.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/work_digest.h"

namespace zud {

// One factor: p | k*2^n+1.
struct FactorRecord {
    std::int64_t p;
    std::int32_t k;
    std::int32_t n;
};

struct RunProgress {
    std::int64_t resume_p;   // every prime below it is recorded
    double share_done;       // of [pmin, pmax], 0 .. 1
    double p_per_second;     // the resume point's advance since the run began
    WorkDigest digest{};     // of the primes below resume_p, when the record asks for it
};

enum class WarningKind {
    // The status file cannot be written: the factors are kept and written
    // as soon as it can be; the run tries again every second.
    status_file_unwritable,
    // The status file had vanished and has been written again with its
    // range, pmin at `p`, and the factors found since; the run goes on.
    status_file_restored,
    // The system refused a thread's nice value; the run goes on.
    priority_refused,
    // Fewer workers fit in memory than were asked for.
    workers_reduced,
    // A text of the sieve engine (why it gave up early).
    engine,
};

struct RunWarning {
    WarningKind kind;
    std::string file;    // the file concerned; empty when none
    std::string why;     // a sentence for the user, where the kind needs one
    std::int64_t p = 0;  // the prime it concerns, where the kind has one
};

enum class RunErrorKind {
    verification_failed,   // `factor` failed its check: the run ends
    engine_gave_up,        // the engine's set-up gave up (`text`): nothing was sieved
};

struct RunError {
    RunErrorKind kind;
    FactorRecord factor;   // verification_failed
    std::string text;      // engine_gave_up
};

class RunEvents {
public:
    virtual ~RunEvents() = default;

    // Factor lines just appended to the status file, ascending p, in the
    // order written (in an initial creation: the lines to show, at least
    // 1000 of p apart, and nothing is written). At most one chunk's lines
    // per batch and about ten batches a second.
    virtual void factors_recorded(const std::vector<FactorRecord>& batch) = 0;
    // The resume point crossed a multiple of 65,536.
    virtual void progress(const RunProgress& progress) = 0;
    // A "pmin=" checkpoint line was written at resume_p.
    virtual void checkpoint_written(std::int64_t resume_p) = 0;
    virtual void warning(const RunWarning& warning) = 0;

    // Exactly one of these ends every run; nothing comes after it, and the
    // run no longer touches its record (the front end may write the
    // candidate file). Its record in the status file is written when the
    // front end asks for it (Run::record_stop, Run::record_done).
    // Stopped: resume_p is the first prime not sieved.
    virtual void stopped(std::int64_t resume_p) = 0;
    virtual void done() = 0;
    virtual void error(const RunError& error) = 0;
};

// The controls a front end has over a running run (run/run.h implements
// them). Each returns at once, on any thread.
class RunControls {
public:
    virtual ~RunControls() = default;
    // Stops at the next prime; the run records its resume point and ends
    // with stopped(), also when paused.
    virtual void stop() = 0;
    // The sieving threads wait, using no processor time, where they are;
    // resume() goes on from there with nothing skipped or repeated.
    virtual void pause() = 0;
    virtual void resume() = 0;
    // The nice value of every thread of the run. False when the system
    // refused it for some thread (an ordinary user may not raise it).
    virtual bool change_priority(int nice) = 0;
    // A checkpoint at the next progress event: checkpoint_written() tells
    // when it is on disk.
    virtual void checkpoint_now() = 0;
};

}  // namespace zud
