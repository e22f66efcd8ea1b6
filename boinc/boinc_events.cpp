// A BOINC task's side of the run's events.
#include "boinc/boinc_events.h"

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>


namespace zud {

std::int64_t TaskEvents::resume_p() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return resume_p_;
}

void TaskEvents::want_checkpoint()
{
    std::lock_guard<std::mutex> lock(mutex_);
    checkpoint_wanted_ = true;
}

bool TaskEvents::take_checkpoint()
{
    std::lock_guard<std::mutex> lock(mutex_);
    const bool written = checkpoint_written_;
    checkpoint_written_ = false;
    return written;
}

bool TaskEvents::status_unwritable(std::string& why) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    why = unwritable_why_;
    return unwritable_;
}

TaskEvents::End TaskEvents::wait_end(int ms)
{
    std::unique_lock<std::mutex> lock(mutex_);
    ended_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return end_ != End::running; });
    return end_;
}

std::int64_t TaskEvents::stopped_at() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return stopped_at_;
}

RunError TaskEvents::error_of() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return error_;
}

void TaskEvents::factors_recorded(const std::vector<FactorRecord>&) {}

void TaskEvents::progress(const RunProgress& progress)
{
    std::lock_guard<std::mutex> lock(mutex_);
    resume_p_ = progress.resume_p;
}

void TaskEvents::checkpoint_written(std::int64_t)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!checkpoint_wanted_)
        return;
    checkpoint_wanted_ = false;
    checkpoint_written_ = true;
}

void TaskEvents::warning(const RunWarning& warning)
{
    std::fprintf(stderr, "%s\n", warning.why.c_str());
    if (warning.kind != WarningKind::status_file_unwritable)
        return;
    std::lock_guard<std::mutex> lock(mutex_);
    unwritable_ = true;
    unwritable_why_ = warning.why;
}

void TaskEvents::stopped(std::int64_t resume_p)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopped_at_ = resume_p;
    }
    end(End::stopped);
}

void TaskEvents::done()
{
    end(End::done);
}

void TaskEvents::error(const RunError& error)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        error_ = error;
    }
    end(End::error);
}

void TaskEvents::end(End how)
{
    std::lock_guard<std::mutex> lock(mutex_);
    end_ = how;
    ended_.notify_all();
}

std::string task_error_text(const RunError& error)
{
    if (error.kind == RunErrorKind::engine_gave_up)
        return error.text;
    char text[200];
    std::snprintf(text, sizeof text, "Verification failed: %" PRId64 " does not divide %d*2^%d+1!", error.factor.p,
                  error.factor.k, error.factor.n);
    return text;
}

TaskFault task_error_fault(const RunError& error)
{
    return error.kind == RunErrorKind::engine_gave_up ? TaskFault::engine_gave_up : TaskFault::verification_failed;
}

}  // namespace zud
