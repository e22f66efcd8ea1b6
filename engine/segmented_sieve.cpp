// Segments of 2^21 odd numbers, sieved by every odd prime up to the square
// root of the segment's end.
#include "engine/segmented_sieve.h"

#include <cmath>
#include <cstring>

namespace zud {

namespace {

std::uint64_t integer_sqrt(std::uint64_t n)
{
    auto r = static_cast<std::uint64_t>(std::sqrt(static_cast<double>(n)));
    while (r * r > n)
        --r;
    while ((r + 1) * (r + 1) <= n)
        ++r;
    return r;
}

// At least the number of primes up to n (pi(n) < 1.26 n / ln n).
std::uint64_t prime_count_bound(std::uint64_t n)
{
    const double x = static_cast<double>(n < 100 ? 100 : n);
    return static_cast<std::uint64_t>(1.26 * x / std::log(x)) + 10;
}

// Index, from `low` (odd), of the first odd multiple of q that is at least
// q^2 and at least low.
std::uint64_t first_index(std::uint64_t q, std::uint64_t low)
{
    std::uint64_t first = q * q;
    if (low > first) {
        const std::uint64_t r = low % q;
        first = r == 0 ? low : low + (q - r);
        if ((first & 1) == 0)
            first += q;
    }
    return (first - low) / 2;
}

}  // namespace

std::uint64_t SegmentedSieve::bytes_for(std::uint64_t limit)
{
    const std::uint64_t root = integer_sqrt(limit) + 1;
    return 8 * kWords + 8 * prime_count_bound(root) + 8 * (root / 128 + 2);
}

void SegmentedSieve::init(void* memory, std::uint64_t limit)
{
    const std::uint64_t root = integer_sqrt(limit) + 1;
    const std::uint64_t bound = prime_count_bound(root);
    bits_ = static_cast<std::uint64_t*>(memory);
    primes_ = reinterpret_cast<std::uint32_t*>(bits_ + kWords);
    offsets_ = primes_ + bound;
    // The sieving primes: a plain sieve of the odd numbers up to root in
    // the space after the offsets (index i stands for 2i + 1).
    auto* small = reinterpret_cast<std::uint64_t*>(offsets_ + bound);
    const std::uint64_t odd_count = root / 2 + 1;
    std::memset(small, 0, 8 * (odd_count / 64 + 1));
    prime_count_ = 0;
    for (std::uint64_t i = 1; i < odd_count; ++i) {
        if (small[i / 64] >> (i % 64) & 1)
            continue;
        const std::uint64_t q = 2 * i + 1;
        primes_[prime_count_++] = static_cast<std::uint32_t>(q);
        for (std::uint64_t j = q * q / 2; j < odd_count; j += q)
            small[j / 64] |= std::uint64_t{1} << (j % 64);
    }
    active_ = 0;
    two_pending_ = true;
    sieve_segment(1);
    word_index_ = 0;
    word_ = ~bits_[0];
}

void SegmentedSieve::sieve_segment(std::uint64_t low)
{
    const std::uint64_t high = low + 2 * (kSpan - 1);   // last odd number of the segment
    std::memset(bits_, 0, 8 * kWords);
    // Primes whose squares come into reach start at their squares.
    while (active_ < prime_count_ && static_cast<std::uint64_t>(primes_[active_]) * primes_[active_] <= high) {
        offsets_[active_] = static_cast<std::uint32_t>(first_index(primes_[active_], low));
        ++active_;
    }
    for (std::uint32_t k = 0; k < active_; ++k) {
        const std::uint32_t q = primes_[k];
        std::uint64_t i = offsets_[k];
        for (; i < kSpan; i += q)
            bits_[i / 64] |= std::uint64_t{1} << (i % 64);
        offsets_[k] = static_cast<std::uint32_t>(i - kSpan);
    }
    if (low == 1)
        bits_[0] |= 1;   // 1 is not a prime
    low_ = low;
}

// Moves the cursor forward to the first odd number not below `to`; primes
// already handed out never come again.
void SegmentedSieve::place_cursor(std::uint64_t to)
{
    const std::uint64_t index = to <= low_ ? 0 : (to - low_ + 1) / 2;
    const auto word = static_cast<std::uint32_t>(index / 64);
    if (word < word_index_)
        return;
    const std::uint64_t later = ~std::uint64_t{0} << (index % 64);
    if (word == word_index_) {
        word_ &= later;
        return;
    }
    word_index_ = word;
    word_ = word < kWords ? ~bits_[word] & later : 0;
}

void SegmentedSieve::advance()
{
    if (++word_index_ >= kWords) {
        sieve_segment(low_ + 2 * kSpan);
        word_index_ = 0;
    }
    word_ = ~bits_[word_index_];
}

void SegmentedSieve::skip_to(std::uint64_t to)
{
    if (to > 2)
        two_pending_ = false;
    const std::uint64_t segment = 2 * kSpan;
    if (to >= low_ + segment) {
        // Whole segments are skipped unsieved: the offsets are computed
        // afresh for the segment that holds `to`.
        const std::uint64_t low = low_ + (to - low_) / segment * segment;
        for (std::uint32_t k = 0; k < active_; ++k)
            offsets_[k] = static_cast<std::uint32_t>(first_index(primes_[k], low));
        sieve_segment(low);
        word_index_ = 0;
        word_ = ~bits_[0];
    }
    place_cursor(to);
}

}  // namespace zud
