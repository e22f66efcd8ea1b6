// A receiver for a thread that serves its own loop (the console, tests):
// the worker's send waits in a queue until the serving thread has handled
// the text; a text sent from the serving thread is handled at once.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "run/messages.h"

namespace zud {

class QueuedSink : public MessageSink {
public:
    using Handler = std::function<void(const std::string& text)>;

    // The constructing thread is the serving thread.
    explicit QueuedSink(Handler handler);

    void deliver(const char* text) override;

    // On the serving thread: handles the next queued text, waiting up to
    // `wait` for one. False when none came.
    bool serve_one(std::chrono::milliseconds wait);

private:
    struct Pending {
        std::string text;
        bool handled = false;
    };

    Handler handler_;
    std::thread::id serving_thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Pending*> queue_;
};

}  // namespace zud
