// The coordinator of a run and its sieving workers. Only the coordinator
// writes the status file and sends window messages, so the window still
// hears one sender, in order.
#include "run/coordinator.h"

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>

#include "data/status_file.h"
#include "engine/sieve.h"
#include "run/chunk_scheduler.h"
#include "run/factor_check.h"
#include "run/messages.h"
#include "run/ordered_results.h"
#include "run/priority.h"
#include "run/progress.h"

namespace zud {

namespace {

using Clock = std::chrono::steady_clock;

// Seconds after a factor line within which it is on disk.
constexpr double kSyncDelaySeconds = 2.0;
// Seconds of sieving without a record before a checkpoint is written.
constexpr std::int64_t kCheckpointSeconds = 600;

// One sieving thread's own things: its copy of the per-k set-up (the engine
// reduces it in place and keeps pointers into it) and its engine.
struct WorkerSlot {
    std::string engine_text;   // why the engine gave up, if it did
    std::vector<std::int32_t> residues;
    std::vector<std::int32_t> spacings;
    std::atomic<std::uint64_t> bytes{0};
    SieveEngine engine;
};

// What the coordinator has applied but not yet written.
struct Pending {
    CommitBatch batch;
    std::int64_t frontier = 0;
    bool any = false;
};

class RunCoordinator {
public:
    RunCoordinator(RunRecord& run, int nice, WorkerInfo* info) : run_(run), nice_(nice), info_(info) {}
    void run();

private:
    bool prepare(int wanted);
    bool prepare_slot(WorkerSlot& slot);
    void sieve(WorkerSlot& slot);
    void commit_loop();
    void collect(std::vector<ChunkResult> chunks);
    bool write_pending();
    FileResult append_record(const std::string& text, bool durable);
    void after_write(std::int64_t frontier);
    void sync_if_due();
    bool wait_to_retry();
    void enter_thread();

    RunRecord& run_;
    const int nice_;
    WorkerInfo* info_;
    std::vector<std::unique_ptr<WorkerSlot>> slots_;
    std::unique_ptr<ChunkScheduler> scheduler_;
    std::unique_ptr<OrderedResults> results_;
    std::atomic<std::int32_t> abort_{0};
    Pending pending_;
    std::int64_t recorded_ = 0;   // every prime below it is in the status file
    bool failed_check_ = false;
    bool write_trouble_told_ = false;
    bool dirty_ = false;
    Clock::time_point dirty_since_;
};

void RunCoordinator::enter_thread()
{
    if (info_ != nullptr)
        info_->add(current_tid());
    if (!set_thread_nice(0, nice_))
        worker_priority_refused.store(true);
}

bool RunCoordinator::prepare_slot(WorkerSlot& slot)
{
    const CandidateSet& set = run_.candidates;
    slot.residues = set.residues;
    slot.spacings = set.spacings;
    std::atomic<std::uint64_t>& bytes = slot.bytes;
    SieveEngine::Callbacks callbacks;
    callbacks.allocate = [&bytes](std::uint32_t size) {
        bytes.fetch_add(size);
        return std::calloc(size, 1);
    };
    callbacks.release = [](void* block) { std::free(block); };
    std::string& engine_text = slot.engine_text;
    callbacks.on_text = [&engine_text](const char* text) {
        if (engine_text.empty())
            engine_text = text;
    };
    // The hits of a chunk go to the list of the chunk being sieved.
    callbacks.on_factor = [](std::int32_t, std::int32_t, std::int64_t) {};
    return slot.engine.prepare(set.nmin, set.nmax, run_.pmin, run_.pmax, set.k_values.data(), slot.residues.data(),
                               slot.spacings.data(), static_cast<std::uint32_t>(set.kcount), run_.alpha,
                               std::move(callbacks));
}

bool RunCoordinator::prepare(int wanted)
{
    slots_.push_back(std::make_unique<WorkerSlot>());
    if (!prepare_slot(*slots_[0]) || !slots_[0]->engine.has_work()) {
        if (!slots_[0]->engine_text.empty())
            send_message_f("%s", slots_[0]->engine_text.c_str());
        return false;
    }
    // Every worker needs tables of its own: start no more than fit.
    const std::uint64_t per_worker = slots_[0]->bytes.load() + 1;
    const std::uint64_t fit = available_memory() / 4 * 3 / per_worker;
    int count = wanted;
    if (fit < static_cast<std::uint64_t>(wanted)) {
        count = fit < 1 ? 1 : static_cast<int>(fit);
        send_message_f("#IOnly %d of %d workers fit in memory (%" PRIu64 " MB each): sieving with %d.", count,
                       wanted, per_worker >> 20, count);
    }
    for (int i = 1; i < count; ++i) {
        auto slot = std::make_unique<WorkerSlot>();
        if (!prepare_slot(*slot))
            break;   // the memory ran short after all: fewer workers
        slots_.push_back(std::move(slot));
    }
    return true;
}

void RunCoordinator::sieve(WorkerSlot& slot)
{
    enter_thread();
    std::vector<ChunkHit> hits;
    HitScreen screen(run_, hits);
    const FactorCallback on_factor = [&screen](std::int32_t k_index, std::int32_t n, std::int64_t p) {
        screen(k_index, n, p);
    };
    slot.engine.set_factor_callback(on_factor);
    std::int64_t lo = 0, hi = 0;
    while (stop_flag.load() == 0 && abort_.load() == 0) {
        results_->wait_for_room();
        if (!scheduler_->next(lo, hi))
            break;
        hits.clear();
        const Clock::time_point begin = Clock::now();
        const std::int64_t ended_at = slot.engine.sieve_range(lo, hi, &abort_, {});
        if (ended_at > hi)
            scheduler_->record(hi - lo + 1, std::chrono::duration<double>(Clock::now() - begin).count());
        else if (stop_flag.load() == 0)
            abort_.store(1);   // the engine's prime limit: the run ends there
        results_->hand_in({lo, hi, ended_at, std::move(hits)});
        hits = std::vector<ChunkHit>();
        if (ended_at <= hi)
            break;
    }
    results_->worker_done();
}

void RunCoordinator::collect(std::vector<ChunkResult> chunks)
{
    for (const ChunkResult& chunk : chunks) {
        commit_chunk(run_, chunk, pending_.batch);
        pending_.any = true;
        if (pending_.batch.failed)
            return;   // nothing after a failed check counts
        pending_.frontier = chunk.ended_at <= chunk.hi ? chunk.ended_at : chunk.hi + 1;
    }
}

bool RunCoordinator::write_pending()
{
    if (pending_.batch.text.empty())
        return true;
    const FileResult written = append_record(pending_.batch.text, false);
    if (written.ok) {
        mark_checkpoint();
        if (!dirty_)
            dirty_since_ = Clock::now();
        dirty_ = true;
        return true;
    }
    if (!write_trouble_told_) {
        // Told once; the run keeps trying, and Stop still works.
        write_trouble_told_ = true;
        send_message_f("#W%s The factors found are kept and written as soon as the file can be written.",
                       written.message.c_str());
    }
    return false;
}

// Appends to the status file; one that vanished is written again with its
// range header, from where this run's records begin, and the user is told.
FileResult RunCoordinator::append_record(const std::string& text, bool durable)
{
    FileResult written = append_status_text(text, durable);
    // An initial creation has no range in the file to restore.
    if (written.ok || run_.pmin == 0 || file_kind(kStatusFile) != FileKind::missing)
        return written;
    written = restore_status_file(run_.pmax, recorded_, text);
    if (written.ok)
        send_message_f("#WThe file 'ZudStatus.dat' had vanished. It has been written again with its range "
                       "(pmax=%" PRId64 ", pmin=%" PRId64 ") and the factors found since; the sieve goes on.",
                       run_.pmax, recorded_);
    return written;
}

void RunCoordinator::after_write(std::int64_t frontier)
{
    for (const std::string& line : pending_.batch.shown)
        send_message(line.c_str(), 0);
    const std::int64_t before = recorded_;
    recorded_ = frontier;
    if ((before >> 16) != (frontier >> 16) && frontier <= run_.pmax)
        send_message_f("%s", progress_text(frontier).c_str());
    // A crash costs at most this much sieving. A factor line written since
    // the last record is a record itself, and restarts the clock.
    if (checkpoint_now() - checkpoint_time() > kCheckpointSeconds && frontier <= run_.pmax &&
        append_record(checkpoint_line(frontier), true).ok) {
        dirty_ = false;
        mark_checkpoint();
    }
}

void RunCoordinator::sync_if_due()
{
    if (dirty_ && std::chrono::duration<double>(Clock::now() - dirty_since_).count() >= kSyncDelaySeconds &&
        append_record("", true).ok)
        dirty_ = false;
}

// Waits a second before the next try; false when the user stopped the run.
bool RunCoordinator::wait_to_retry()
{
    for (int i = 0; i < 10; ++i) {
        if (stop_flag.load() != 0)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return stop_flag.load() == 0;
}

void RunCoordinator::commit_loop()
{
    for (;;) {
        if (!pending_.any) {
            if (results_->finished())
                return;
            collect(results_->take_ready(std::chrono::milliseconds(500)));
        }
        sync_if_due();
        if (!pending_.any)
            continue;
        if (!write_pending()) {
            if (!wait_to_retry()) {
                results_->abandon();   // the lines not written are found again on resume
                return;
            }
            continue;
        }
        if (pending_.batch.failed) {
            after_write(recorded_);
            failed_check_ = true;
            abort_.store(1);
            results_->abandon();
            send_message(verification_failure_text(run_, pending_.batch.failure).c_str(), 0);
            return;
        }
        after_write(pending_.frontier);
        pending_ = Pending();
    }
}

void RunCoordinator::run()
{
    enter_thread();
    set_current_run(&run_);
    mark_checkpoint();
    if (!prepare(worker_count(run_))) {
        send_message_f("#s%" PRId64, std::int64_t{0});
        return;
    }
    send_message("#I", 0);
    const int count = static_cast<int>(slots_.size());
    recorded_ = run_.pmin;
    scheduler_ = std::make_unique<ChunkScheduler>(run_.pmin, run_.pmax, count);
    results_ = std::make_unique<OrderedResults>(run_.pmin, count, static_cast<std::size_t>(4 * count));
    std::vector<std::thread> threads;
    for (auto& slot : slots_)
        threads.emplace_back(&RunCoordinator::sieve, this, std::ref(*slot));
    commit_loop();
    abort_.store(1);
    results_->abandon();
    for (std::thread& thread : threads)
        thread.join();
    if (failed_check_)
        return;   // the window ends the program on "#E"
    for (const auto& slot : slots_)
        if (!slot->engine_text.empty()) {
            send_message_f("%s", slot->engine_text.c_str());   // why the run ended early
            break;
        }
    if (dirty_)
        append_record("", true);
    const std::int64_t stopped_at = recorded_ > run_.pmax ? 0 : first_prime_from(recorded_);
    final_records_pending.store(false);
    for (;;) {
        if (stopped_at == 0)
            send_message("#CDone", 0);
        else
            send_message_f("#s%" PRId64, stopped_at);
        // The window keeps what it could not write and tries again on the
        // next final message; between tries it stays free for Stop and Exit.
        for (int i = 0; i < 10 && final_records_pending.load(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (!final_records_pending.load())
            return;
    }
}

}  // namespace

void run_coordinated(RunRecord& run, int nice, WorkerInfo* info)
{
    RunCoordinator coordinator(run, nice, info);
    coordinator.run();
}

}  // namespace zud
