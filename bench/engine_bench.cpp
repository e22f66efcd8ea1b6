// Timed fixed workloads of the engine: products, primes, a sieve range.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <unistd.h>

#include "bench/bench_data.h"
#include "engine/search/fast_search.h"
#include "engine/mod_arith.h"
#include "engine/search/power_filter.h"
#include "engine/support/prime_source.h"
#include "engine/support/searches.h"
#include "engine/segmented_sieve.h"
#include "engine/sieve.h"

namespace {

void BM_mul_mod(benchmark::State& state)
{
    zud::set_worker_fpu_env();
    const std::int64_t p = 999999999989;
    const long double recip = zud::reciprocal_of(p);
    std::int64_t x = 123456789;
    const std::int64_t y = 987654321987;
    for (auto _ : state) {
        for (int i = 0; i < 1000; ++i)
            x = zud::mul_mod(x, y, p, recip);
        benchmark::DoNotOptimize(x);
    }
    state.counters["products/s"] = benchmark::Counter(1000.0 * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_mul_mod);

// Hands out 100,000 primes a round and counts them.
template <typename Source>
void count_primes(benchmark::State& state, Source& source)
{
    for (auto _ : state) {
        std::uint64_t p = 0;
        for (int i = 0; i < 100000; ++i)
            p = source.next();
        benchmark::DoNotOptimize(p);
    }
    state.counters["primes/s"] = benchmark::Counter(100000.0 * state.iterations(), benchmark::Counter::kIsRate);
}

// The sieve of Atkin.
void BM_prime_source(benchmark::State& state, std::uint64_t from)
{
    zud::PrimeSource source;
    source.init();
    source.skip_to(from);
    count_primes(state, source);
}
BENCHMARK_CAPTURE(BM_prime_source, near_1e12, 1000000000000ULL)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_prime_source, near_2_48, (1ULL << 48) - 200000000)->Unit(benchmark::kMillisecond);

// The segmented sieve of Eratosthenes at the same places.
void BM_segmented_sieve(benchmark::State& state, std::uint64_t from)
{
    const std::uint64_t limit = from + (1ULL << 30);
    void* memory = std::calloc(zud::SegmentedSieve::bytes_for(limit), 1);
    zud::SegmentedSieve sieve;
    sieve.init(memory, limit);
    sieve.skip_to(from);
    count_primes(state, sieve);
    std::free(memory);
}
BENCHMARK_CAPTURE(BM_segmented_sieve, near_1e12, 1000000000000ULL)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_segmented_sieve, near_2_48, (1ULL << 48) - (1ULL << 31))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_segmented_sieve, from_3, 3ULL)->Unit(benchmark::kMillisecond);

// One fixed range of primes near 10^12 over the benchmark candidate file,
// with each search; the ratios are printed at the end.
constexpr std::int64_t kSievePmin = 1000000000000;
constexpr std::int64_t kSieveSpan = 2000000;

std::int64_t primes_between(std::int64_t from, std::int64_t to)
{
    zud::PrimeSource counter;
    counter.init();
    counter.skip_to(static_cast<std::uint64_t>(from));
    std::int64_t primes = 0;
    while (static_cast<std::int64_t>(counter.next()) <= to)
        ++primes;
    return primes;
}

// primes per second of each search, for the ratios printed at the end
std::map<std::string, double> g_rates;

void BM_run_sieve_near_1e12(benchmark::State& state, zud_test::SearchMode mode, zud::InstructionSet isa,
                            const char* name)
{
    if (!zud::processor_has(isa)) {
        state.SkipWithError("this processor lacks the instruction set");
        for (auto _ : state) {
        }
        return;
    }
    const zud::SearchPlan plan = zud_test::plan_of(mode, isa);
    const zud::CandidateSet& set = zud_bench::bench_set();
    const std::int64_t primes = primes_between(kSievePmin, kSievePmin + kSieveSpan);
    std::int64_t hits = 0;
    const auto began = std::chrono::steady_clock::now();
    for (auto _ : state) {
        auto residues = set.residues;
        auto spacings = set.spacings;
        hits = 0;
        zud::run_sieve(set.nmin, set.nmax, kSievePmin, kSievePmin + kSieveSpan, set.k_values.data(),
                       residues.data(), spacings.data(), static_cast<std::uint32_t>(set.kcount),
                       [&](std::int32_t, std::int32_t, std::int64_t) { ++hits; },
                       [](std::uint32_t size) { return std::calloc(size, 1); }, [](void* b) { std::free(b); },
                       [](std::int64_t) {}, 2.5, {nullptr, {}, plan});
    }
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - began;
    g_rates[name] = static_cast<double>(primes) * static_cast<double>(state.iterations()) / seconds.count();
    state.counters["primes/s"] =
        benchmark::Counter(static_cast<double>(primes) * state.iterations(), benchmark::Counter::kIsRate);
    state.counters["hits"] = static_cast<double>(hits);
}
BENCHMARK_CAPTURE(BM_run_sieve_near_1e12, reference, zud_test::SearchMode::reference, zud::InstructionSet::generic,
                  "reference")
    ->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(BM_run_sieve_near_1e12, generic, zud_test::SearchMode::unfiltered, zud::InstructionSet::generic,
                  "generic")
    ->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK_CAPTURE(BM_run_sieve_near_1e12, avx2, zud_test::SearchMode::unfiltered, zud::InstructionSet::avx2, "avx2")
    ->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(BM_run_sieve_near_1e12, ifma, zud_test::SearchMode::unfiltered, zud::InstructionSet::ifma, "ifma")
    ->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(BM_run_sieve_near_1e12, filtered, zud_test::SearchMode::filtered,
                  zud::processor_instruction_set(), "filtered")
    ->Unit(benchmark::kMillisecond)->Iterations(3);

// The same candidate file at the top of the engine's range, where the
// prime source costs most.
void BM_run_sieve_near_2_48(benchmark::State& state)
{
    const zud::CandidateSet& set = zud_bench::bench_set();
    const std::int64_t pmin = (std::int64_t{1} << 48) - 4000000;
    const std::int64_t primes = primes_between(pmin, pmin + 3840000);
    for (auto _ : state) {
        auto residues = set.residues;
        auto spacings = set.spacings;
        zud::run_sieve(set.nmin, set.nmax, pmin, pmin + 3840000, set.k_values.data(), residues.data(),
                       spacings.data(), static_cast<std::uint32_t>(set.kcount),
                       [](std::int32_t, std::int32_t, std::int64_t) {},
                       [](std::uint32_t size) { return std::calloc(size, 1); }, [](void* b) { std::free(b); },
                       [](std::int64_t) {}, 2.5);
    }
    state.counters["primes/s"] =
        benchmark::Counter(static_cast<double>(primes) * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_run_sieve_near_2_48)->Unit(benchmark::kMillisecond)->Iterations(2);

// The workloads of the filtered search, each with today's vector search
// beside it: the benchmark file and the parity-only set near 10^12 and
// 10^14, the benchmark file just below 2^48. The filtered runs also report
// what the filter did, per prime of the window.
using SetSource = const zud::CandidateSet& (*)();

void BM_workload(benchmark::State& state, SetSource source, std::int64_t pmin, std::int64_t span,
                 zud_test::SearchMode mode)
{
    const zud::InstructionSet isa = zud::processor_instruction_set();
    if (mode == zud_test::SearchMode::unfiltered && isa != zud::InstructionSet::ifma) {
        state.SkipWithError("this processor lacks AVX-512 IFMA");
        for (auto _ : state) {
        }
        return;
    }
    const zud::SearchPlan plan = zud_test::plan_of(mode, isa);
    const zud::CandidateSet& set = source();
    const std::int64_t primes = primes_between(pmin, pmin + span);
    std::int64_t hits = 0;
    for (auto _ : state) {
        auto residues = set.residues;
        auto spacings = set.spacings;
        hits = 0;
        zud::run_sieve(set.nmin, set.nmax, pmin, pmin + span, set.k_values.data(), residues.data(), spacings.data(),
                       static_cast<std::uint32_t>(set.kcount),
                       [&](std::int32_t, std::int32_t, std::int64_t) { ++hits; },
                       [](std::uint32_t size) { return std::calloc(size, 1); }, [](void* b) { std::free(b); },
                       [](std::int64_t) {}, 2.5, {nullptr, {}, plan});
    }
    state.counters["primes/s"] =
        benchmark::Counter(static_cast<double>(primes) * state.iterations(), benchmark::Counter::kIsRate);
    state.counters["hits"] = static_cast<double>(hits);
    const zud::FilterStats f = zud::last_filter_stats();
    if (mode != zud_test::SearchMode::filtered || f.k_tested == 0)
        return;
    const auto per_prime = [&](std::uint64_t v) { return static_cast<double>(v) / static_cast<double>(primes); };
    state.counters["k/p"] = per_prime(f.k_tested);
    state.counters["k_dropped%"] = 100.0 * static_cast<double>(f.k_dropped) / static_cast<double>(f.k_tested);
    state.counters["probes/p"] = per_prime(f.probes);
    state.counters["entries/p"] = per_prime(f.table_entries);
    state.counters["order_e"] = static_cast<double>(f.class_modulus) / static_cast<double>(f.primes);
}

constexpr std::int64_t k1e12 = 1000000000000;
constexpr std::int64_t k1e14 = 100000000000000;
constexpr std::int64_t kBelow248 = (std::int64_t{1} << 48) - 4000000;
#define ZUD_WORKLOAD(name, source, pmin, span)                                                                   \
    BENCHMARK_CAPTURE(BM_workload, name##_ifma, source, pmin, span, zud_test::SearchMode::unfiltered)         \
        ->Unit(benchmark::kMillisecond)->Iterations(2);                                                        \
    BENCHMARK_CAPTURE(BM_workload, name##_filtered, source, pmin, span, zud_test::SearchMode::filtered)       \
        ->Unit(benchmark::kMillisecond)->Iterations(3)
ZUD_WORKLOAD(file_1e12, zud_bench::bench_set, k1e12, 2000000);
ZUD_WORKLOAD(file_1e14, zud_bench::bench_set, k1e14, 2000000);
ZUD_WORKLOAD(parity_1e12, zud_bench::parity_set, k1e12, 2000000);
ZUD_WORKLOAD(parity_1e14, zud_bench::parity_set, k1e14, 2000000);
ZUD_WORKLOAD(file_below_2_48, zud_bench::bench_set, kBelow248, 3840000);

void BM_read_candidate_file(benchmark::State& state)
{
    const std::string& path = zud_bench::candidate_path();
    const std::size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash);
    char previous[4096];
    if (getcwd(previous, sizeof previous) == nullptr || chdir(dir.c_str()) != 0) {
        state.SkipWithError("candidate file not found");
        return;
    }
    std::size_t candidates = 0;
    for (auto _ : state) {
        zud::CandidateSet set;
        if (!zud::read_candidate_file(zud::DataFolder(), set).ok) {
            state.SkipWithError("cannot read the candidate file");
            break;
        }
        candidates = set.candidate_count();
    }
    if (chdir(previous) != 0)
        state.SkipWithError("cannot return to the working directory");
    state.counters["candidates"] = static_cast<double>(candidates);
    state.counters["candidates/s"] =
        benchmark::Counter(static_cast<double>(candidates) * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_read_candidate_file)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    zud_bench::take_file_argument(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (g_rates.count("reference") != 0)
        for (const char* fast : {"generic", "avx2", "ifma", "filtered"})
            if (g_rates.count(fast) != 0)
                std::printf("run_sieve near 10^12: %s %.0f primes/s, reference %.0f primes/s, ratio %.2f\n", fast,
                            g_rates[fast], g_rates["reference"], g_rates[fast] / g_rates["reference"]);
    return 0;
}
