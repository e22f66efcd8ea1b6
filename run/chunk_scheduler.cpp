// Chunk sizes: small first chunks (the start of an initial creation is
// dense in factors), then grown by a sixteenth or shrunk by up to a half per
// finished chunk toward the target time, and near pmax no more than a
// worker's share of what is left. Slow growth keeps the work held above the
// resume point small while the rate is still being learnt.
#include "run/chunk_scheduler.h"

namespace zud {

// No prime source reaches past 2^62, so a pmax from a status file is cut
// well below the point where chunk ends could overflow.
ChunkScheduler::ChunkScheduler(std::int64_t pmin, std::int64_t pmax, int workers)
    : next_lo_(pmin), span_(kFirstSpan), pmax_(pmax < (std::int64_t{1} << 62) ? pmax : std::int64_t{1} << 62),
      workers_(workers < 1 ? 1 : workers)
{
}

bool ChunkScheduler::next(std::int64_t& lo, std::int64_t& hi)
{
    return next(lo, hi, -1);
}

bool ChunkScheduler::next(std::int64_t& lo, std::int64_t& hi, std::int64_t own_span)
{
    std::int64_t start = next_lo_.load(std::memory_order_relaxed);
    for (;;) {
        if (start > pmax_)
            return false;
        const std::int64_t left = pmax_ - start + 1;
        std::int64_t span = own_span > 0 ? own_span : span_.load(std::memory_order_relaxed);
        const std::int64_t share = left / workers_;
        if (span > share)
            span = share < kMinSpan ? kMinSpan : share;
        if (span > left)
            span = left;
        const std::int64_t end = start + span - 1;
        if (next_lo_.compare_exchange_weak(start, end + 1, std::memory_order_relaxed)) {
            lo = start;
            hi = end;
            return true;
        }
    }
}

namespace {

constexpr double kGrowth = 1.0625;

}  // namespace

void ChunkScheduler::record(std::int64_t span, double seconds)
{
    if (span > 0)
        span_.store(adjusted_span(span, seconds, kTargetSeconds, kGrowth), std::memory_order_relaxed);
}

std::int64_t ChunkScheduler::adjusted_span(std::int64_t span, double seconds, double target, double growth)
{
    double factor = seconds > 0 ? target / seconds : growth;
    if (factor > growth)
        factor = growth;
    if (factor < 0.5)
        factor = 0.5;
    auto next = static_cast<std::int64_t>(static_cast<double>(span) * factor);
    if (next < kMinSpan)
        next = kMinSpan;
    if (next > (std::int64_t{1} << 40))
        next = std::int64_t{1} << 40;
    return next;
}

}  // namespace zud
