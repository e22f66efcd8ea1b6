// The OpenCL search against the plain reference search, on the first
// OpenCL device (PoCL in CI): the same hits within the n range, in
// ascending p, then k index, then n; and its faults leave nothing behind.
// Every case skips, saying why, where there is no OpenCL device.
#include "engine/opencl/device_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>

#include "engine/mod_arith.h"
#include "engine/setup.h"
#include "engine/support/searches.h"
#include "engine/work_digest.h"
#include "planted.h"
#include "reference.h"
#include "sieve_harness.h"

namespace {

using zud_test::Hit;
using zud_test::SieveCase;

class DeviceSearch : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto devices = zud::list_devices();
        if (devices.empty())
            GTEST_SKIP() << "no OpenCL platform or device on this machine";
        device_ = devices[0];
    }

    struct Outcome {
        std::vector<Hit> hits;
        std::int64_t result = 0;
        std::string text;
        bool prepared = false;
        zud::WorkDigest digest;
    };

    Outcome run_device(const SieveCase& c, zud::DeviceEngine::Shape shape = {},
                       const std::atomic<std::int32_t>* stop = nullptr, bool fail_launch = false) const
    {
        Outcome out;
        zud::DeviceEngine engine;
        out.prepared = engine.prepare(
            device_, c.nmin, c.nmax, c.pmin, c.pmax, c.k.data(), c.residues.data(), c.spacings.data(),
            static_cast<std::uint32_t>(c.k.size()),
            {[&out](std::int32_t i, std::int32_t n, std::int64_t p) { out.hits.push_back({i, n, p}); },
             [&out](const char* text) { out.text += text; }},
            shape);
        if (!out.prepared || !engine.has_work())
            return out;
        engine.set_digest(&out.digest);
        if (fail_launch)
            engine.fail_next_launch();
        out.result = engine.sieve_range(c.pmin, c.pmax, stop, {});
        return out;
    }

    // The reference's hits with n in range, sorted as the device reports them.
    static std::vector<Hit> reference_hits(SieveCase c)
    {
        c.plan = zud_test::plan_of(zud_test::SearchMode::reference, zud::InstructionSet::generic);
        std::vector<Hit> kept;
        for (const Hit& h : zud_test::run_case(c).hits)
            if (h.n <= c.nmax)
                kept.push_back(h);
        std::sort(kept.begin(), kept.end());
        return kept;
    }

    // The device's hits in range, less those the reference's quadratic rule
    // never looks for (n of the parity the k's class does not have, or that
    // 3 takes in a run that sieves 3).
    static std::vector<Hit> device_hits(const SieveCase& c, const std::vector<Hit>& hits)
    {
        std::vector<Hit> kept;
        for (const Hit& h : hits) {
            const auto i = static_cast<std::size_t>(h.k_index);
            const std::int64_t s = zud::filter_value(c.k[i], c.spacings[i], std::int64_t{c.nmin} + c.residues[i],
                                                     c.pmin <= 3);
            const bool active =
                s != zud::kNeverActive && (h.p == 3 || s == zud::kAlwaysActive || zud::jacobi(s, h.p) == 1);
            if (h.n <= c.nmax && active)
                kept.push_back(h);
        }
        return kept;
    }

    std::size_t expect_same_hits(const SieveCase& c, const std::string& what,
                                 zud::DeviceEngine::Shape shape = {}) const
    {
        const Outcome out = run_device(c, shape);
        EXPECT_TRUE(out.prepared) << what << ": " << out.text;
        EXPECT_GT(out.result, c.pmax) << what;
        EXPECT_TRUE(std::is_sorted(out.hits.begin(), out.hits.end())) << what << ": not in the order of p, k, n";
        const auto expected = reference_hits(c);
        const auto got = device_hits(c, out.hits);
        EXPECT_EQ(got.size(), expected.size()) << what;
        EXPECT_TRUE(got == expected) << what;
        return expected.size();
    }

    zud::DeviceInfo device_;
};

std::int32_t random_spacing(std::mt19937_64& rng)
{
    for (;;) {
        const auto d = 1 + static_cast<std::int32_t>(rng() % 48);
        if (5040 % d == 0)
            return d;
    }
}

SieveCase random_case(std::mt19937_64& rng, std::int64_t pmin, std::int64_t span, std::int32_t n_range, int count)
{
    SieveCase c;
    c.nmin = 1 + static_cast<std::int32_t>(rng() % 3000);
    c.nmax = c.nmin + n_range;
    c.pmin = pmin;
    c.pmax = pmin + span;
    for (int i = 0; i < count; ++i) {
        const std::int32_t d = random_spacing(rng);
        c.k.push_back(rng() % 5 == 0 ? INT32_MAX - static_cast<std::int32_t>(rng() % 2000)
                                     : 1 + static_cast<std::int32_t>(rng() % 2000000));
        c.spacings.push_back(d);
        c.residues.push_back(static_cast<std::int32_t>(rng() % d));
    }
    return c;
}

// For up to `wanted` primes of the window, a k that the prime divides at some
// n of the range, in the k's class.
void plant_factors(std::mt19937_64& rng, SieveCase& c, int wanted)
{
    int planted = 0;
    for (std::int64_t p = c.pmin | 1; p < c.pmax && planted < wanted; p += 2) {
        if (!zud_test::is_prime(static_cast<std::uint64_t>(p)))
            continue;
        const auto width = static_cast<std::uint64_t>(std::int64_t{c.nmax} - c.nmin + 1);
        const auto n = static_cast<std::int32_t>(c.nmin + static_cast<std::int64_t>(rng() % width));
        const auto up = static_cast<std::uint64_t>(p);
        const std::uint64_t k = up - zud_test::pow_mod128(2, (up - 1) - static_cast<std::uint64_t>(n) % (up - 1), up);
        if (k >= (1u << 31))
            continue;
        const std::int32_t d = random_spacing(rng);
        c.k.push_back(static_cast<std::int32_t>(k));
        c.spacings.push_back(d);
        c.residues.push_back((n - c.nmin) % d);
        ++planted;
    }
}

TEST_F(DeviceSearch, same_hits_as_the_reference_in_windows_up_to_2_62)
{
    std::mt19937_64 rng(4242);
    const std::pair<std::int64_t, std::int64_t> windows[] = {
        {3, 20000},
        {(std::int64_t{1} << 32) - 20000, 40000},
        {(std::int64_t{1} << 48) - 20000, 40000},
        {(std::int64_t{1} << 52) - 20000, 40000},
        {(std::int64_t{1} << 62) - 40000, 39000},
    };
    std::size_t hits = 0;
    for (auto [from, span] : windows)
        for (int trial = 0; trial < 2; ++trial) {
            SieveCase c = random_case(rng, from, span, 200 + static_cast<std::int32_t>(rng() % 5000),
                                      1 + static_cast<int>(rng() % 9));
            plant_factors(rng, c, 4);
            // Batches of a few hundred primes: many launches, the last one short.
            hits += expect_same_hits(c, "window " + std::to_string(from) + " trial " + std::to_string(trial),
                                     {0, trial == 0 ? 300u : 0u, nullptr});
        }
    EXPECT_GT(hits, 100u);
}

// Planted factors above 2^48 and just below 2^62, where no k below 2^31
// falls out of a random prime: primes k*2^m+1 themselves.
TEST_F(DeviceSearch, planted_factors_above_2_48_and_below_2_62)
{
    std::mt19937_64 rng(62);
    std::size_t hits = 0;
    for (auto [target, m, down] : {std::tuple<std::uint64_t, int, bool>{std::uint64_t{1} << 52, 30, false},
                                   {(std::uint64_t{1} << 62) - 1, 33, true}}) {
        const zud_test::Planted planted = zud_test::plant(target, m, down);
        ASSERT_NE(planted.p, 0u);
        SieveCase c = random_case(rng, static_cast<std::int64_t>(planted.p) - 3000, 6000, 20000, 5);
        c.nmin = m - 500 > 1 ? m - 500 : 1;
        c.nmax = m + 20000;
        c.k.push_back(planted.k);
        c.residues.push_back(0);
        c.spacings.push_back(1);
        const auto expected = zud_test::exponents_dividing(planted.p, static_cast<std::uint64_t>(planted.k), c.nmin,
                                                           c.nmax);
        ASSERT_FALSE(expected.empty());
        hits += expect_same_hits(c, "planted " + std::to_string(planted.p));
        const Outcome out = run_device(c);
        std::vector<std::int32_t> found;
        for (const Hit& h : out.hits)
            if (h.k_index == static_cast<std::int32_t>(c.k.size() - 1) && h.p == static_cast<std::int64_t>(planted.p) &&
                h.n <= c.nmax)
                found.push_back(h.n);
        EXPECT_EQ(found, expected) << planted.p;
    }
    EXPECT_GE(hits, 2u);
}

TEST_F(DeviceSearch, many_k_and_small_orders_of_2)
{
    std::mt19937_64 rng(77);
    // 120 k of every spacing, planted factors among them.
    SieveCase many = random_case(rng, (std::int64_t{1} << 32) - 10000, 20000, 100000, 100);
    plant_factors(rng, many, 20);
    EXPECT_GE(expect_same_hits(many, "many k"), 10u);
    // Each prime divides 2^e + 1: one baby step meets many giant steps.
    for (auto [p, e] : {std::pair<std::int64_t, int>{67280421310721, 64}, {54410972897, 56}}) {
        SieveCase c = random_case(rng, p - 2000, 4000, 60000, 6);
        c.nmin = 2;
        c.k.insert(c.k.begin(), 1);
        c.residues.insert(c.residues.begin(), 0);
        c.spacings.insert(c.spacings.begin(), 2);
        EXPECT_GT(expect_same_hits(c, "order of 2 mod " + std::to_string(p)), 200u) << e;
    }
}

TEST_F(DeviceSearch, an_empty_window_and_an_empty_n_range)
{
    std::mt19937_64 rng(5);
    // 2^32 + 2^7 .. 2^32 + 2^7 + 14 holds no prime.
    SieveCase c = random_case(rng, (std::int64_t{1} << 32) + 128, 14, 1000, 4);
    const Outcome out = run_device(c);
    EXPECT_TRUE(out.hits.empty());
    EXPECT_GT(out.result, c.pmax);
    EXPECT_EQ(out.digest.primes, 0u);
    c.nmin = 50;
    c.nmax = 40;
    zud::DeviceEngine engine;
    EXPECT_TRUE(engine.prepare(device_, c.nmin, c.nmax, c.pmin, c.pmax, c.k.data(), c.residues.data(),
                               c.spacings.data(), static_cast<std::uint32_t>(c.k.size()), {}));
    EXPECT_FALSE(engine.has_work());
}

TEST_F(DeviceSearch, a_stop_resumes_at_the_first_prime_not_searched)
{
    std::mt19937_64 rng(9);
    SieveCase c = random_case(rng, (std::int64_t{1} << 40), 200000, 3000, 6);
    plant_factors(rng, c, 8);
    const Outcome whole = run_device(c);
    std::atomic<std::int32_t> stop{1};
    zud::DeviceEngine engine;
    std::vector<Hit> hits;
    ASSERT_TRUE(engine.prepare(device_, c.nmin, c.nmax, c.pmin, c.pmax, c.k.data(), c.residues.data(),
                               c.spacings.data(), static_cast<std::uint32_t>(c.k.size()),
                               {[&hits](std::int32_t i, std::int32_t n, std::int64_t p) { hits.push_back({i, n, p}); },
                                {}},
                               {0, 500, nullptr}));
    zud::WorkDigest digest;
    engine.set_digest(&digest);
    // Stopped before the first batch: nothing searched, the first prime back.
    const std::int64_t first = engine.sieve_range(c.pmin, c.pmax, &stop, {});
    EXPECT_EQ(first, static_cast<std::int64_t>(zud_test::primes_between(c.pmin, c.pmin + 1000)[0]));
    EXPECT_EQ(digest.primes, 0u);
    // Stopped from within: the rest follows on without a gap or a repeat.
    stop = 0;
    int batches = 0;
    std::int64_t at = first;
    while (at <= c.pmax) {
        const zud::ProgressCallback stop_soon = [&](std::int64_t) { stop = ++batches % 2; };
        at = engine.sieve_range(at, c.pmax, &stop, stop_soon);
        stop = 0;
    }
    EXPECT_GT(batches, 1);
    EXPECT_TRUE(hits == whole.hits);
    EXPECT_EQ(digest.primes, whole.digest.primes);
    EXPECT_EQ(digest.sum, whole.digest.sum);
}

TEST_F(DeviceSearch, a_kernel_that_does_not_build_shows_its_log_and_a_failed_launch_reports_nothing)
{
    std::mt19937_64 rng(3);
    SieveCase c = random_case(rng, 1000000, 100000, 3000, 3);
    const Outcome broken = run_device(c, {0, 0, "\n__kernel void broken(void) { this is not C }\n"});
    EXPECT_FALSE(broken.prepared);
    EXPECT_NE(broken.text.find("The OpenCL search did not build"), std::string::npos) << broken.text;
    EXPECT_NE(broken.text.find("error"), std::string::npos) << broken.text;

    const Outcome failed = run_device(c, {0, 500, nullptr}, nullptr, true);
    EXPECT_TRUE(failed.prepared);
    EXPECT_TRUE(failed.hits.empty());
    EXPECT_EQ(failed.digest.primes, 0u);
    EXPECT_EQ(failed.result, 1000003);   // the first prime of the range, unsearched
    EXPECT_NE(failed.text.find("CL_OUT_OF_RESOURCES"), std::string::npos) << failed.text;
}

}  // namespace
