// The filtered search on each instruction set at each depth: run_sieve on
// the benchmark file and on the parity-only set over a fixed count of
// primes, timed in the thread's CPU time from the first progress call (so
// without the prime library's window set-up), per core.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>

#include "bench/bench_data.h"
#include "engine/search/instruction_set.h"
#include "engine/sieve.h"

namespace {

double thread_seconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
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

using SetSource = const zud::CandidateSet& (*)();

void BM_isa(benchmark::State& state, SetSource source, double from_log2, zud::InstructionSet set)
{
    if (!zud::processor_has(set)) {
        state.SkipWithError("this processor lacks the instruction set");
        for (auto _ : state) {
        }
        return;
    }
    const zud::CandidateSet& c = source();
    const auto from = static_cast<std::int64_t>(std::exp2(from_log2));
    constexpr double kPrimes = 60000;
    const auto pmax = from + static_cast<std::int64_t>(kPrimes * std::log(static_cast<double>(from)));
    double p_rate = 0, prime_rate = 0, memory = 0;
    for (auto _ : state) {
        auto residues = c.residues;
        auto spacings = c.spacings;
        double began = 0;
        std::int64_t first_p = 0;
        int calls = 0;
        const double resident_before = resident_mb();
        const std::int64_t ended = zud::run_sieve(
            c.nmin, c.nmax, from, pmax, c.k_values.data(), residues.data(), spacings.data(),
            static_cast<std::uint32_t>(c.kcount), [](std::int32_t, std::int32_t, std::int64_t) {},
            [](std::uint32_t size) { return std::calloc(size, 1); }, [](void* b) { std::free(b); },
            [&](std::int64_t p) {
                // The worker's memory: its tables and the prime library's window.
                if (calls++ % 16 == 0 && resident_mb() - resident_before > memory)
                    memory = resident_mb() - resident_before;
                if (first_p == 0) {
                    first_p = p;
                    began = thread_seconds();
                }
            },
            2.5, {nullptr, {}, zud::search_plan(set)});
        const double seconds = thread_seconds() - began;
        p_rate = static_cast<double>(ended - first_p) / seconds;
        prime_rate = p_rate / std::log(static_cast<double>(from));
    }
    state.counters["p/s"] = p_rate;
    state.counters["primes/s"] = prime_rate;
    state.counters["memory_MB"] = memory;
    state.counters["candidates"] = static_cast<double>(c.candidate_count());
}

constexpr double kLog2Of1e12 = 39.863137138648348;   // log2(10^12)
constexpr double kLog2Of1e14 = 46.507993328423072;   // log2(10^14)

#define ZUD_ISA_AT(name, source, where, set)                                                  \
    BENCHMARK_CAPTURE(BM_isa, name, source, where, zud::InstructionSet::set)                  \
        ->Unit(benchmark::kMillisecond)->Iterations(1)
#define ZUD_ISA_ROW(name, source, where)           \
    ZUD_ISA_AT(name##_ifma, source, where, ifma);  \
    ZUD_ISA_AT(name##_avx2, source, where, avx2);  \
    ZUD_ISA_AT(name##_generic, source, where, generic)

ZUD_ISA_ROW(file_1e12, zud_bench::bench_set, kLog2Of1e12);
ZUD_ISA_ROW(file_1e14, zud_bench::bench_set, kLog2Of1e14);
ZUD_ISA_ROW(file_2_50, zud_bench::bench_set, 50.0);
ZUD_ISA_ROW(file_2_55, zud_bench::bench_set, 55.0);
ZUD_ISA_ROW(file_2_61_9, zud_bench::bench_set, 61.9);
ZUD_ISA_ROW(parity_1e12, zud_bench::parity_set, kLog2Of1e12);
ZUD_ISA_ROW(parity_1e14, zud_bench::parity_set, kLog2Of1e14);
ZUD_ISA_ROW(parity_2_50, zud_bench::parity_set, 50.0);
ZUD_ISA_ROW(parity_2_55, zud_bench::parity_set, 55.0);
ZUD_ISA_ROW(parity_2_61_9, zud_bench::parity_set, 61.9);
ZUD_ISA_ROW(k100_1e12, zud_bench::many_k_set, kLog2Of1e12);
ZUD_ISA_ROW(k100_2_52, zud_bench::many_k_set, 52.0);

}  // namespace
