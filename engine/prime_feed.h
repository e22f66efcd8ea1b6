// The primes of one run (or of one worker's consecutive sub-ranges), in
// order, only ever moving forward: our segmented sieve below 2^48, where it
// is exact and cheap, and the primesieve library's iterator above, where
// the sieving primes reach 2^31 and most of them hit a segment at most once.
#pragma once

#include <cstdint>

#include <primesieve/iterator.hpp>

#include "engine/segmented_sieve.h"

namespace zud {

class PrimeFeed {
public:
    // Our sieve hands out no prime above this but the first; the library
    // those after it.
    static constexpr std::uint64_t kLibraryFrom = std::uint64_t{1} << 48;
    // The library sieves this many integers at a time: near 2^62 one
    // window's set-up (about a second) is a few percent of the search of
    // its primes, and its memory stays near 130 MB instead of the 0.5 to
    // 0.8 GB that one unbounded sieve up to 2^62 holds.
    static constexpr std::uint64_t kWindow = std::uint64_t{1} << 28;

    // Caller-provided memory for a feed from `first` on whose primes must be
    // right up to the first prime above `limit`; 0 when our sieve is not
    // needed at all.
    static std::uint64_t bytes_for(std::uint64_t first, std::uint64_t limit);
    // `memory`: bytes_for(first, limit) zero-filled bytes, 8-byte aligned
    // (may be null when that is 0). The first prime handed out is the
    // smallest not below `first`. Past 2^48, and past `limit` by a margin,
    // the library takes over, so the feed stays right wherever it is moved
    // or read to later; it is fastest when `limit` covers every range it
    // will serve (a new library window costs about a second near 2^62).
    void init(void* memory, std::uint64_t first, std::uint64_t limit);
    // Drops every prime below `to`; never moves back.
    void skip_to(std::uint64_t to);
    // The smallest prime not yet handed out; 0 when the library failed
    // (out of memory), after which the feed hands out nothing more.
    std::uint64_t next()
    {
        if (!in_library_) {
            const std::uint64_t p = sieve_.next();
            if (p < sieve_end_)
                return p;
            // The sieve judges up to 2^23 past min(limit, 2^48), past this prime.
            enter_library(p + 1);
            return p;
        }
        return next_from_library();
    }

private:
    void enter_library(std::uint64_t from);
    void jump(std::uint64_t from);
    std::uint64_t next_from_library();

    SegmentedSieve sieve_;
    primesieve::iterator library_;
    bool in_library_ = false;
    bool failed_ = false;
    std::uint64_t window_end_ = 0;         // the stop hint of the library's current window
    std::uint64_t library_position_ = 0;   // no prime below this is still to come
    std::uint64_t held_ = 0;               // a prime taken from the library, not yet handed out
    std::uint64_t limit_ = 0;
    std::uint64_t sieve_end_ = 0;   // our sieve's primes end at the first one from here
};

}  // namespace zud
