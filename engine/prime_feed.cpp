// Switching between the two prime sources, and the library's windows.
#include "engine/prime_feed.h"

#include <exception>

namespace zud {

namespace {

// Our sieve must judge every number up to the first prime above its last
// one; prime gaps below 2^64 are far below this.
constexpr std::uint64_t kReach = std::uint64_t{1} << 23;

std::uint64_t sieve_limit(std::uint64_t limit)
{
    return (limit < PrimeFeed::kLibraryFrom ? limit : PrimeFeed::kLibraryFrom) + kReach;
}

// Our sieve hands out the primes below this, and the first one from here
// on; it judges well past that prime.
std::uint64_t sieve_end(std::uint64_t limit)
{
    const std::uint64_t end = limit < PrimeFeed::kLibraryFrom ? limit + kReach / 2 : PrimeFeed::kLibraryFrom;
    return end < PrimeFeed::kLibraryFrom ? end : PrimeFeed::kLibraryFrom;
}

}  // namespace

std::uint64_t PrimeFeed::bytes_for(std::uint64_t first, std::uint64_t limit)
{
    return first >= sieve_end(limit) ? 0 : SegmentedSieve::bytes_for(sieve_limit(limit));
}

void PrimeFeed::init(void* memory, std::uint64_t first, std::uint64_t limit)
{
    limit_ = limit;
    failed_ = false;
    held_ = 0;
    sieve_end_ = sieve_end(limit);
    if (first >= sieve_end_) {
        enter_library(first);
        return;
    }
    in_library_ = false;
    sieve_.init(memory, sieve_limit(limit));
    sieve_.skip_to(first);
}

void PrimeFeed::skip_to(std::uint64_t to)
{
    if (!in_library_ && to < sieve_end_) {
        sieve_.skip_to(to);
        return;
    }
    if (!in_library_) {
        enter_library(to);
        return;
    }
    if (held_ != 0 && held_ >= to)
        return;
    held_ = 0;
    if (to <= library_position_ || failed_)
        return;   // never back
    if (to > window_end_) {
        jump(to);
        return;
    }
    // Inside the window taking primes is far cheaper than a new window.
    for (std::uint64_t p = next_from_library(); p != 0; p = next_from_library()) {
        if (p >= to) {
            held_ = p;
            return;
        }
    }
}

void PrimeFeed::enter_library(std::uint64_t from)
{
    in_library_ = true;
    jump(from);
}

void PrimeFeed::jump(std::uint64_t from)
{
    // A window never reaches far past the feed's limit: a short range pays
    // only for the integers it needs.
    const std::uint64_t most = (limit_ > from ? limit_ : from) + kReach;
    window_end_ = most - from < kWindow ? most : from + kWindow;
    library_position_ = from;
    held_ = 0;
    library_.jump_to(from, window_end_);
}

std::uint64_t PrimeFeed::next_from_library()
{
    if (held_ != 0) {
        const std::uint64_t p = held_;
        held_ = 0;
        return p;
    }
    if (failed_)
        return 0;
    try {
        const std::uint64_t p = library_.next_prime();
        library_position_ = p + 1;
        // Primes past the stop hint are still right, but the library would
        // sieve on in its own, far larger steps: start the next window.
        if (p > window_end_)
            jump(p + 1);
        return p;
    } catch (const std::exception&) {
        failed_ = true;
        return 0;
    }
}

}  // namespace zud
