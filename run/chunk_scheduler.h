// Hands out consecutive chunks of the prime range to the workers from one
// rising position, sized so that each takes well under a second: the resume
// point then trails the front by little, and short ranges still keep every
// worker busy.
#pragma once

#include <atomic>
#include <cstdint>

namespace zud {

class ChunkScheduler {
public:
    // Chunks tile [pmin, pmax] with no gap or overlap.
    ChunkScheduler(std::int64_t pmin, std::int64_t pmax, int workers);

    // The next chunk [lo, hi]; false once the range is handed out.
    bool next(std::int64_t& lo, std::int64_t& hi);
    // As next(), with a span of the caller's own: an OpenCL device sieves
    // many times faster than a processor worker and learns its own.
    bool next(std::int64_t& lo, std::int64_t& hi, std::int64_t span);
    // The span after a whole chunk of `span` p took `seconds`, toward
    // `target` seconds, growing by at most `growth` at a time.
    static std::int64_t adjusted_span(std::int64_t span, double seconds, double target, double growth);
    // A whole chunk of `span` p took `seconds`: the next chunks aim at the
    // target time from that rate.
    void record(std::int64_t span, double seconds);

    std::int64_t span() const { return span_.load(std::memory_order_relaxed); }

    static constexpr double kTargetSeconds = 0.2;
    static constexpr std::int64_t kMinSpan = std::int64_t{1} << 12;
    static constexpr std::int64_t kFirstSpan = std::int64_t{1} << 14;

private:
    // Each on a cache line of its own: every worker touches them.
    alignas(64) std::atomic<std::int64_t> next_lo_;
    alignas(64) std::atomic<std::int64_t> span_;
    alignas(64) const std::int64_t pmax_;
    const int workers_;
};

}  // namespace zud
