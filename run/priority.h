// Process priority class and worker thread priority on Linux. A nice value
// belongs to one thread, so the class is applied to the window thread and
// to the worker (the worker at the class plus its own offset). An
// unprivileged user may lower a priority but not raise it again; such a
// refusal is reported, never fatal.
#pragma once

#include <sys/types.h>

namespace zud {

enum class PriorityClass { high, normal, idle };
enum class ThreadPriority { normal, lowest };

// The nice value of a thread of the class at the given thread priority.
int nice_value(PriorityClass cls, ThreadPriority thread);

// Sets the nice value of one thread (0: the calling thread). Returns false
// when the system refuses it. A test passes a setter of its own where a
// NiceSetter is taken; nullptr there means this one.
using NiceSetter = bool (*)(pid_t tid, int nice);
bool set_thread_nice(pid_t tid, int nice);
bool set_thread_nice(NiceSetter setter, pid_t tid, int nice);

pid_t current_tid();

}  // namespace zud
