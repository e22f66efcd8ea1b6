// How many sieving threads a run uses, and the prime its resume point
// stands for.
#pragma once

#include <cstdint>

namespace zud {

// The processors this program may run on (taskset and container limits
// count); at least 1.
int default_worker_count();

// The one rule for a worker count, wherever it comes from (the command
// line, the Workers menu, the profile, a run's settings): 1 to
// `processors` as asked, anything else `processors`.
int usable_workers(int requested, int processors);

// The smallest prime at or above n (n up to 2^63 - 25).
std::int64_t first_prime_from(std::int64_t n);

}  // namespace zud
