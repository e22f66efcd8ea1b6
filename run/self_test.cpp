// The self-test's cases and their exact answers. The answers come from plain
// 128-bit arithmetic, one doubling at a time, and every reported factor
// passes the run's own factor check: nothing here shares code with the
// searches under test.
#include "run/self_test.h"

#include <algorithm>
#include <cstdlib>
#include <set>
#include <tuple>

#include "engine/sieve.h"
#include "run/factor_check.h"

namespace zud {

namespace {

__extension__ typedef unsigned __int128 Wide;

std::uint64_t mul_mod(std::uint64_t a, std::uint64_t b, std::uint64_t p)
{
    return static_cast<std::uint64_t>(static_cast<Wide>(a) * b % p);
}

std::uint64_t pow_mod(std::uint64_t a, std::uint64_t e, std::uint64_t p)
{
    std::uint64_t result = 1 % p;
    for (a %= p; e != 0; e >>= 1) {
        if (e & 1)
            result = mul_mod(result, a, p);
        a = mul_mod(a, a, p);
    }
    return result;
}

struct Factor {
    std::int64_t p;
    std::int32_t k;
    std::int32_t n;
    bool operator<(const Factor& o) const { return std::tie(p, k, n) < std::tie(o.p, o.k, o.n); }
};

struct Case {
    std::int64_t pmin;
    std::int64_t pmax;
    std::int32_t nmin;
    std::int32_t nmax;
    std::vector<std::int32_t> k;
};

// The n of k's class: the parity that 3 does not divide (any n when 3 | k).
bool in_class(std::int32_t k, std::int32_t n)
{
    return k % 3 == 0 || (k % 3 == 1) == (n % 2 == 0);
}

// The first prime k*2^m+1 from `target` on (downwards when `down`), k odd,
// not a multiple of 3 and below 2^31: it divides k*2^m+1, itself.
std::int32_t plant(std::uint64_t target, int m, bool down = false)
{
    for (std::uint64_t k = ((target - 1) >> m) | 1; k > 0 && k < (1ULL << 31); k = down ? k - 2 : k + 2) {
        const std::uint64_t p = (k << m) + 1;
        if ((down ? p <= target : p >= target) && k % 3 != 0 && p < (1ULL << 62) &&
            is_prime(static_cast<std::int64_t>(p)))
            return static_cast<std::int32_t>(k);
    }
    return 0;
}

// Around each planted prime, a window of 6,000 with three k of no plan
// beside the planted one; below 2^48 the x87, AVX2 and IFMA products, above
// it the 64-bit Montgomery products, where a product's high word decides
// the borrow.
std::vector<Case> make_cases()
{
    const std::int32_t others[] = {3, 5, 1000001};
    std::vector<Case> cases;
    // Many small factors: a window above 10^6, n up to 4,000, k of every
    // size below 2^31 (a fixed scramble of 1 .. 40) and of each class.
    Case many{1000000, 1100000, 2, 4000, {plant(1000000, 10), 3, 5, 7, 1000001, 123456789, 2147483647}};
    for (std::uint64_t i = 1; i <= 40; ++i)
        many.k.push_back(static_cast<std::int32_t>((i * 2654435761ULL) % (1ULL << 31)) | 1);
    cases.push_back(std::move(many));
    struct Place {
        std::uint64_t target;
        int m;
        bool down;
    };
    const Place places[] = {
        {1000000000ULL, 12, false},       {(1ULL << 31) - 100000, 9, false}, {(1ULL << 32) + 1000, 9, false},
        {1000000000000ULL, 20, false},    {1ULL << 40, 21, false},           {(1ULL << 47) + 12345, 20, false},
        {1ULL << 48, 18, false},          {1ULL << 50, 20, false},           {1ULL << 52, 21, true},
        {1ULL << 52, 23, false},          {1ULL << 55, 40, false},           {(1ULL << 56) + (1ULL << 50), 30, false},
        {(1ULL << 57) + 999, 30, false},  {100000000000000000ULL, 27, false}, {(1ULL << 58) + 12345, 31, false},
        {(1ULL << 60) + 5, 35, false},    {(1ULL << 61) + 77777, 45, false}, {(1ULL << 62) - (1ULL << 40), 31, false},
        {(1ULL << 62) - (1ULL << 58), 50, false},
    };
    for (const Place& place : places) {
        const std::int32_t k = plant(place.target, place.m, place.down);
        if (k == 0)
            continue;
        const auto p = static_cast<std::int64_t>((static_cast<std::uint64_t>(k) << place.m) + 1);
        cases.push_back({p - 3000, p + 3000, 2, 700, {k, others[0], others[1], others[2]}});
    }
    // Primes near 2^47 where 2 has order 188 and 216 (they divide 2^94+1 and
    // 2^108+1): each divides k*2^n+1 for every n = 94 - a (108 - a) + 2e*j
    // when k = 2^a, some hundreds of factors a k. The AVX2 products there
    // lose their fix-ups most often: a dropped one misses factors here.
    for (const std::int64_t p : {std::int64_t{140737471578113}, std::int64_t{138991501037953}})
        cases.push_back({p - 1500, p + 1500, 2, 60000, {1, 2, 4, 8, 16, 3, 1000001}});
    // Across 2^48 (with the planted prime just below it) and across 2^52.
    const std::int64_t at48 = std::int64_t{1} << 48, at52 = std::int64_t{1} << 52;
    cases.push_back({at48 - 394000, at48 + 6000, 2, 100, {plant(1ULL << 48, 17, true), 3, 5, 1000001}});
    cases.push_back({at52 - 20000, at52 + 20000, 2, 300, {3, 5, 7, 1000001, 2147483647}});
    return cases;
}

// Every factor of a case in the k's classes, by walking 2^n mod p for each
// prime and looking it up among the -1/k.
std::set<Factor> exact_factors(const Case& c)
{
    std::set<Factor> found;
    std::vector<std::pair<std::uint64_t, std::int32_t>> wanted;   // -1/k mod p, k
    for (std::int64_t p = c.pmin | 1; p <= c.pmax; p += 2) {
        if (!is_prime(p))
            continue;
        const auto up = static_cast<std::uint64_t>(p);
        wanted.clear();
        for (const std::int32_t k : c.k)
            if (static_cast<std::uint64_t>(k) % up != 0)
                wanted.emplace_back(up - pow_mod(static_cast<std::uint64_t>(k), up - 2, up), k);
        std::sort(wanted.begin(), wanted.end());
        std::uint64_t v = pow_mod(2, static_cast<std::uint64_t>(c.nmin), up);
        for (std::int32_t n = c.nmin; n <= c.nmax; ++n) {
            auto at = std::lower_bound(wanted.begin(), wanted.end(), std::make_pair(v, std::int32_t{0}));
            for (; at != wanted.end() && at->first == v; ++at)
                if (in_class(at->second, n))
                    found.insert({p, at->second, n});
            v = v >= up - v ? v - (up - v) : v + v;
        }
    }
    return found;
}

struct Answer {
    Case c;
    std::set<Factor> factors;
};

const std::vector<Answer>& answers()
{
    static const std::vector<Answer> all = [] {
        std::vector<Answer> list;
        for (Case& c : make_cases()) {
            std::set<Factor> factors = exact_factors(c);
            list.push_back({std::move(c), std::move(factors)});
        }
        return list;
    }();
    return all;
}

std::string factor_text(const Factor& f)
{
    return std::to_string(f.p) + " | " + std::to_string(f.k) + "*2^" + std::to_string(f.n) + "+1";
}

std::string with_separators(std::int64_t value)
{
    std::string digits = std::to_string(value);
    for (auto at = static_cast<std::ptrdiff_t>(digits.size()) - 3; at > 0; at -= 3)
        digits.insert(static_cast<std::size_t>(at), ",");
    return digits;
}

}  // namespace

SelfTestResult self_test_plan(const SearchPlan& plan)
{
    SelfTestResult result;
    for (const Answer& answer : answers()) {
        const Case& c = answer.c;
        std::vector<std::int32_t> residues, spacings;
        for (const std::int32_t k : c.k) {
            spacings.push_back(k % 3 == 0 ? 1 : 2);
            residues.push_back(k % 3 == 0 || (k % 3 == 1) == (c.nmin % 2 == 0) ? 0 : 1);
        }
        std::set<Factor> found;
        const std::vector<std::int32_t>& ks = c.k;
        std::string engine_text;
        const std::int64_t ended = run_sieve(
            c.nmin, c.nmax, c.pmin, c.pmax, ks.data(), residues.data(), spacings.data(),
            static_cast<std::uint32_t>(ks.size()),
            [&](std::int32_t i, std::int32_t n, std::int64_t p) {
                const Factor f{p, ks[static_cast<std::size_t>(i)], n};
                // Past nmax or outside the class the run drops a hit unchecked;
                // every other must be a factor.
                if (n > c.nmax || !in_class(f.k, n))
                    return;
                if (!verify_factor(f.k, n, p))
                    result.differences.push_back("false " + factor_text(f));
                found.insert(f);
            },
            [](std::uint32_t size) { return std::calloc(size, 1); }, [](void* block) { std::free(block); },
            [](std::int64_t) {}, 2.5,
            {nullptr,
             [&engine_text](const char* text) {
                 if (text[0] != '#')
                     engine_text = text;
             },
             plan});
        if (ended <= c.pmax)
            result.differences.push_back("the range from " + std::to_string(c.pmin) + " ended at " +
                                         std::to_string(ended) + (engine_text.empty() ? "" : ": " + engine_text));
        for (const Factor& f : answer.factors)
            if (found.count(f) == 0)
                result.differences.push_back("missed " + factor_text(f));
        for (const Factor& f : found)
            if (answer.factors.count(f) == 0)
                result.differences.push_back("extra " + factor_text(f));
        result.factors += static_cast<std::int64_t>(std::min(found.size(), answer.factors.size()));
    }
    return result;
}

std::string self_test_line(const char* name, const SelfTestResult& result)
{
    std::string line = std::string(name) + ": " + with_separators(result.factors) + " factors, ";
    if (result.differences.empty())
        return line + "all exact";
    line += with_separators(static_cast<std::int64_t>(result.differences.size())) + " NOT exact:";
    constexpr std::size_t kShown = 5;
    for (std::size_t i = 0; i < result.differences.size() && i < kShown; ++i)
        line += (i == 0 ? " " : "; ") + result.differences[i];
    if (result.differences.size() > kShown)
        line += "; ...";
    return line;
}

bool run_self_test(InstructionSet top, const std::function<void(const std::string&)>& line)
{
    bool exact = true;
    for (int set = static_cast<int>(top); set >= 0; --set) {
        const auto path = static_cast<InstructionSet>(set);
        const SelfTestResult result = self_test_plan(search_plan(path));
        exact = exact && result.differences.empty();
        line(self_test_line(instruction_set_name(path), result));
    }
    return exact;
}

}  // namespace zud
