// The worker thread: one run_sieve call over the run record, then exactly
// one final message ("#CDone" or "#s" with the prime not sieved), sent
// synchronously so that the window's end-of-run handling is done before
// the thread ends.
#pragma once

#include <atomic>
#include <cstdint>
#include <sys/types.h>

#include "run/run_record.h"

namespace zud {

// The worker's thread id once it runs (0 before), for priority changes.
struct WorkerInfo {
    std::atomic<pid_t> tid{0};
};

// The thread procedure: runs the whole range of `run`. `nice` is applied to
// the thread first; a refusal sets worker_priority_refused.
void worker_procedure(RunRecord* run, int nice, WorkerInfo* info);

// Starts the worker on its own (detached) thread. The record must outlive
// the run; nothing waits for the thread.
void start_worker(RunRecord& run, int nice, WorkerInfo& info);

// Set when the system refused the worker's nice value at start.
extern std::atomic<bool> worker_priority_refused;

}  // namespace zud
