// The work digest's price: what a host that fakes it must still do (every
// prime of the range and a power modulo each) against the sieve of the
// same range, and what the digest adds to an honest sieve.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "bench/bench_data.h"
#include "engine/segmented_sieve.h"
#include "engine/sieve.h"
#include "engine/work_digest.h"

namespace {

constexpr std::int64_t kPmin = 1000000000000;
constexpr std::int64_t kSpan = 2000000;

double g_fake_seconds = 0;
double g_sieve_seconds[2] = {0, 0};

// The faker's work: the primes of the range and 2^-nmin mod each.
void BM_work_digest_fake(benchmark::State& state)
{
    const zud::CandidateSet& set = zud_bench::bench_set();
    const auto limit = static_cast<std::uint64_t>(kPmin + kSpan);
    void* memory = std::calloc(zud::SegmentedSieve::bytes_for(limit), 1);
    zud::WorkDigest digest;
    const auto began = std::chrono::steady_clock::now();
    for (auto _ : state) {
        zud::SegmentedSieve primes;
        primes.init(memory, limit);
        primes.skip_to(static_cast<std::uint64_t>(kPmin));
        digest = zud::WorkDigest();
        for (std::uint64_t p = primes.next(); p <= limit; p = primes.next())
            zud::add_to_digest(digest, p, set.nmin);
        benchmark::DoNotOptimize(digest.sum);
    }
    g_fake_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count() /
                     static_cast<double>(state.iterations());
    state.counters["primes"] = static_cast<double>(digest.primes);
    std::free(memory);
}
BENCHMARK(BM_work_digest_fake)->Unit(benchmark::kMillisecond)->Iterations(3);

// The honest sieve of the same range, without and with the digest.
void BM_work_digest_sieve(benchmark::State& state)
{
    const bool with_digest = state.range(0) != 0;
    const zud::CandidateSet& set = zud_bench::bench_set();
    zud::WorkDigest digest;
    double seconds = 0;
    for (auto _ : state) {
        auto residues = set.residues;
        auto spacings = set.spacings;
        zud::SieveEngine engine;
        zud::SieveEngine::Callbacks callbacks;
        callbacks.plan = zud::search_plan(zud::processor_instruction_set());
        callbacks.on_factor = [](std::int32_t, std::int32_t, std::int64_t) {};
        callbacks.allocate = [](std::uint32_t size) { return std::calloc(size, 1); };
        callbacks.release = [](void* block) { std::free(block); };
        if (!engine.prepare(set.nmin, set.nmax, kPmin, kPmin + kSpan, set.k_values.data(), residues.data(),
                            spacings.data(), static_cast<std::uint32_t>(set.kcount), 2.5, callbacks)) {
            state.SkipWithError("the engine gave up");
            return;
        }
        digest = zud::WorkDigest();
        if (with_digest)
            engine.set_digest(&digest);
        const auto began = std::chrono::steady_clock::now();
        engine.sieve_range(kPmin, kPmin + kSpan, nullptr, {});
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    }
    g_sieve_seconds[with_digest ? 1 : 0] = seconds / static_cast<double>(state.iterations());
    state.counters["primes"] = static_cast<double>(digest.primes);
}
BENCHMARK(BM_work_digest_sieve)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);

// The shares, once all three have run.
void BM_work_digest_shares(benchmark::State& state)
{
    for (auto _ : state) {
    }
    if (g_sieve_seconds[0] > 0 && g_fake_seconds > 0) {
        state.counters["fake_%_of_sieve"] = 100.0 * g_fake_seconds / g_sieve_seconds[0];
        state.counters["digest_cost_%"] = 100.0 * (g_sieve_seconds[1] - g_sieve_seconds[0]) / g_sieve_seconds[0];
    }
}
BENCHMARK(BM_work_digest_shares)->Iterations(1);

}  // namespace
