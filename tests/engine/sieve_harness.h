// Runs run_sieve over a small candidate description and collects what it
// reports, for comparison with a brute-force search.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "engine/sieve.h"
#include "reference.h"

namespace zud_test {

struct Hit {
    std::int32_t k_index;
    std::int32_t n;
    std::int64_t p;
    bool operator<(const Hit& o) const { return std::tie(p, k_index, n) < std::tie(o.p, o.k_index, o.n); }
    bool operator==(const Hit& o) const { return p == o.p && k_index == o.k_index && n == o.n; }
};

// Primes p = k*2^n+1 just below 2^top (n = 21 below 2^40, 27 below 2^48;
// k odd and not a multiple of 3): each divides its own k*2^n+1.
struct OwnFactor {
    std::int64_t k;
    std::int32_t n;
    std::int64_t p;
};

inline std::vector<OwnFactor> own_factor_primes(int top, int count)
{
    std::vector<OwnFactor> found;
    const int n = top == 40 ? 21 : 27;
    const std::int64_t end = std::int64_t{1} << (top - n);
    for (std::int64_t k = end - 1 - 2 * 2000; static_cast<int>(found.size()) < count && k < end; k += 2) {
        const std::int64_t p = (k << n) + 1;
        if (k % 3 != 0 && is_prime(static_cast<std::uint64_t>(p)))
            found.push_back({k, n, p});
    }
    return found;
}

struct SieveCase {
    std::int32_t nmin = 2;
    std::int32_t nmax = 100;
    std::int64_t pmin = 3;
    std::int64_t pmax = 1000;
    std::vector<std::int32_t> k;
    std::vector<std::int32_t> residues;   // counted from nmin
    std::vector<std::int32_t> spacings;
    double alpha = 2.5;
    zud::SearchPlan plan = zud::search_plan(zud::processor_instruction_set());
    const std::atomic<std::int32_t>* stop = nullptr;
};

struct SieveOutcome {
    std::vector<Hit> hits;   // in the order reported
    std::vector<std::int64_t> progress;
    std::int64_t result = 0;
    int blocks_outstanding = 0;
    std::vector<std::string> texts;   // the engine's, but "#I"
};

inline SieveOutcome run_case(SieveCase c)
{
    SieveOutcome out;
    int outstanding = 0;
    out.result = zud::run_sieve(
        c.nmin, c.nmax, c.pmin, c.pmax, c.k.data(), c.residues.data(), c.spacings.data(),
        static_cast<std::uint32_t>(c.k.size()),
        [&](std::int32_t i, std::int32_t n, std::int64_t p) { out.hits.push_back({i, n, p}); },
        [&](std::uint32_t size) { ++outstanding; return std::calloc(size, 1); },
        [&](void* block) { --outstanding; std::free(block); },
        [&](std::int64_t p) { out.progress.push_back(p); }, c.alpha,
        {c.stop,
         [&](const char* text) {
             if (std::string(text) != "#I")
                 out.texts.emplace_back(text);
         },
         c.plan});
    out.blocks_outstanding = outstanding;
    return out;
}

}  // namespace zud_test
