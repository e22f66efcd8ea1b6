// How many sieving threads a run uses.
#pragma once

namespace zud {

// The processors this program may run on (taskset and container limits
// count); at least 1.
int default_worker_count();

// The one rule for a worker count, wherever it comes from (the command
// line, the Workers menu, the profile, a run's settings): 1 to
// `processors` as asked, anything else `processors`.
int usable_workers(int requested, int processors);

}  // namespace zud
