// What the window and the console tell of sieve depth: the factors a range
// should give and the time it takes, the time a factor takes as the run
// goes, and the stop where a factor takes longer than a primality test.
// The arithmetic is run/sieve_depth.h; the rate comes from the profile (the
// last run on the same candidate file) until this run has measured its own.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "data/candidate_set.h"
#include "app/settings.h"

namespace zud {

// The candidate file's identity for its kept rate: its k values and range
// of n, which its factors do not change.
std::string candidate_fingerprint(const CandidateSet& set);

// The seconds of one core a prime costs on this file, as the last run on it
// measured ("rate" in the profile: the fingerprint and the figure); 0 when
// no run on this file measured one.
double kept_rate(Profile& profile, const std::string& fingerprint);
void keep_rate(Profile& profile, const std::string& fingerprint, double core_seconds_per_prime);

// "About 35 factors expected; about 17 minutes with 2 workers", without the
// time when there is no rate yet. Empty for an initial creation (p1 = 0).
std::string range_estimate_text(double candidates, std::int64_t p1, std::int64_t p2, double core_seconds_per_prime,
                                int workers);

// "17 minutes", "5 hours", "3 days", "2 years".
std::string duration_words(double seconds);
// "3,400" for 3,437: two significant figures from 100 on, commas.
std::string rounded_seconds(double seconds);

// One run's factors against the estimate.
class FactorCost {
public:
    // A run over candidates sieved to p1 with `workers` threads; the kept
    // rate (0: none) stands until the run has measured its own.
    void start(double candidates, std::int64_t p1, int workers, double kept_core_seconds_per_prime,
               std::int32_t now_ms);
    // A progress event: the resume point and the run's p-rate so far.
    void on_progress(std::int64_t p, double p_per_second, std::int32_t now_ms);
    void on_factors(std::size_t count, std::int32_t now_ms);

    bool active() const { return p1_ > 0; }
    std::int64_t p() const { return p_; }
    // The seconds of one core a prime costs: measured, else kept, else 0.
    double rate() const { return measured_ > 0 ? measured_ : kept_; }
    // Measured over long enough to keep; 0 otherwise.
    double measured_rate() const { return measured_; }
    // The seconds of one core a factor costs at the current p, by the
    // estimate; 0 without a rate.
    double expected_seconds_per_factor() const;
    double expected_seconds_per_factor_at(std::int64_t p) const;
    // Where a factor is expected to take `seconds`; 0 without a rate.
    std::int64_t depth_where(double seconds) const;
    // The same from the last factors found; 0 until there are enough.
    double observed_seconds_per_factor() const;
    // Whichever of the two is steadier.
    double seconds_per_factor() const;
    double expected_so_far() const;
    std::int64_t found() const { return found_; }

    // "a factor about 3,400 s; 12 found, 11 expected", or empty.
    std::string status_text() const;
    // True once a factor is expected to take longer than `seconds`.
    bool past(double seconds) const;
    // "Stopped at p=...: a factor now takes about 3,400 s, longer than the
    // 3,000 s a test takes."
    std::string stop_text(std::int64_t resume_p, double seconds) const;

private:
    struct Sample {
        std::int32_t ms;
        std::int64_t found;
    };

    double candidates_ = 0;
    std::int64_t p1_ = 0;
    std::int64_t p_ = 0;
    int workers_ = 1;
    double kept_ = 0;
    double measured_ = 0;
    std::int32_t start_ms_ = 0;
    std::int64_t found_ = 0;
    std::deque<Sample> samples_;   // the last factors' times
};

}  // namespace zud
