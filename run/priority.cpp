// Nice values for the priority classes of the program.
#include "run/priority.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace zud {

namespace {

bool system_set_nice(pid_t tid, int nice)
{
    return setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice) == 0;
}

}  // namespace

int nice_value(PriorityClass cls, ThreadPriority thread)
{
    int nice = cls == PriorityClass::high ? -10 : cls == PriorityClass::idle ? 19 : 0;
    if (thread == ThreadPriority::lowest)
        nice += 5;
    return nice > 19 ? 19 : nice;
}

bool set_thread_nice(pid_t tid, int nice)
{
    return set_thread_nice(nullptr, tid, nice);
}

bool set_thread_nice(NiceSetter setter, pid_t tid, int nice)
{
    return (setter != nullptr ? setter : system_set_nice)(tid == 0 ? current_tid() : tid, nice);
}

pid_t current_tid()
{
    return static_cast<pid_t>(syscall(SYS_gettid));
}

}  // namespace zud
