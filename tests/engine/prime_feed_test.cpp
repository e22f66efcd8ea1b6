#include "engine/prime_feed.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "planted.h"

namespace {

using Memory = std::unique_ptr<void, decltype(&std::free)>;

struct Feed {
    Feed(std::uint64_t first, std::uint64_t limit)
        : memory(std::calloc(zud::PrimeFeed::bytes_for(first, limit) + 8, 1), &std::free)
    {
        feed.init(memory.get(), first, limit);
    }
    Memory memory;
    zud::PrimeFeed feed;
};

// Our segmented sieve, sized for numbers up to `limit`, from `from` on.
struct Sieve {
    Sieve(std::uint64_t from, std::uint64_t limit)
        : memory(std::calloc(zud::SegmentedSieve::bytes_for(limit), 1), &std::free)
    {
        sieve.init(memory.get(), limit);
        sieve.skip_to(from);
    }
    Memory memory;
    zud::SegmentedSieve sieve;
};

TEST(PrimeFeed, the_library_hands_out_what_our_sieve_hands_out_above_2_48)
{
    // Our sieve reaches past 2^48 when sized for it; the feed has switched
    // to the library there.
    const std::uint64_t from = (1ULL << 48) + 1000;
    Sieve ours(from, from + (1ULL << 26));
    Feed feed(from, 1ULL << 60);
    for (int i = 0; i < 200000; ++i)
        ASSERT_EQ(feed.feed.next(), ours.sieve.next()) << "prime " << i;
}

TEST(PrimeFeed, crosses_2_48_and_a_library_window_without_losing_or_repeating_a_prime)
{
    const std::uint64_t from = (1ULL << 48) - 3000000;
    Sieve ours(from, (1ULL << 48) + zud::PrimeFeed::kWindow + (1ULL << 24));
    Feed feed(from, 1ULL << 61);   // full windows: the second starts past 2^48 + kWindow
    std::uint64_t p = 0;
    for (std::uint64_t i = 0; p < (1ULL << 48) + zud::PrimeFeed::kWindow + 100000; ++i) {
        p = feed.feed.next();
        ASSERT_EQ(p, ours.sieve.next()) << "prime " << i;
    }
}

TEST(PrimeFeed, near_2_55_1e17_and_2_62_it_hands_out_exactly_the_primes)
{
    for (std::uint64_t from : {1ULL << 55, 100000000000000000ULL, (1ULL << 62) - 30000}) {
        const std::uint64_t to = from + 30000;
        Feed feed(from, to);
        for (std::uint64_t q : zud_test::primes_between(from, to))
            ASSERT_EQ(feed.feed.next(), q) << "from " << from;
        EXPECT_GT(feed.feed.next(), to);   // the first prime above the limit, as the loop needs it
    }
}

TEST(PrimeFeed, skips_only_forward_below_and_above_2_48)
{
    Feed feed(100, (1ULL << 48) + 100000000);
    EXPECT_EQ(feed.feed.next(), 101u);
    feed.feed.skip_to(1000000000000ULL);
    EXPECT_EQ(feed.feed.next(), 1000000000039ULL);
    feed.feed.skip_to(1000000000039ULL);   // already past: nothing more is dropped
    EXPECT_EQ(feed.feed.next(), 1000000000061ULL);
    feed.feed.skip_to(1ULL << 48);   // into the library
    const std::uint64_t first = zud_test::primes_between(1ULL << 48, (1ULL << 48) + 200).front();
    EXPECT_EQ(feed.feed.next(), first);
    feed.feed.skip_to(first + 5000);   // inside the library's window
    const auto later = zud_test::primes_between(first + 5000, first + 6000);
    EXPECT_EQ(feed.feed.next(), later[0]);
    feed.feed.skip_to(100);   // never back
    EXPECT_EQ(feed.feed.next(), later[1]);
    feed.feed.skip_to((1ULL << 48) + 50000000);   // past the window
    EXPECT_EQ(feed.feed.next(), zud_test::primes_between((1ULL << 48) + 50000000, (1ULL << 48) + 50001000).front());
}

TEST(PrimeFeed, stays_right_when_moved_or_read_far_past_its_limit)
{
    Feed moved(3, 1000000);
    EXPECT_EQ(moved.feed.next(), 3u);
    moved.feed.skip_to(1000000000000ULL);   // far past what our sieve was sized for
    EXPECT_EQ(moved.feed.next(), 1000000000039ULL);
    Feed read(1000, 2000);
    // Past 2000 + 2^22 the library takes over.
    for (std::uint64_t q : zud_test::primes_below(6000000)) {
        if (q >= 1000) {
            ASSERT_EQ(read.feed.next(), q);
        }
    }
}

TEST(PrimeFeed, a_feed_that_starts_above_2_48_needs_no_memory_of_ours)
{
    EXPECT_EQ(zud::PrimeFeed::bytes_for(1ULL << 50, 1ULL << 51), 0u);
    EXPECT_GT(zud::PrimeFeed::bytes_for(3, 1000000), 0u);
    // Below 2^48 our sieve is sized for 2^48 at most, whatever the limit.
    EXPECT_EQ(zud::PrimeFeed::bytes_for(3, 1ULL << 62), zud::PrimeFeed::bytes_for(3, 1ULL << 48));
    Feed feed(1ULL << 50, (1ULL << 50) + 1000);
    EXPECT_EQ(feed.feed.next(), zud_test::primes_between(1ULL << 50, (1ULL << 50) + 1000).front());
}

}  // namespace
