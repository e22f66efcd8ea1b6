// The OpenCL search on the first OpenCL device (PoCL here: a device on the
// processor's cores) over the benchmark file and the many-k set, near 10^12,
// 2^50 and 2^61.9: primes per second, and the work-group size as a row.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "bench/bench_data.h"
#include "engine/opencl/device_search.h"
#include "engine/work_digest.h"

namespace {

void BM_device_search(benchmark::State& state, bool many_k, double log2_pmin, std::int64_t span)
{
    const std::vector<zud::DeviceInfo> devices = zud::list_devices();
    if (devices.empty()) {
        state.SkipWithError("no OpenCL device");
        return;
    }
    const zud::CandidateSet& set = many_k ? zud_bench::many_k_set() : zud_bench::bench_set();
    const auto pmin = static_cast<std::int64_t>(std::pow(2.0, log2_pmin));
    std::uint64_t primes = 0;
    for (auto _ : state) {
        zud::DeviceEngine engine;
        zud::DeviceShape shape;
        shape.work_group = static_cast<std::size_t>(state.range(0));
        if (!engine.prepare(devices[0], set.nmin, set.nmax, pmin, pmin + span, set.k_values.data(),
                            set.residues.data(), set.spacings.data(), static_cast<std::uint32_t>(set.kcount),
                            {[](std::int32_t, std::int32_t, std::int64_t) {}, {}}, shape)) {
            state.SkipWithError("the device search did not prepare");
            return;
        }
        // The digest counts the primes; its powers on the processor are a
        // small share of the time.
        zud::WorkDigest digest;
        engine.set_digest(&digest);
        engine.sieve_range(pmin, pmin + span, nullptr, {});
        primes += digest.primes;
    }
    state.counters["primes/s"] = benchmark::Counter(static_cast<double>(primes), benchmark::Counter::kIsRate);
}

// The same span as the processor's rows near 10^12 (engine_bench.cpp);
// wall-clock rates, as the device runs on threads of its own.
BENCHMARK_CAPTURE(BM_device_search, bench_near_1e12, false, std::log2(1e12), 2000000)
    ->Arg(1)->Arg(8)->Arg(32)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK_CAPTURE(BM_device_search, bench_near_2_50, false, 50.0, 2000000)
    ->Arg(8)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK_CAPTURE(BM_device_search, bench_near_2_61_9, false, 61.9, 2000000)
    ->Arg(8)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK_CAPTURE(BM_device_search, many_k_near_1e12, true, std::log2(1e12), 200000)
    ->Arg(8)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

}  // namespace
