// A run: N sieving threads take chunks of the prime range, a coordinating
// thread applies their results in ascending p, writes the status file, and
// sends every window message, ending with exactly one final message
// ("#CDone" or "#s" with the first prime not sieved), sent synchronously so
// that the window's end-of-run handling is done before the run ends.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <sys/types.h>
#include <vector>

#include "run/run_record.h"

namespace zud {

// The thread ids of a run (the coordinator's and every sieving thread's),
// for priority changes while it runs.
class WorkerInfo {
public:
    void add(pid_t tid);
    void clear();
    std::vector<pid_t> tids() const;

private:
    mutable std::mutex mutex_;
    std::vector<pid_t> tids_;
};

// The processors this program may run on (taskset and container limits
// count); at least 1.
int default_worker_count();
// The sieving threads a run of `run` uses: run.workers, or the default.
int worker_count(const RunRecord& run);

// The coordinator's procedure: the whole range of `run`. `nice` is applied
// to every thread of the run; a refusal sets worker_priority_refused.
void worker_procedure(RunRecord* run, int nice, WorkerInfo* info);

// Starts the run on its own (detached) thread. The record must outlive the
// run; nothing waits for the thread.
void start_worker(RunRecord& run, int nice, WorkerInfo& info);

// Set by the window while the records at the end of an initial creation
// (the new Zud.dat, its status record) wait to be written: the run sends
// its final message again every second until the window clears it.
extern std::atomic<bool> final_records_pending;

// Set when the system refused a thread's nice value at start.
extern std::atomic<bool> worker_priority_refused;

// The smallest prime at or above n (n up to 2^63 - 25).
std::int64_t first_prime_from(std::int64_t n);

}  // namespace zud
