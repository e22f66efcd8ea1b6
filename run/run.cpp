// The run's controls and threads. The engine sees every control through
// one word it reads once per prime; a paused thread then sleeps on a
// condition variable and takes up the same chunk at the same prime.
#include "run/run.h"

namespace zud {

Run::Run(RunRecord& record, RunEvents& events, RunSettings settings)
    : record_(record), events_(events), settings_(settings), journal_(settings.folder, record)
{
}

Run::~Run()
{
    stop();
    wait();
}

void Run::start()
{
    thread_ = std::thread(&Run::run_here, this);
}

void Run::wait()
{
    if (thread_.joinable())
        thread_.join();
}

void Run::raise(std::int32_t bits)
{
    // Under the lock, so that a thread about to sleep cannot miss it.
    std::lock_guard<std::mutex> lock(mutex_);
    interrupt_.fetch_or(bits);
    resumed_.notify_all();
}

void Run::stop()
{
    raise(kStop);
}

void Run::pause()
{
    pauses_.fetch_add(1);
    raise(kPause);
}

void Run::resume()
{
    pauses_.fetch_add(1);
    std::lock_guard<std::mutex> lock(mutex_);
    interrupt_.fetch_and(~kPause);
    resumed_.notify_all();
}

bool Run::paused() const
{
    return (interrupt_.load() & kPause) != 0;
}

int Run::nice() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return settings_.nice;
}

void Run::wait_while_paused()
{
    std::unique_lock<std::mutex> lock(mutex_);
    resumed_.wait(lock, [this] {
        const std::int32_t word = interrupt_.load();
        return (word & kPause) == 0 || (word & (kStop | kAbort)) != 0;
    });
}

void Run::add_thread(pid_t tid)
{
    std::lock_guard<std::mutex> lock(mutex_);
    tids_.push_back(tid);
}

std::vector<pid_t> Run::thread_ids() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return tids_;
}

bool Run::change_priority(int nice)
{
    std::vector<pid_t> tids;
    {
        // Threads that start from now on take the new value.
        std::lock_guard<std::mutex> lock(mutex_);
        settings_.nice = nice;
        tids = tids_;
    }
    bool ok = true;
    for (pid_t tid : tids)
        ok = set_thread_nice(settings_.set_nice, tid, nice) && ok;
    return ok;
}

void Run::enter_thread()
{
    int nice = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        tids_.push_back(current_tid());
        nice = settings_.nice;
    }
    if (!set_thread_nice(settings_.set_nice, 0, nice)) {
        std::lock_guard<std::mutex> lock(mutex_);
        priority_refused_ = true;
    }
}

}  // namespace zud
