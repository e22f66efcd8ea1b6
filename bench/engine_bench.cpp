// Timed fixed workloads of the engine: products, primes, a sieve range.
#include <benchmark/benchmark.h>

#include "engine/mod_arith.h"
#include "engine/prime_source.h"

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

void BM_prime_source_near_1e12(benchmark::State& state)
{
    zud::PrimeSource source;
    source.init();
    source.skip_to(1000000000000ULL);
    for (auto _ : state) {
        std::uint64_t p = 0;
        for (int i = 0; i < 100000; ++i)
            p = source.next();
        benchmark::DoNotOptimize(p);
    }
    state.counters["primes/s"] = benchmark::Counter(100000.0 * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_prime_source_near_1e12)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
