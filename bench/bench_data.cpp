// The candidate file the benchmarks run on.
#include "bench/bench_data.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <random>
#include <set>
#include <unistd.h>

#include "engine/sieve.h"

namespace zud_bench {

namespace {

std::string g_path = "../shared/data/bench/Zud.dat";

}  // namespace

void take_file_argument(int& argc, char** argv)
{
    int out = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--zud-file=", 11) == 0)
            g_path = argv[i] + 11;
        else
            argv[out++] = argv[i];
    }
    argc = out;
}

const std::string& candidate_path()
{
    return g_path;
}

const zud::CandidateSet& bench_set()
{
    static zud::CandidateSet set;
    if (!set.empty())
        return set;
    const std::size_t slash = g_path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : g_path.substr(0, slash);
    char previous[4096];
    if (getcwd(previous, sizeof previous) == nullptr || chdir(dir.c_str()) != 0) {
        std::fprintf(stderr, "Benchmark candidate file not found: %s (give --zud-file=PATH/Zud.dat)\n", g_path.c_str());
        std::exit(2);
    }
    const zud::FileResult r = zud::read_candidate_file(zud::DataFolder(), set);
    if (chdir(previous) != 0 || !r.ok) {
        std::fprintf(stderr, "Cannot read the benchmark candidate file %s: %s\n", g_path.c_str(), r.message.c_str());
        std::exit(2);
    }
    return set;
}

namespace {

// Clears every n with p | k*2^n+1: they repeat with the order of 2 mod p.
void remove_multiples(zud::CandidateSet& set, std::int32_t index, std::int64_t p)
{
    const std::int64_t k = set.k_values[static_cast<std::size_t>(index)] % p;
    std::int64_t order = 1, power = 2 % p;
    while (power != 1) {
        power = power * 2 % p;
        ++order;
    }
    std::int64_t value = k * ((std::int64_t{1} << 20) % p) % p;   // k*2^20; every n is above 2^20
    for (std::int64_t n = 1 << 20; n < (1 << 20) + order; ++n, value = value * 2 % p) {
        if (value != p - 1)
            continue;
        std::int64_t first = n + (set.nmin - n + order - 1) / order * order;
        for (std::int64_t m = first; m <= set.nmax; m += order) {
            const auto d = static_cast<std::uint32_t>(m - set.nmin);
            set.bitmap(index)[d / 32] &= ~(1u << (d % 32));
        }
    }
}

}  // namespace

const zud::CandidateSet& parity_set()
{
    static zud::CandidateSet set;
    if (!set.empty())
        return set;
    set.nmin = 1000000;
    set.nmax = 20000000;
    set.k_values = {12343, 23459, 34567, 45673, 56789, 67891, 78901, 89123};
    set.kcount = static_cast<std::int32_t>(set.k_values.size());
    set.words_per_k = (set.nmax - set.nmin + 1) / 32 + 1;
    set.bits.assign(static_cast<std::size_t>(set.kcount) * set.words_per_k, 0);
    for (std::int32_t i = 0; i < set.kcount; ++i) {
        // k = 1 (mod 3) keeps the even n, k = 2 (mod 3) the odd ones.
        const std::int32_t parity = set.k_values[i] % 3 == 1 ? 0 : 1;
        for (std::int32_t n = set.nmin; n <= set.nmax; ++n)
            if (n % 2 == parity) {
                const auto d = static_cast<std::uint32_t>(n - set.nmin);
                set.bitmap(i)[d / 32] |= 1u << (d % 32);
            }
        for (std::int64_t p = 5; p < kParitySieveLimit; p += 2) {
            bool prime = true;
            for (std::int64_t q = 3; q * q <= p && prime; q += 2)
                prime = p % q != 0;
            if (prime)
                remove_multiples(set, i, p);
        }
        set.residues.push_back((parity - set.nmin % 2 + 2) % 2);
        set.spacings.push_back(2);
    }
    return set;
}

const zud::CandidateSet& many_k_set()
{
    static zud::CandidateSet set;
    if (!set.empty())
        return set;
    set.nmin = 100000;
    set.nmax = 2000000;
    // The raw output of the 64-bit Mersenne twister is the same everywhere;
    // the library's distributions are not.
    std::mt19937_64 rng(20261207);
    std::set<std::int32_t> drawn;
    while (drawn.size() < static_cast<std::size_t>(kManyKCount))
        drawn.insert(static_cast<std::int32_t>(rng() % 100000) * 2 + 1);
    set.k_values.assign(drawn.begin(), drawn.end());
    set.kcount = kManyKCount;
    set.words_per_k = (set.nmax - set.nmin + 1) / 32 + 1;
    set.bits.assign(static_cast<std::size_t>(set.kcount) * set.words_per_k, 0);
    for (std::int32_t i = 0; i < set.kcount; ++i)
        for (std::int32_t d = 0; d <= set.nmax - set.nmin; ++d)
            set.bitmap(i)[d / 32] |= 1u << (d % 32);
    // The smallest primes hit most n: a table of the powers of 2 finds each
    // k's first n at once. The engine sieves the rest.
    constexpr std::int64_t kDirectBelow = 1 << 14;
    std::vector<std::int32_t> log_of(kDirectBelow);
    for (std::int64_t p = 3; p < kDirectBelow; p += 2) {
        bool prime = true;
        for (std::int64_t q = 3; q * q <= p && prime; q += 2)
            prime = p % q != 0;
        if (!prime)
            continue;
        std::fill(log_of.begin(), log_of.begin() + p, -1);
        std::int64_t order = 0;
        for (std::int64_t power = 1; order == 0 || power != 1; power = power * 2 % p)
            log_of[static_cast<std::size_t>(power)] = static_cast<std::int32_t>(order++);
        for (std::int32_t i = 0; i < set.kcount; ++i) {
            // 2^n = -1/k: n = log(-1/k); first the k with 2^n k = -1 at n = 0.
            const std::int64_t k = set.k_values[static_cast<std::size_t>(i)] % p;
            if (k == 0)
                continue;
            std::int64_t inverse = 1;
            for (std::int64_t e = p - 2, b = k; e != 0; e >>= 1, b = b * b % p)
                if (e & 1)
                    inverse = inverse * b % p;
            const std::int32_t at = log_of[static_cast<std::size_t>(p - inverse)];
            if (at < 0)
                continue;
            const std::int64_t first = at + (set.nmin - at + order - 1) / order * order;
            for (std::int64_t n = first; n <= set.nmax; n += order) {
                const auto d = static_cast<std::uint32_t>(n - set.nmin);
                set.bitmap(i)[d / 32] &= ~(1u << (d % 32));
            }
        }
    }
    std::vector<std::int32_t> residues(static_cast<std::size_t>(set.kcount), 0);
    std::vector<std::int32_t> spacings(static_cast<std::size_t>(set.kcount), 1);
    zud::run_sieve(
        set.nmin, set.nmax, kDirectBelow, kManyKSieveLimit, set.k_values.data(), residues.data(), spacings.data(),
        static_cast<std::uint32_t>(set.kcount),
        [&](std::int32_t k_index, std::int32_t n, std::int64_t) {
            if (n >= set.nmin && n <= set.nmax) {
                const auto d = static_cast<std::uint32_t>(n - set.nmin);
                set.bitmap(k_index)[d / 32] &= ~(1u << (d % 32));
            }
        },
        [](std::uint32_t size) { return std::calloc(size, 1); }, [](void* b) { std::free(b); }, [](std::int64_t) {},
        0.05);
    // Each k's spacing: the gcd of 907,200 and the differences of its n, as
    // a candidate file's reader finds it.
    for (std::int32_t i = 0; i < set.kcount; ++i) {
        std::int32_t spacing = 907200, first = -1;
        for (std::int32_t n = set.nmin; n <= set.nmax; ++n)
            if (set.is_candidate(i, n)) {
                if (first < 0)
                    first = n;
                else
                    spacing = std::gcd(spacing, n - first);
            }
        set.spacings.push_back(first < 0 ? 1 : spacing);
        set.residues.push_back(first < 0 ? 0 : (first - set.nmin) % spacing);
    }
    return set;
}

}  // namespace zud_bench
