// The worker thread procedure and its memory callbacks.
#include "run/worker.h"

#include <cinttypes>
#include <cstdlib>
#include <thread>

#include "engine/sieve.h"
#include "run/factor_check.h"
#include "run/messages.h"
#include "run/priority.h"
#include "run/progress.h"

namespace zud {

std::atomic<bool> worker_priority_refused{false};

namespace {

void* allocate_block(std::uint32_t size)
{
    return std::calloc(size, 1);
}

void release_block(void* block)
{
    std::free(block);
}

}  // namespace

void worker_procedure(RunRecord* run, int nice, WorkerInfo* info)
{
    if (info != nullptr)
        info->tid.store(current_tid());
    worker_priority_refused.store(!set_thread_nice(0, nice));
    set_current_run(run);
    mark_checkpoint();
    CandidateSet& set = run->candidates;
    const std::int64_t p = run_sieve(set.nmin, set.nmax, run->pmin, run->pmax, set.k_values.data(),
                                     set.residues.data(), set.spacings.data(),
                                     static_cast<std::uint32_t>(set.kcount), factor_callback, allocate_block,
                                     release_block, progress_callback, run->alpha);
    if (p <= run->pmax)
        send_message_f("#s%" PRId64, p);
    else
        send_message("#CDone", 0);
}

void start_worker(RunRecord& run, int nice, WorkerInfo& info)
{
    info.tid.store(0);
    std::thread(worker_procedure, &run, nice, &info).detach();
}

}  // namespace zud
