// A second prime source with the same output as PrimeSource: a segmented
// sieve of Eratosthenes over the odd numbers. Its cost per segment grows
// with the number of sieving primes, not with the rows of the quadratic
// forms, so near 2^48 it is many times cheaper.
#pragma once

#include <cstdint>

namespace zud {

class SegmentedSieve {
public:
    static constexpr std::uint64_t kSpan = std::uint64_t{1} << 21;   // odd numbers a segment

    // Memory the caller provides for numbers up to `limit` (8-byte aligned).
    static std::uint64_t bytes_for(std::uint64_t limit);
    // Every prime up to `limit` comes out right; `memory` holds bytes_for(limit).
    void init(void* memory, std::uint64_t limit);
    // Drops every prime below `to` (never moves back).
    void skip_to(std::uint64_t to);
    // The smallest prime not yet handed out.
    std::uint64_t next()
    {
        if (two_pending_) {
            two_pending_ = false;
            return 2;
        }
        while (word_ == 0)
            advance();
        const int bit = __builtin_ctzll(word_);
        word_ &= word_ - 1;
        return low_ + 2 * (64 * static_cast<std::uint64_t>(word_index_) + static_cast<std::uint64_t>(bit));
    }

private:
    static constexpr std::uint64_t kWords = kSpan / 64;

    void advance();
    // Sieves the segment from `low`; offsets_ of the active primes must
    // count from `low`, and count from the next segment afterwards.
    void sieve_segment(std::uint64_t low);
    void place_cursor(std::uint64_t to);

    std::uint32_t* primes_ = nullptr;    // odd sieving primes, ascending
    std::uint32_t* offsets_ = nullptr;   // per sieving prime: next index to mark, from the segment's low end
    std::uint64_t* bits_ = nullptr;      // 1: composite; index i stands for low + 2i
    std::uint32_t prime_count_ = 0;
    std::uint32_t active_ = 0;           // sieving primes whose offsets are kept
    std::uint64_t low_ = 0;              // odd number of index 0 of the current segment
    std::uint32_t word_index_ = 0;
    std::uint64_t word_ = 0;             // primes of the current word not yet handed out
    bool two_pending_ = false;
};

}  // namespace zud
