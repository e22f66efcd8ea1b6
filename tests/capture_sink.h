// A message receiver that records every text it is given, on the sender's
// thread, and detaches itself when it goes.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "run/messages.h"

namespace zud_test {

class CaptureSink : public zud::MessageSink {
public:
    CaptureSink() { zud::set_message_sink(this); }
    ~CaptureSink() override { zud::set_message_sink(nullptr); }
    void deliver(const char* text) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        texts_.emplace_back(text);
    }
    std::vector<std::string> texts() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return texts_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> texts_;
};

}  // namespace zud_test
