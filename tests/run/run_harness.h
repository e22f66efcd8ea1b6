// Runs the worker procedure on a real thread over a candidate file in the
// current directory, serving its messages on the test's thread.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "run/message_queue.h"
#include "run/worker.h"

namespace zud_test {

struct RunLog {
    std::vector<std::string> messages;
    bool final_seen() const
    {
        return !messages.empty() && (messages.back() == "#CDone" || messages.back().rfind("#s", 0) == 0 ||
                                     messages.back().rfind("#E", 0) == 0);
    }
};

// `on_message` sees each text on the serving thread (to request a stop).
inline RunLog run_worker(zud::RunRecord& run, const std::function<void(const std::string&)>& on_message = {})
{
    RunLog log;
    zud::QueuedSink sink([&](const std::string& text) {
        log.messages.push_back(text);
        if (on_message)
            on_message(text);
    });
    zud::set_message_sink(&sink);
    std::thread worker(zud::worker_procedure, &run, 0, nullptr);
    while (!log.final_seen())
        sink.serve_one(std::chrono::milliseconds(50));
    worker.join();
    zud::set_message_sink(nullptr);
    return log;
}

}  // namespace zud_test
