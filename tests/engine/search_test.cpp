#include "engine/search/search.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "engine/mod_arith.h"
#include "engine/search/fast_search.h"
#include "engine/support/searches.h"
#include "reference.h"
#include "sieve_harness.h"

namespace {

// Tables for one k over the given geometry, on plain vectors.
struct Tables {
    explicit Tables(const zud::SearchGeometry& geo)
        : stride(static_cast<std::size_t>(geo.stride_count)), links(stride.size()), buckets(zud::kBucketWords)
    {
    }
    zud::SearchTables view()
    {
        return {1, &base, &step, &spacing, &residue, &filter, &active, stride.data(), links.data(), buckets.data()};
    }
    std::int64_t base = 5, step = 2, filter = zud::kAlwaysActive;
    std::int32_t spacing = 1, residue = 0, active = 0;
    std::vector<std::int64_t> stride;
    std::vector<std::uint32_t> links;
    std::vector<std::uint32_t> buckets;
};

TEST(Search, a_probe_in_p_to_2p_still_meets_its_table_entry)
{
    zud::set_worker_fpu_env();
    const std::int64_t p = 281474976710597;   // a prime just below 2^48
    const long double recip = zud::reciprocal_of(p);
    const zud::SearchGeometry geo{2, 120, 84};
    Tables t(geo);
    const zud::SearchTables view = t.view();
    zud::build_stride_table(view, geo, p, recip);
    for (std::int64_t e : {0, 1, 37, 83}) {
        const std::int64_t value = t.stride[static_cast<std::size_t>(e)];
        ASSERT_GE(value, 0);
        ASSERT_LT(value, p);
        std::vector<std::int32_t> reported;
        auto collect = [&](std::int32_t, std::int32_t n, std::int64_t) { reported.push_back(n); };
        zud::probe(view, geo, value + p, 7, 0, p, collect);   // the loose form of the same residue
        ASSERT_EQ(reported.size(), 1u) << "entry " << e;
        EXPECT_EQ(reported[0], 2 + 7 + e * 120);
    }
    // The links take an empty bucket's newest index as the end of its chain:
    // the clear must leave both words of every bucket at zero.
    zud::clear_bucket_table(view, geo);
    for (const std::uint32_t word : t.buckets)
        ASSERT_EQ(word, 0u);
    // Were a bucket ever left uncleared, a chain through an older prime's
    // links could turn back on itself: the walk ends instead.
    const std::int64_t value = t.stride[5];
    const std::uint32_t u = zud::bucket_of(value);
    t.buckets[2 * u] = 1u << (value & 31);
    t.buckets[2 * u + 1] = 9;
    t.links[9] = 5;
    t.links[5] = 40;   // a step up: from here the chain would cycle
    t.links[40] = 9;
    int reported = 0;
    zud::probe(view, geo, value, 0, 0, p, [&](std::int32_t, std::int32_t, std::int64_t) { ++reported; });
    EXPECT_EQ(reported, 1);
}

// The tables serve prime after prime and the clear visits only the used
// buckets: a bucket's chain must hold exactly this prime's entries of that
// bucket, never an index left from a longer table before.
TEST(Search, chains_hold_only_the_current_primes_entries_after_a_longer_table)
{
    zud::set_worker_fpu_env();
    const zud::SearchGeometry longer{2, 7, 30000}, shorter{5, 11, 900};
    Tables t(longer);
    const zud::SearchTables view = t.view();
    for (const std::int64_t p : {std::int64_t{1000003}, std::int64_t{999999999989}, std::int64_t{1000000007}}) {
        const zud::SearchGeometry& geo = p == 999999999989 ? longer : shorter;
        zud::build_stride_table(view, geo, p, zud::reciprocal_of(p));
        std::vector<int> seen(static_cast<std::size_t>(geo.stride_count), 0);
        seen[0] = 1;   // entry 0 ends every chain; probes test it on its own
        for (std::uint32_t u = 0; u < static_cast<std::uint32_t>(zud::kBuckets); ++u) {
            if (t.buckets[2 * u] == 0)
                continue;
            for (std::uint32_t e = t.buckets[2 * u + 1]; e != 0; e = t.links[e]) {
                ASSERT_LT(e, static_cast<std::uint32_t>(geo.stride_count)) << "p " << p;
                ASSERT_EQ(zud::bucket_of(t.stride[e]), u) << "p " << p;
                ++seen[e];
            }
        }
        for (std::size_t e = 0; e < seen.size(); ++e)
            ASSERT_EQ(seen[e], 1) << "p " << p << " entry " << e;
        zud::clear_bucket_table(view, geo);
    }
}

// More than 65,536 stride entries: the chains must not wrap their indices.
TEST(Search, stride_counts_above_65536_keep_every_chain)
{
    zud_test::SieveCase c;
    c.nmin = 2;
    c.nmax = 1000001;
    c.pmin = 1500;
    c.pmax = 2600;
    c.k = {5};
    c.residues = {0};
    c.spacings = {1};
    c.alpha = 1e-4;   // stride 10, about 100,000 entries
    const auto out = zud_test::run_case(c);
    std::set<zud_test::Hit> found, expected;
    for (const auto& h : out.hits)
        if (h.n <= c.nmax && h.n % 2 == 1)   // k = 5 keeps only odd n after the prime 3
            found.insert(h);
    for (std::uint64_t p : zud_test::primes_below(2601)) {
        if (p < 1500)
            continue;
        // 2^n mod p repeats with period p - 1 (even, so parity is kept).
        for (std::int64_t n0 = 2; n0 < static_cast<std::int64_t>(p) + 1; ++n0)
            if (n0 % 2 == 1 && zud_test::divides(p, 5, n0))
                for (std::int64_t n = n0; n <= c.nmax; n += static_cast<std::int64_t>(p) - 1)
                    expected.insert({0, static_cast<std::int32_t>(n), static_cast<std::int64_t>(p)});
    }
    EXPECT_GT(expected.size(), 1000u);
    EXPECT_EQ(found, expected);
}

}  // namespace
