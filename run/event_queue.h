// Carries a run's events to a thread of the front end: the run's thread
// only queues them, never waiting for the screen, and the serving thread
// hands them on in order. Factor batches that arrive while an earlier one
// still waits are joined to it, so a slow screen gets fewer, larger batches
// and a stop behind them is reached at once.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <variant>

#include "run/run_events.h"

namespace zud {

class EventQueue : public RunEvents {
public:
    // `wake` is called on the run's thread when an event arrives at an empty
    // queue (the window posts a call to its own thread there); it must not
    // wait.
    explicit EventQueue(std::function<void()> wake = {}) : wake_(std::move(wake)) {}

    void factors_recorded(const std::vector<FactorRecord>& batch) override;
    void progress(const RunProgress& progress) override;
    void checkpoint_written(std::int64_t resume_p) override;
    void warning(const RunWarning& warning) override;
    void stopped(std::int64_t resume_p) override;
    void done() override;
    void error(const RunError& error) override;

    // On the serving thread: hands every queued event to `target`, in
    // order, waiting up to `wait` for the first. False when none came.
    // Re-entrant (a handler's message box may deliver the next ones).
    bool deliver(RunEvents& target, std::chrono::milliseconds wait = std::chrono::milliseconds(0));

private:
    struct Stopped {
        std::int64_t resume_p;
    };
    struct Done {};
    struct Checkpoint {
        std::int64_t resume_p;
    };
    using Event = std::variant<std::vector<FactorRecord>, RunProgress, Checkpoint, RunWarning, Stopped, Done, RunError>;

    void push(Event event);

    std::function<void()> wake_;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<Event> queue_;
};

}  // namespace zud
