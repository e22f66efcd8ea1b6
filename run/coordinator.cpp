// The coordinator of a run and its sieving workers. Only the coordinator
// writes the status file (through the run's journal) and calls the front
// end's events, so the front end hears one caller, in order.
#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <unistd.h>

#include "data/file_io.h"
#include "engine/opencl/device_search.h"
#include "engine/sieve.h"
#include "run/chunk_scheduler.h"
#include "run/factor_check.h"
#include "run/ordered_results.h"
#include "run/run.h"
#include "run/worker_count.h"

namespace zud {

namespace {

using Clock = std::chrono::steady_clock;

// Factor batches and progress go to the front end at most this often.
constexpr std::chrono::milliseconds kReportInterval{100};
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
    std::unique_ptr<DeviceEngine> device;   // the OpenCL device's slot, until the device fails
};

// A device chunk aims at this long: the pipeline of batches drains at its end.
constexpr double kDeviceChunkSeconds = 1.0;

// What the coordinator has applied but not yet written.
struct Pending {
    CommitBatch batch;
    WorkDigest digest;
    std::int64_t frontier = 0;
    bool any = false;
};

}  // namespace

class RunCoordinator {
public:
    explicit RunCoordinator(Run& owner)
        : owner_(owner),
          run_(owner.record_),
          events_(owner.events_),
          journal_(owner.journal_),
          plan_(search_plan(owner.settings_.instruction_set))
    {
    }
    void run();

private:
    bool prepare(int wanted);
    bool prepare_slot(WorkerSlot& slot);
    std::unique_ptr<WorkerSlot> prepare_device();
    bool device_failed(WorkerSlot& slot);
    void tell_notes();
    void sieve(WorkerSlot& slot);
    void commit_loop();
    void collect(std::vector<ChunkResult> chunks);
    bool write_pending();
    void tell_if_restored();
    bool write_checkpoint();
    void after_write(std::int64_t frontier);
    bool wait_to_retry();
    void report(bool now);
    void warn(WarningKind kind, std::string file, std::string why, std::int64_t p = 0);
    std::int64_t seconds_now() const;
    void mark_checkpoint() { checkpoint_time_ = seconds_now(); }

    Run& owner_;
    RunRecord& run_;
    RunEvents& events_;
    StatusJournal& journal_;
    const SearchPlan plan_;   // chosen once for the run
    std::vector<std::unique_ptr<WorkerSlot>> slots_;
    std::unique_ptr<ChunkScheduler> scheduler_;
    std::unique_ptr<OrderedResults> results_;
    Pending pending_;
    std::int64_t recorded_ = 0;   // every prime below it is in the status file
    WorkDigest digest_;           // of the primes below recorded_, when the record asks for it
    std::int64_t checkpoint_time_ = 0;   // seconds of the last status-file write
    std::vector<FactorRecord> unsent_;   // written, not yet reported
    Clock::time_point began_;
    Clock::time_point last_report_;
    std::int64_t reported_p_ = 0;        // the resume point of the last progress event
    bool failed_check_ = false;
    bool write_trouble_told_ = false;
    std::mutex notes_mutex_;
    std::vector<std::string> notes_;   // from the sieving threads, for the log
};

std::int64_t RunCoordinator::seconds_now() const
{
    const SecondsClock clock = owner_.settings_.clock;
    return clock != nullptr ? clock() : static_cast<std::int64_t>(std::time(nullptr));
}

void RunCoordinator::warn(WarningKind kind, std::string file, std::string why, std::int64_t p)
{
    report(true);   // what came before the warning is told first
    events_.warning({kind, std::move(file), std::move(why), p});
}

// Factor batches at most every kReportInterval unless `now`; progress as
// the resume point crosses a multiple of 65,536, after the lines below it.
void RunCoordinator::report(bool now)
{
    tell_notes();
    {
        bool refused = false;
        {
            std::lock_guard<std::mutex> lock(owner_.mutex_);
            std::swap(refused, owner_.priority_refused_);
        }
        if (refused)
            events_.warning({WarningKind::priority_refused, {}, "The system did not allow the priority asked for.", 0});
    }
    const Clock::time_point at = Clock::now();
    const bool crossed = (reported_p_ >> 16) != (recorded_ >> 16) && recorded_ <= run_.pmax;
    if (!now && !crossed && at - last_report_ < kReportInterval)
        return;
    last_report_ = at;
    if (!unsent_.empty()) {
        events_.factors_recorded(unsent_);
        unsent_.clear();
    }
    if (crossed) {
        reported_p_ = recorded_;
        // Asked for by the front end: here, between two of the run's writes,
        // every line below the resume point is in.
        if (owner_.checkpoint_wanted_.exchange(false) && write_checkpoint())
            events_.checkpoint_written(recorded_);
        const double span = static_cast<double>(run_.pmax - run_.pmin) + 1.0;
        double share = static_cast<double>(recorded_ - run_.pmin) / span;
        share = share < 0 ? 0 : share > 1 ? 1 : share;
        const double seconds = std::chrono::duration<double>(at - began_).count();
        const double rate = seconds > 0 ? static_cast<double>(recorded_ - run_.pmin) / seconds : 0.0;
        events_.progress({recorded_, share, rate, digest_});
        if (recorded_ >= owner_.stop_depth_.load())
            owner_.raise(Run::kStop);
    }
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
    callbacks.plan = plan_;
    // The hits of a chunk go to the list of the chunk being sieved.
    callbacks.on_factor = [](std::int32_t, std::int32_t, std::int64_t) {};
    return slot.engine.prepare(set.nmin, set.nmax, run_.pmin, run_.pmax, set.k_values.data(), slot.residues.data(),
                               slot.spacings.data(), static_cast<std::uint32_t>(set.kcount), run_.alpha,
                               std::move(callbacks));
}

// The device's slot, or nullptr when none was asked for or it cannot
// sieve (said once; the processor workers sieve).
std::unique_ptr<WorkerSlot> RunCoordinator::prepare_device()
{
    const int index = owner_.settings_.device;
    if (index < 0)
        return nullptr;
    const std::vector<DeviceInfo> devices = list_devices();
    if (devices.empty() || static_cast<std::size_t>(index) >= devices.size()) {
        warn(WarningKind::engine, {},
             devices.empty() ? std::string(kNoDeviceText)
                             : "There is no OpenCL device " + std::to_string(index) + ": sieving on the processor.");
        return nullptr;
    }
    auto slot = std::make_unique<WorkerSlot>();
    slot->device = std::make_unique<DeviceEngine>();
    const CandidateSet& set = run_.candidates;
    std::string& engine_text = slot->engine_text;
    DeviceEngine::Callbacks callbacks{[](std::int32_t, std::int32_t, std::int64_t) {},
                                      [&engine_text](const char* text) {
                                          if (engine_text.empty())
                                              engine_text = text;
                                      }};
    if (!slot->device->prepare(devices[static_cast<std::size_t>(index)], set.nmin, set.nmax, run_.pmin, run_.pmax,
                               set.k_values.data(), set.residues.data(), set.spacings.data(),
                               static_cast<std::uint32_t>(set.kcount), std::move(callbacks))) {
        warn(WarningKind::engine, {}, slot->engine_text + "\nSieving on the processor.");
        return nullptr;
    }
    return slot;
}

bool RunCoordinator::prepare(int wanted)
{
    std::unique_ptr<WorkerSlot> device = prepare_device();
    if (device != nullptr && !owner_.settings_.processor_workers) {
        if (!device->device->has_work())
            return false;
        slots_.push_back(std::move(device));
        return true;
    }
    slots_.push_back(std::make_unique<WorkerSlot>());
    if (!prepare_slot(*slots_[0]) || !slots_[0]->engine.has_work())
        return false;
    // Every worker needs tables of its own: start no more than fit.
    const std::uint64_t per_worker = slots_[0]->bytes.load() + 1;
    const std::uint64_t fit = available_memory() / 4 * 3 / per_worker;
    int count = wanted;
    if (fit < static_cast<std::uint64_t>(wanted)) {
        count = fit < 1 ? 1 : static_cast<int>(fit);
        char text[120];
        std::snprintf(text, sizeof text, "Only %d of %d workers fit in memory (%" PRIu64 " MB each): sieving with %d.",
                      count, wanted, per_worker >> 20, count);
        warn(WarningKind::workers_reduced, {}, text);
    }
    for (int i = 1; i < count; ++i) {
        auto slot = std::make_unique<WorkerSlot>();
        if (!prepare_slot(*slot))
            break;   // the memory ran short after all: fewer workers
        slots_.push_back(std::move(slot));
    }
    if (device != nullptr)
        slots_.push_back(std::move(device));
    return true;
}

// The device failed mid-chunk (its batch reported nothing): this thread
// goes on as a processor worker from the first prime not searched.
bool RunCoordinator::device_failed(WorkerSlot& slot)
{
    {
        std::lock_guard<std::mutex> lock(notes_mutex_);
        notes_.push_back(slot.engine_text + ": the run goes on with its processor workers.");
    }
    slot.engine_text.clear();
    slot.device.reset();
    return prepare_slot(slot) && slot.engine.has_work();
}

void RunCoordinator::tell_notes()
{
    std::vector<std::string> notes;
    {
        std::lock_guard<std::mutex> lock(notes_mutex_);
        notes.swap(notes_);
    }
    for (const std::string& note : notes)
        events_.warning({WarningKind::engine, {}, note, 0});
}

void RunCoordinator::sieve(WorkerSlot& slot)
{
    owner_.enter_thread();
    std::vector<ChunkHit> hits;
    HitScreen screen(run_, hits);
    const FactorCallback on_factor = [&screen](std::int32_t k_index, std::int32_t n, std::int64_t p) {
        screen(k_index, n, p);
    };
    WorkDigest digest;
    auto connect = [&] {
        slot.engine.set_factor_callback(on_factor);
        if (run_.digest_wanted)
            slot.engine.set_digest(&digest);
        if (slot.device != nullptr) {
            slot.device->set_factor_callback(on_factor);
            if (run_.digest_wanted)
                slot.device->set_digest(&digest);
        }
    };
    connect();
    auto search = [&slot, this](std::int64_t from, std::int64_t to) {
        return slot.device != nullptr ? slot.device->sieve_range(from, to, &owner_.interrupt_, {})
                                      : slot.engine.sieve_range(from, to, &owner_.interrupt_, {});
    };
    std::int64_t device_span = ChunkScheduler::kFirstSpan;
    std::int64_t lo = 0, hi = 0;
    while (!owner_.ending()) {
        // Pause and resume both count: a count that moved since before the
        // wait means the engine may have come back for a pause.
        std::uint32_t controls = owner_.pauses_.load();
        owner_.wait_while_paused();
        results_->wait_for_room();
        const bool on_device = slot.device != nullptr;
        if (owner_.ending() || !(on_device ? scheduler_->next(lo, hi, device_span) : scheduler_->next(lo, hi)))
            break;
        hits.clear();
        digest = WorkDigest();
        const Clock::time_point begin = Clock::now();
        std::int64_t ended_at = search(lo, hi);
        // A pause leaves the engine at its next prime: the same chunk goes
        // on from there once resumed.
        bool was_paused = false;
        for (;;) {
            while (ended_at <= hi && !owner_.ending() && slot.engine_text.empty() &&
                   owner_.pauses_.load() != controls) {
                was_paused = true;
                controls = owner_.pauses_.load();
                owner_.wait_while_paused();
                if (owner_.ending())
                    break;
                ended_at = search(ended_at, hi);
            }
            if (!(slot.device != nullptr && ended_at <= hi && !slot.engine_text.empty() && !owner_.ending()))
                break;
            if (!device_failed(slot))
                break;
            connect();
            was_paused = true;   // the chunk's time says nothing of either
            ended_at = search(ended_at, hi);
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
        if (ended_at > hi && !was_paused) {
            if (on_device)
                device_span = ChunkScheduler::adjusted_span(hi - lo + 1, seconds, kDeviceChunkSeconds, 2.0);
            else
                scheduler_->record(hi - lo + 1, seconds);
        } else if (ended_at <= hi && !owner_.ending()) {
            owner_.raise(Run::kAbort);   // the engine's prime limit: the run ends there
        }
        // Within one p the lines go by k index, then n, whichever engine
        // found them: the device and every instruction set write one file.
        std::sort(hits.begin(), hits.end(), [](const ChunkHit& a, const ChunkHit& b) {
            return std::tie(a.p, a.k_index, a.n) < std::tie(b.p, b.k_index, b.n);
        });
        results_->hand_in({lo, hi, ended_at, std::move(hits), digest});
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
        pending_.digest += chunk.digest;
        pending_.frontier = chunk.ended_at <= chunk.hi ? chunk.ended_at : chunk.hi + 1;
    }
}

bool RunCoordinator::write_pending()
{
    if (pending_.batch.text.empty())
        return true;
    const FileResult written = journal_.append_factors(pending_.batch.text, recorded_);
    tell_if_restored();
    if (written.ok) {
        mark_checkpoint();
        return true;
    }
    if (!write_trouble_told_) {
        // Told once; the run keeps trying, and Stop still works.
        write_trouble_told_ = true;
        warn(WarningKind::status_file_unwritable, owner_.settings_.folder.status_name(), written.message);
    }
    return false;
}

// A status file that vanished has been written again with its range
// header, from where this run's records begin: the user is told.
void RunCoordinator::tell_if_restored()
{
    if (journal_.take_restored())
        warn(WarningKind::status_file_restored, owner_.settings_.folder.status_name(), {}, journal_.restored_at());
}

// At the resume point, with every line below it written.
bool RunCoordinator::write_checkpoint()
{
    const bool written = journal_.checkpoint(recorded_, digest_).ok;
    tell_if_restored();
    if (written)
        mark_checkpoint();
    return written;
}

void RunCoordinator::after_write(std::int64_t frontier)
{
    unsent_.insert(unsent_.end(), pending_.batch.shown.begin(), pending_.batch.shown.end());
    recorded_ = frontier;
    report(false);
    // A crash costs at most this much sieving. A factor line written since
    // the last record is a record itself, and restarts the clock.
    if (seconds_now() - checkpoint_time_ > kCheckpointSeconds && frontier <= run_.pmax && write_checkpoint()) {
        report(true);
        events_.checkpoint_written(frontier);
    }
}

// Waits a second before the next try; false when the user stopped the run.
bool RunCoordinator::wait_to_retry()
{
    for (int i = 0; i < 10; ++i) {
        if (owner_.stop_requested())
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return !owner_.stop_requested();
}

void RunCoordinator::commit_loop()
{
    for (;;) {
        if (!pending_.any) {
            if (results_->finished())
                return;
            // Short waits while written lines wait to be reported.
            collect(results_->take_ready(std::chrono::milliseconds(unsent_.empty() ? 500 : 50)));
        }
        journal_.sync_if_due(Clock::now(), recorded_);
        tell_if_restored();
        report(false);
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
            return;
        }
        digest_ += pending_.digest;
        after_write(pending_.frontier);
        pending_ = Pending();
    }
}

void RunCoordinator::run()
{
    owner_.enter_thread();
    began_ = Clock::now();
    last_report_ = began_;
    mark_checkpoint();
    const int workers = owner_.settings_.workers;
    if (!prepare(workers >= 1 ? workers : default_worker_count())) {
        report(true);
        events_.error({RunErrorKind::engine_gave_up, {}, slots_.empty() ? std::string() : slots_[0]->engine_text});
        return;
    }
    const int count = static_cast<int>(slots_.size());
    recorded_ = run_.pmin;
    reported_p_ = run_.pmin;
    digest_ = run_.digest;
    scheduler_ = std::make_unique<ChunkScheduler>(run_.pmin, run_.pmax, count);
    results_ = std::make_unique<OrderedResults>(run_.pmin, count, static_cast<std::size_t>(4 * count));
    std::vector<std::thread> threads;
    for (auto& slot : slots_)
        threads.emplace_back(&RunCoordinator::sieve, this, std::ref(*slot));
    commit_loop();
    owner_.raise(Run::kAbort);
    results_->abandon();
    for (std::thread& thread : threads)
        thread.join();
    journal_.sync(recorded_);
    tell_if_restored();
    run_.digest = digest_;
    if (failed_check_) {
        report(true);
        events_.error({RunErrorKind::verification_failed, pending_.batch.failure, {}});
        return;
    }
    for (const auto& slot : slots_)
        if (!slot->engine_text.empty()) {
            warn(WarningKind::engine, {}, slot->engine_text);   // why the run ended early
            break;
        }
    report(true);
    if (recorded_ > run_.pmax)
        events_.done();
    else
        events_.stopped(first_prime_from(recorded_));
}

void Run::run_here()
{
    RunCoordinator coordinator(*this);
    coordinator.run();
}

}  // namespace zud
