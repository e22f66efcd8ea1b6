// What a run tells a BOINC task, kept for the task's polling loop on the
// main thread: how far the run has got, whether a checkpoint asked for has
// been written, whether the status file can no longer be written, and how
// the run ended. The run writes every record itself.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#include "run/run_events.h"
#include "boinc/boinc_task.h"

namespace zud {

class TaskEvents : public RunEvents {
public:
    enum class End { running, stopped, done, error };

    // The first prime not yet recorded (the task's pmin before any progress).
    std::int64_t resume_p() const;
    // A checkpoint has been asked of the run (RunControls::checkpoint_now).
    void want_checkpoint();
    // True once, when a checkpoint written since it was asked for is on disk.
    bool take_checkpoint();
    // The status file cannot be written: `why` says so.
    bool status_unwritable(std::string& why) const;
    // Waits up to `ms` for the run's end.
    End wait_end(int ms);
    std::int64_t stopped_at() const;   // first prime not sieved
    RunError error_of() const;

    explicit TaskEvents(std::int64_t start_p) : resume_p_(start_p) {}

    void factors_recorded(const std::vector<FactorRecord>& batch) override;
    void progress(const RunProgress& progress) override;
    void checkpoint_written(std::int64_t resume_p) override;
    void warning(const RunWarning& warning) override;
    void stopped(std::int64_t resume_p) override;
    void done() override;
    void error(const RunError& error) override;

private:
    void end(End how);

    mutable std::mutex mutex_;
    std::condition_variable ended_;
    std::int64_t resume_p_;
    bool checkpoint_wanted_ = false;
    bool checkpoint_written_ = false;
    bool unwritable_ = false;
    std::string unwritable_why_;
    End end_ = End::running;
    std::int64_t stopped_at_ = 0;
    RunError error_{};
};

// The text for stderr.txt of a run that ended with an error, and its code.
std::string task_error_text(const RunError& error);
TaskFault task_error_fault(const RunError& error);

}  // namespace zud
