// The worker count.
#include "run/worker_count.h"

#include <sched.h>

namespace zud {

int default_worker_count()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0)
        return 1;
    const int count = CPU_COUNT(&set);
    return count < 1 ? 1 : count;
}

int usable_workers(int requested, int processors)
{
    if (processors < 1)
        processors = 1;
    return requested >= 1 && requested <= processors ? requested : processors;
}

}  // namespace zud
