// The queue between a run's thread and the front end's.
#include "run/event_queue.h"

namespace zud {

void EventQueue::push(Event event)
{
    bool was_empty = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        was_empty = queue_.empty();
        queue_.push_back(std::move(event));
    }
    arrived_.notify_all();
    if (was_empty && wake_)
        wake_();
}

void EventQueue::factors_recorded(const std::vector<FactorRecord>& batch)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!queue_.empty())
            if (auto* waiting = std::get_if<std::vector<FactorRecord>>(&queue_.back())) {
                waiting->insert(waiting->end(), batch.begin(), batch.end());
                return;
            }
    }
    push(batch);
}

void EventQueue::progress(const RunProgress& progress)
{
    push(progress);
}

void EventQueue::checkpoint_written(std::int64_t resume_p)
{
    push(Checkpoint{resume_p});
}

void EventQueue::warning(const RunWarning& warning)
{
    push(warning);
}

void EventQueue::stopped(std::int64_t resume_p)
{
    push(Stopped{resume_p});
}

void EventQueue::done()
{
    push(Done{});
}

void EventQueue::error(const RunError& error)
{
    push(error);
}

// One event at a time: a handler that opens a message box runs a nested
// loop, which may deliver the events after it; each is still begun in
// order, as with a run that waited for every hand-over.
bool EventQueue::deliver(RunEvents& target, std::chrono::milliseconds wait)
{
    struct Hand {
        RunEvents& to;
        void operator()(const std::vector<FactorRecord>& batch) { to.factors_recorded(batch); }
        void operator()(const RunProgress& progress) { to.progress(progress); }
        void operator()(const Checkpoint& checkpoint) { to.checkpoint_written(checkpoint.resume_p); }
        void operator()(const RunWarning& warning) { to.warning(warning); }
        void operator()(const Stopped& stopped) { to.stopped(stopped.resume_p); }
        void operator()(const Done&) { to.done(); }
        void operator()(const RunError& error) { to.error(error); }
    };
    bool any = false;
    for (;;) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!any && !arrived_.wait_for(lock, wait, [this] { return !queue_.empty(); }))
            return false;
        if (queue_.empty())
            return any;
        Event event = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        any = true;
        std::visit(Hand{target}, event);
    }
}

}  // namespace zud
