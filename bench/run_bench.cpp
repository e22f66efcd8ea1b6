// Whole runs as the program makes them: the coordinator, its sieving
// workers, the ordered commit and the status file, over the benchmark file
// near 10^12, with 1 and 2 workers.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "bench_data.h"
#include "engine/sieve.h"
#include "run/run.h"
#include "run/run_record.h"

namespace {

constexpr std::int64_t kRunFrom = 1000000000000;
constexpr std::int64_t kRunSpan = 60000000;

// Counts the events on the run's thread: nothing else waits.
class CountingEvents : public zud::RunEvents {
public:
    void factors_recorded(const std::vector<zud::FactorRecord>&) override { ++events; }
    void progress(const zud::RunProgress&) override { ++events; }
    void checkpoint_written(std::int64_t) override { ++events; }
    void warning(const zud::RunWarning&) override { ++events; }
    void stopped(std::int64_t) override { ++events; }
    void done() override { ++events; }
    void error(const zud::RunError&) override { ++events; }
    long events = 0;
};

// A folder of its own for the status file, gone afterwards.
class ScratchFolder {
public:
    ScratchFolder()
    {
        char pattern[] = "/tmp/zudbench.XXXXXX";
        if (getcwd(previous_, sizeof previous_) == nullptr || mkdtemp(pattern) == nullptr || chdir(pattern) != 0)
            std::abort();
        folder_ = pattern;
    }
    ~ScratchFolder()
    {
        if (chdir(previous_) != 0)
            std::abort();
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }

private:
    char previous_[4096];
    std::string folder_;
};

void BM_whole_run_near_1e12(benchmark::State& state)
{
    const int workers = static_cast<int>(state.range(0));
    ScratchFolder folder;
    CountingEvents events;
    double seconds = 0;
    for (auto _ : state) {
        zud::RunRecord run;
        run.candidates = zud_bench::bench_set();
        run.pmin = kRunFrom;
        run.pmax = kRunFrom + kRunSpan;
        zud::RunSettings settings;
        settings.workers = workers;
        zud::Run whole(run, events, settings);
        const auto began = std::chrono::steady_clock::now();
        whole.run_here();
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    }
    state.counters["p/s"] = static_cast<double>(kRunSpan) * static_cast<double>(state.iterations()) / seconds;
    state.counters["events"] = static_cast<double>(events.events);
}
BENCHMARK(BM_whole_run_near_1e12)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

// The dense range of the console figures (bench/console_dense.sh): the
// benchmark file from p = 3 to 500,000, 289,275 factor lines, with 2
// workers and nothing shown: what the sieve and the status file take, the
// floor for the console's whole range.
void BM_dense_range_unshown(benchmark::State& state)
{
    ScratchFolder folder;
    CountingEvents events;
    for (auto _ : state) {
        zud::RunRecord run;
        run.candidates = zud_bench::bench_set();
        run.pmin = 3;
        run.pmax = 500000;
        zud::RunSettings settings;
        settings.workers = 2;
        zud::Run whole(run, events, settings);
        whole.run_here();
        std::remove("ZudStatus.dat");
    }
}
BENCHMARK(BM_dense_range_unshown)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// What one worker's tables take for that run: every worker holds its own.
void BM_worker_tables_near_1e12(benchmark::State& state)
{
    const zud::CandidateSet& set = zud_bench::bench_set();
    std::uint64_t bytes = 0;
    for (auto _ : state) {
        auto residues = set.residues;
        auto spacings = set.spacings;
        bytes = 0;
        zud::SieveEngine engine;
        zud::SieveEngine::Callbacks callbacks;
        callbacks.plan = zud::search_plan(zud::processor_instruction_set());
        callbacks.allocate = [&bytes](std::uint32_t size) {
            bytes += size;
            return std::calloc(size, 1);
        };
        callbacks.release = [](void* block) { std::free(block); };
        engine.prepare(set.nmin, set.nmax, kRunFrom, kRunFrom + kRunSpan, set.k_values.data(), residues.data(),
                       spacings.data(), static_cast<std::uint32_t>(set.kcount), 2.5, callbacks);
    }
    state.counters["MB"] = static_cast<double>(bytes) / (1 << 20);
    state.counters["candidate set MB"] = static_cast<double>(set.bits.size() * 4) / (1 << 20);
}
BENCHMARK(BM_worker_tables_near_1e12)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
