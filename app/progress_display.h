// How far the run has got through its range and how long the rest should
// take: the share done, and the time left from the p-rate over the last
// few minutes. Shown on the status line ("Remaining"), the progress bar,
// the tray tooltip and the console's status.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "data/data_folder.h"

namespace zud {

class ProgressEstimate {
public:
    // A new run over [range_start, pmax]; nothing measured yet.
    void start(std::int64_t range_start, std::int64_t pmax);
    // After a progress message or factor line; p is the last reported p.
    void on_progress(std::int64_t p, std::int32_t now_ms);
    // Marks the whole range done (the completion message).
    void complete();

    bool active() const { return pmax_ > start_; }
    double share_done() const;          // 0 .. 1
    int permille() const;               // 0 .. 1000, for a progress bar
    std::string share_text() const;     // "37.2% done"
    // "37.2% done, about 5 h 10 min left"; without the time until there is
    // a rate to go by.
    std::string remaining_text() const;

private:
    struct Sample {
        std::int32_t ms;
        std::int64_t p;
    };

    std::int64_t start_ = 0;
    std::int64_t pmax_ = 0;
    std::int64_t p_ = 0;
    std::deque<Sample> samples_;   // one a second at most, the last few minutes
};

// "about 5 h 10 min left" and the like.
std::string format_time_left(double seconds);

// The lower end of the range recorded in the status file (its first
// "pmin=" line); `fallback` when there is none.
std::int64_t recorded_range_start(const DataFolder& folder, std::int64_t fallback);

}  // namespace zud
