// Benchmarks above 2^48: the Montgomery product, the prime feed (the
// primesieve library's windows) and run_sieve on the benchmark file near
// 2^50, 2^56 and 2^61.9, with the prime source's share of a long run.
#include <benchmark/benchmark.h>

#include <ctime>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>

#include "bench/bench_data.h"
#include "engine/mont64.h"
#include "engine/prime_feed.h"
#include "engine/sieve.h"

namespace {

// Thread CPU time: the machine is shared, and the figures are per core.
struct Clock {
    using time_point = double;
    static double now()
    {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
    }
};

const std::uint64_t kNear50 = (1ULL << 50) + 1000000;
const std::uint64_t kNear56 = (1ULL << 56) + 1000000;
const std::uint64_t kNear61_9 = static_cast<std::uint64_t>(std::ldexp(1.0, 62) * std::pow(2.0, -0.1));

double seconds_since(double began)
{
    return Clock::now() - began;
}

// Resident memory of the process in MB, from /proc.
double resident_mb()
{
    std::ifstream status("/proc/self/status");
    std::string key;
    double kb = 0;
    while (status >> key)
        if (key == "VmRSS:" && status >> kb)
            break;
    return kb / 1024.0;
}

void BM_mont64_mul(benchmark::State& state)
{
    const zud::Mont64 m(4611686018427387847ULL);
    std::uint64_t x = m.to_mont(123456789);
    const std::uint64_t y = m.to_mont(987654321987654321ULL);
    for (auto _ : state) {
        for (int i = 0; i < 1000; ++i)
            x = m.mul(x, y);
        benchmark::DoNotOptimize(x);
    }
    state.counters["products/s"] = benchmark::Counter(1000.0 * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_mont64_mul);

struct FeedFigures {
    double seconds_per_prime = 0;
    double memory_mb = 0;
};

// A fresh feed hands out one whole library window: the steady cost per
// prime of a long run, set-up included. Measured once per place.
FeedFigures feed_figures(std::uint64_t from)
{
    static std::map<std::uint64_t, FeedFigures> cache;
    auto found = cache.find(from);
    if (found != cache.end())
        return found->second;
    const double before = resident_mb();
    const auto began = Clock::now();
    zud::PrimeFeed feed;
    feed.init(nullptr, from, ~0ULL >> 2);
    std::uint64_t primes = 0;
    double memory = 0;
    for (std::uint64_t p = feed.next(); p < from + zud::PrimeFeed::kWindow; p = feed.next())
        if ((++primes & 0xFFFF) == 1 && resident_mb() - before > memory)
            memory = resident_mb() - before;
    FeedFigures figures{seconds_since(began) / static_cast<double>(primes), memory};
    cache[from] = figures;
    return figures;
}

void BM_prime_feed(benchmark::State& state, std::uint64_t from)
{
    FeedFigures figures;
    for (auto _ : state)
        figures = feed_figures(from);
    state.counters["primes/s"] = 1.0 / figures.seconds_per_prime;
    state.counters["memory_MB"] = figures.memory_mb;
}
BENCHMARK_CAPTURE(BM_prime_feed, near_2_50, kNear50)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(BM_prime_feed, near_2_56, kNear56)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(BM_prime_feed, near_2_61_9, kNear61_9)->Unit(benchmark::kMillisecond)->Iterations(1);

// run_sieve over `primes` primes of the benchmark file from `from`, timed
// from its first progress call, once the feed has its window: the search's
// rate per core. The source's share of a long run follows from the feed's
// cost per prime.
void BM_run_sieve_wide(benchmark::State& state, std::uint64_t from, double primes)
{
    const zud::CandidateSet& set = zud_bench::bench_set();
    const double span = primes * std::log(static_cast<double>(from));
    const auto pmax = static_cast<std::int64_t>(from + static_cast<std::uint64_t>(span));
    double p_rate = 0;
    double seconds_per_prime = 0;
    std::int64_t hits = 0;
    for (auto _ : state) {
        auto residues = set.residues;
        auto spacings = set.spacings;
        double first_progress = 0;
        std::int64_t first_p = 0;
        const std::int64_t ended = zud::run_sieve(
            set.nmin, set.nmax, static_cast<std::int64_t>(from), pmax, set.k_values.data(), residues.data(),
            spacings.data(), static_cast<std::uint32_t>(set.kcount),
            [&](std::int32_t, std::int32_t, std::int64_t) { ++hits; },
            [](std::uint32_t size) { return std::calloc(size, 1); }, [](void* b) { std::free(b); },
            [&](std::int64_t p) {
                if (first_p == 0) {
                    first_p = p;
                    first_progress = Clock::now();
                }
            },
            2.5);
        const double seconds = seconds_since(first_progress);
        p_rate = static_cast<double>(ended - first_p) / seconds;
        seconds_per_prime = seconds / (static_cast<double>(ended - first_p) / std::log(static_cast<double>(from)));
    }
    state.counters["p/s"] = p_rate;
    state.counters["primes/s"] = 1.0 / seconds_per_prime;
    state.counters["hits"] = static_cast<double>(hits);
    const FeedFigures feed = feed_figures(from);
    state.counters["source_%"] = 100.0 * feed.seconds_per_prime / (feed.seconds_per_prime + seconds_per_prime);
}
BENCHMARK_CAPTURE(BM_run_sieve_wide, near_2_50, kNear50, 60000.0)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(BM_run_sieve_wide, near_2_56, kNear56, 60000.0)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(BM_run_sieve_wide, near_2_61_9, kNear61_9, 60000.0)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
