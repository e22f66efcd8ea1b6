// The lock is held only to move chunks in and out: the committer writes and
// sends outside it, since a send can wait behind a message box.
#include "run/ordered_results.h"

namespace zud {

OrderedResults::OrderedResults(std::int64_t frontier, int workers, std::size_t held_limit)
    : frontier_(frontier), workers_left_(workers), held_limit_(held_limit)
{
}

void OrderedResults::hand_in(ChunkResult result)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (abandoned_)
            return;
        const std::int64_t lo = result.lo;
        held_.emplace(lo, std::move(result));
    }
    changed_.notify_all();
}

void OrderedResults::worker_done()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        --workers_left_;
    }
    changed_.notify_all();
}

void OrderedResults::wait_for_room()
{
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return abandoned_ || held_.size() < held_limit_; });
}

bool OrderedResults::ready_locked() const
{
    return !cut_ && held_.count(frontier_) != 0;
}

std::vector<ChunkResult> OrderedResults::take_ready(std::chrono::milliseconds wait)
{
    std::vector<ChunkResult> ready;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_for(lock, wait, [this] { return abandoned_ || ready_locked() || workers_left_ == 0; });
        while (ready_locked()) {
            auto it = held_.find(frontier_);
            ChunkResult chunk = std::move(it->second);
            held_.erase(it);
            if (chunk.ended_at <= chunk.hi) {
                frontier_ = chunk.ended_at;
                cut_ = true;
            } else {
                frontier_ = chunk.hi + 1;
            }
            ready.push_back(std::move(chunk));
        }
    }
    if (!ready.empty())
        changed_.notify_all();
    return ready;
}

bool OrderedResults::finished()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return abandoned_ || (workers_left_ == 0 && !ready_locked());
}

std::int64_t OrderedResults::frontier()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return frontier_;
}

void OrderedResults::abandon()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        abandoned_ = true;
        held_.clear();
    }
    changed_.notify_all();
}

}  // namespace zud
