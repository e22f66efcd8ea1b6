#include "engine/setup.h"

#include <gtest/gtest.h>

#include "engine/mod_arith.h"
#include "sieve_harness.h"

namespace {

TEST(SieveSetup, spacings_reduce_to_48_or_below)
{
    const std::pair<int, int> cases[] = {{96, 48}, {144, 48}, {120, 30}, {360, 45}, {175, 35}, {63, 21},
                                         {54, 27}, {49, 7},   {72, 36},  {24, 24},  {1, 1},     {907200, 48}};
    for (auto [in, out] : cases)
        EXPECT_EQ(zud::reduce_spacing(in, 48), out) << in;
    EXPECT_EQ(zud::reduce_spacing(11 * 13, 48), 143);   // cannot be reduced
}

TEST(SieveSetup, residue_limit_keeps_base_terms_within_2_to_60)
{
    EXPECT_EQ(zud::residue_limit(1), 60);
    EXPECT_EQ(zud::residue_limit(5), 57);
    EXPECT_EQ(zud::residue_limit(20003), 45);
    EXPECT_EQ(zud::residue_limit(70001), 43);
    EXPECT_EQ(zud::reduce_spacing(48, 43), 24);
}

TEST(SieveSetup, geometry_of_the_worked_example)
{
    zud::set_worker_fpu_env();
    const zud::SearchGeometry g = zud::plan_geometry(100, 10099, 24, 1.0);
    EXPECT_EQ(g.stride, 120);
    EXPECT_EQ(g.stride_count, 84);
    EXPECT_EQ(g.nmin_eff + g.stride * g.stride_count - 1, 10179);
}

TEST(SieveSetup, degenerate_geometries_stay_valid)
{
    zud::set_worker_fpu_env();
    // R * alpha below 1: the stride is one whole lcm, never 0.
    EXPECT_EQ(zud::plan_geometry(2, 2, 12, 0.5).stride, 12);
    EXPECT_EQ(zud::plan_geometry(2, 100, 1, 0.0).stride, 1);
    // The top of the n range and a tiny alpha: 64-bit geometry, bounded table.
    const zud::SearchGeometry top = zud::plan_geometry(2, 2147483647, 1, 1e-9);
    EXPECT_GT(top.stride * top.stride_count, 2147483646LL);
    EXPECT_LE(top.stride_count, 1LL << 26);
}

TEST(SieveSetup, a_residue_above_the_limit_narrows_the_spacing)
{
    // k = 70001, spacing 48, residue 44 > 43: spacing 24, residue 20.
    std::int32_t k = 70001, r = 44, d = 48;
    zud::run_sieve(2, 500, 3, 5, &k, &r, &d, 1, [](std::int32_t, std::int32_t, std::int64_t) {},
                   [](std::uint32_t size) { return std::calloc(size, 1); }, [](void* b) { std::free(b); },
                   [](std::int64_t) {}, 2.5);
    EXPECT_EQ(d, 24);
    EXPECT_EQ(r, 20);
}

TEST(SieveSetup, unreducible_spacing_gives_up_with_its_message)
{
    zud_test::SieveCase c;
    c.k = {5, 7};
    c.residues = {0, 0};
    c.spacings = {24, 143};
    const auto out = zud_test::run_case(c);
    EXPECT_EQ(out.result, 0);
    EXPECT_EQ(out.blocks_outstanding, 0);
    EXPECT_TRUE(out.hits.empty());
    EXPECT_EQ(out.texts, std::vector<std::string>{"Cannot reduce gcd value of 143"});
}

TEST(SieveSetup, empty_n_range_returns_zero_silently)
{
    zud_test::SieveCase c;
    c.nmin = 1;
    c.nmax = 1;   // effective nmin is 2
    c.k = {5};
    c.residues = {0};
    c.spacings = {1};
    const auto out = zud_test::run_case(c);
    EXPECT_EQ(out.result, 0);
    EXPECT_EQ(out.blocks_outstanding, 0);
    EXPECT_TRUE(out.hits.empty());
    EXPECT_TRUE(out.progress.empty());
    EXPECT_TRUE(out.texts.empty());
}

}  // namespace
