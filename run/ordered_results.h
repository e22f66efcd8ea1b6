// Finished chunks wait here until every lower chunk is finished too, so
// that results reach the status file in ascending p, as one worker would
// have written them. The frontier, the start of the lowest unfinished
// chunk, is the run's resume point.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

#include "engine/work_digest.h"

namespace zud {

// One hit of the engine that passed the worker's screening: n in range,
// still a candidate when seen, and checked (`verified` false: the check
// failed, which only counts if no lower prime removes the n first).
struct ChunkHit {
    std::int64_t p;
    std::int32_t k_index;
    std::int32_t n;
    bool verified;
};

struct ChunkResult {
    std::int64_t lo = 0;
    std::int64_t hi = 0;
    // The first prime not searched: above hi when the chunk is whole.
    std::int64_t ended_at = 0;
    std::vector<ChunkHit> hits;   // ascending p; within one p by k index, then n
    WorkDigest digest{};          // of the primes searched, when the run asks for it
};

class OrderedResults {
public:
    // `held_limit`: finished chunks held beyond the frontier before the
    // workers wait for the lowest one.
    OrderedResults(std::int64_t frontier, int workers, std::size_t held_limit);

    void hand_in(ChunkResult result);
    // A worker has taken its last chunk and handed it in.
    void worker_done();
    // The workers wait here while too many chunks are held.
    void wait_for_room();

    // Waits up to `wait` for a chunk at the frontier, then takes every
    // chunk that follows on without a gap. The frontier moves past them:
    // to ended_at of a chunk that was not whole, after which nothing more
    // follows on.
    std::vector<ChunkResult> take_ready(std::chrono::milliseconds wait);
    // True once every worker is done and nothing can follow on any more.
    bool finished();
    std::int64_t frontier();
    // Ends every wait: the run is over, held chunks are dropped.
    void abandon();

private:
    bool ready_locked() const;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::int64_t, ChunkResult> held_;
    std::int64_t frontier_;
    bool cut_ = false;   // a chunk ended early: nothing above it follows on
    int workers_left_;
    std::size_t held_limit_;
    bool abandoned_ = false;
};

}  // namespace zud
