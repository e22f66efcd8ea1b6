#include "engine/search.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "engine/mod_arith.h"
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
    zud::clear_buckets(view, geo);
    for (int u = 0; u < zud::kBuckets; ++u)   // the presence words; the newest indices may stay
        ASSERT_EQ(t.buckets[static_cast<std::size_t>(u)], 0u);
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
