// A run: N sieving threads take chunks of the prime range; a coordinating
// thread applies their results in ascending p, writes the status file
// through the run's journal and reports to the front end's RunEvents,
// ending with exactly one final event. The Run object is the whole of a
// run's state.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <sys/types.h>
#include <thread>
#include <vector>

#include "data/data_folder.h"
#include "engine/sieve.h"
#include "run/priority.h"
#include "run/run_events.h"
#include "run/run_record.h"
#include "run/status_journal.h"

namespace zud {

// Seconds since the epoch; tests drive the checkpoint clock with their own.
using SecondsClock = std::int64_t (*)();

struct RunSettings {
    int nice = 0;                      // for every thread of the run
    int workers = 0;                   // sieving threads; 0: one per processor
    NiceSetter set_nice = nullptr;     // nullptr: the system's
    SecondsClock clock = nullptr;      // nullptr: time()
    // The searches run: the set decided in main (a caller that does not say,
    // tests and benchmarks: the processor's best).
    InstructionSet instruction_set = processor_instruction_set();
    DataFolder folder;                 // where the run's records go
    // The OpenCL device (as --list-devices numbers them) that sieves beside
    // the workers, -1 for none; without processor workers it sieves alone.
    int device = -1;
    bool processor_workers = true;
};

class Run : public RunControls {
public:
    // The record and the events must outlive the run; the record is the
    // run's until its final event.
    Run(RunRecord& record, RunEvents& events, RunSettings settings);
    // Stops the run and waits for its threads.
    ~Run() override;
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;

    // On a thread of its own; returns at once.
    void start();
    // On the calling thread, to the final event.
    void run_here();
    // Until the thread of start() has ended (after the final event).
    void wait();

    void stop() override;
    void pause() override;
    void resume() override;
    bool change_priority(int nice) override;
    void checkpoint_now() override { checkpoint_wanted_.store(true); }
    // After the final event, the end's record in the status file: where a
    // stop at `p` (stopped()'s) resumes, or "Done". An initial creation asks
    // once its new candidate file is written; a failure may be tried again.
    FileResult record_stop(std::int64_t p) { return journal_.record_stop(p); }
    FileResult record_done() { return journal_.record_done(); }
    // Stops as stop() does once every prime below `p` is recorded (checked
    // as the resume point crosses each multiple of 65,536); 0: never. The
    // sieve-depth stop: past p a factor costs more than a primality test.
    void set_stop_depth(std::int64_t p) { stop_depth_.store(p > 0 ? p : INT64_MAX); }
    bool paused() const;
    bool stop_requested() const { return (interrupt_.load() & kStop) != 0; }
    int nice() const;   // what the run's threads are set to
    int workers() const { return settings_.workers; }   // as asked (0: one per processor)

    // The run's threads, for priority changes. A front end that plays a
    // run itself (tests) may register ids of its own.
    void add_thread(pid_t tid);
    std::vector<pid_t> thread_ids() const;

private:
    friend class RunCoordinator;

    // Bits of the stop word the engine reads once per prime.
    static constexpr std::int32_t kStop = 1;    // the user's stop
    static constexpr std::int32_t kAbort = 2;   // the run's own end (a failed check, no more primes)
    static constexpr std::int32_t kPause = 4;

    void raise(std::int32_t bits);
    bool ending() const { return (interrupt_.load() & (kStop | kAbort)) != 0; }
    // A sieving thread waits here while the run is paused.
    void wait_while_paused();
    // The thread that calls it belongs to the run: its id and nice value.
    void enter_thread();

    RunRecord& record_;
    RunEvents& events_;
    RunSettings settings_;
    StatusJournal journal_;   // the coordinator's until the final event, then the front end's
    std::atomic<std::int32_t> interrupt_{0};
    std::atomic<bool> checkpoint_wanted_{false};
    std::atomic<std::int64_t> stop_depth_{INT64_MAX};
    std::atomic<std::uint32_t> pauses_{0};   // counts pause() and resume() calls
    mutable std::mutex mutex_;
    std::condition_variable resumed_;
    std::vector<pid_t> tids_;
    bool priority_refused_ = false;
    std::thread thread_;
};

}  // namespace zud
