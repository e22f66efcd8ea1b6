#include "engine/support/prime_source.h"

#include <gtest/gtest.h>

#include <memory>

#include "reference.h"

namespace {

using zud::PrimeSource;

std::unique_ptr<PrimeSource> source_at(std::uint64_t to)
{
    auto source = std::make_unique<PrimeSource>();
    source->init();
    source->skip_to(to);
    return source;
}

// Every prime of [from, to) in order, none missing or repeated, against an
// independent primality test.
void expect_window_exact(std::uint64_t from, std::uint64_t to)
{
    auto source = source_at(from);
    std::uint64_t expected = from;
    while (!zud_test::is_prime(expected))
        ++expected;
    while (expected < to) {
        ASSERT_EQ(source->next(), expected) << "window from " << from;
        ++expected;
        while (!zud_test::is_prime(expected))
            ++expected;
    }
}

TEST(PrimeSource, hands_out_the_primes_below_a_million_in_order)
{
    auto source = source_at(0);
    const auto expected = zud_test::primes_below(1000000);
    ASSERT_EQ(expected.size(), 78498u);
    for (std::uint64_t p : expected)
        ASSERT_EQ(source->next(), p);
    EXPECT_EQ(source->next(), 1000003u);
}

TEST(PrimeSource, matches_eratosthenes_across_many_segments)
{
    auto source = source_at(3);
    const auto expected = zud_test::primes_below(40000000);
    for (std::size_t i = 1; i < expected.size(); ++i)
        ASSERT_EQ(source->next(), expected[i]);
}

TEST(PrimeSource, skip_to_lands_on_the_smallest_prime_not_below)
{
    EXPECT_EQ(source_at(3)->next(), 3u);
    EXPECT_EQ(source_at(60)->next(), 61u);
    EXPECT_EQ(source_at(1000003)->next(), 1000003u);
    EXPECT_EQ(source_at(4294967296ULL)->next(), 4294967311ULL);
    EXPECT_EQ(source_at(1000000000000ULL)->next(), 1000000000039ULL);
}

TEST(PrimeSource, segment_boundary_is_crossed_without_loss)
{
    // The first segment ends at 1,920,059; the second starts at 1,920,060.
    expect_window_exact(1900000, 1960000);
    expect_window_exact(60ULL * 32001 * 3 - 5000, 60ULL * 32001 * 3 + 5000);
}

TEST(PrimeSource, windows_far_ahead_are_exact)
{
    expect_window_exact(1000000000000ULL, 1000000000000ULL + 4000000);
    expect_window_exact(4294967296ULL - 100000, 4294967296ULL + 2000000);
    expect_window_exact(123456789012345ULL, 123456789012345ULL + 2000000);
    const std::uint64_t top = 1ULL << 48;
    expect_window_exact(top - 2500000, top + 500000);
}
}  // namespace
