#include "engine/segmented_sieve.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "engine/support/prime_source.h"

namespace {

// Both prime sources hand out the same primes from `from` on.
void expect_same_as_atkin(std::uint64_t from, std::uint64_t count, std::uint64_t limit)
{
    std::unique_ptr<void, decltype(&std::free)> memory(std::calloc(zud::SegmentedSieve::bytes_for(limit), 1),
                                                       &std::free);
    zud::SegmentedSieve sieve;
    sieve.init(memory.get(), limit);
    sieve.skip_to(from);
    auto atkin = std::make_unique<zud::PrimeSource>();
    atkin->init();
    atkin->skip_to(from);
    for (std::uint64_t i = 0; i < count; ++i)
        ASSERT_EQ(sieve.next(), atkin->next()) << "prime " << i << " from " << from;
}

TEST(SegmentedSieve, hands_out_what_the_atkin_source_hands_out)
{
    expect_same_as_atkin(0, 2000000, 1ULL << 48);   // 2, 3, 5, ... across many segments
    expect_same_as_atkin(3, 1000, 1000000);
    expect_same_as_atkin(60, 1000, 1000000);
    expect_same_as_atkin(4194300, 10000, 1ULL << 30);   // the first segment boundary
    expect_same_as_atkin(1000000000000ULL, 300000, 1000000000000ULL + (1ULL << 24));
    expect_same_as_atkin((1ULL << 32) - 100, 300000, 1ULL << 33);
    expect_same_as_atkin((1ULL << 48) - 5000000, 300000, (1ULL << 48) + (1ULL << 23));
}

TEST(SegmentedSieve, skips_forward_within_and_across_segments)
{
    const std::uint64_t limit = 1ULL << 40;
    std::unique_ptr<void, decltype(&std::free)> memory(std::calloc(zud::SegmentedSieve::bytes_for(limit), 1),
                                                       &std::free);
    zud::SegmentedSieve sieve;
    sieve.init(memory.get(), limit);
    EXPECT_EQ(sieve.next(), 2u);
    sieve.skip_to(100);
    EXPECT_EQ(sieve.next(), 101u);
    sieve.skip_to(4194305);   // exactly the second segment's first number
    EXPECT_EQ(sieve.next(), 4194319u);
    sieve.skip_to(1000000000000ULL);
    EXPECT_EQ(sieve.next(), 1000000000039ULL);
    sieve.skip_to(1000000000039ULL);   // already past: nothing more is dropped
    EXPECT_EQ(sieve.next(), 1000000000061ULL);
}

}  // namespace
