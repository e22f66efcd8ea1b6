// The rate shown on the status line: p per second over the last progress
// messages and seconds per factor per k over the last factor lines, each a
// sliding window of 100 samples, timed with a monotonic millisecond clock.
#pragma once

#include <cstdint>
#include <string>

namespace zud {

class RateDisplay {
public:
    // A new run: both windows empty. The texts stay until each window's
    // first sample empties its own.
    void reset();

    // After a progress message; p is the last reported p.
    void on_progress(std::int64_t p, std::int32_t now_ms);
    // After a factor line, before the factor count grows; kcount is the
    // run's number of k values.
    void on_factor(std::int32_t factor_count, std::int32_t kcount, std::int32_t now_ms);

    // "Rate: %s%s%s": the p-rate, "; " when both are there, the factor rate.
    std::string rate_text() const;

private:
    // index -1: empty; -2 .. -100: filling, slots 0 .. -index-2 used; 0 .. 99: full, oldest at index.
    struct Window {
        std::int32_t time[100];
        std::int64_t value[100];
        std::int32_t index = -1;
        // Stores a sample; returns the slot of the sample to measure from,
        // or -1 for the first sample of the run.
        int add(std::int32_t now, std::int64_t value);
    };

    Window p_window_;
    Window factor_window_;
    std::string p_rate_;
    std::string factor_rate_;
};

// Milliseconds of a monotonic clock, wrapping in 32 bits; differences are
// taken as signed 32-bit values.
std::int32_t monotonic_ms();

}  // namespace zud
