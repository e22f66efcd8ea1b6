// Nice values for the priority classes of the program.
#include "run/priority.h"

#include <atomic>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace zud {

namespace {

bool system_set_nice(pid_t tid, int nice)
{
    return setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice) == 0;
}

std::atomic<NiceSetter> g_setter{nullptr};

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
    NiceSetter setter = g_setter.load();
    return (setter != nullptr ? setter : system_set_nice)(tid == 0 ? current_tid() : tid, nice);
}

void set_nice_setter(NiceSetter setter)
{
    g_setter.store(setter);
}

pid_t current_tid()
{
    return static_cast<pid_t>(syscall(SYS_gettid));
}

}  // namespace zud
