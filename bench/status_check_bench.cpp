// What the check of every record costs a Start: a status file of 10^6
// factor lines as a dense range writes them (every n of [1, 300000] for
// four k, from p = 3 on), read as a Start reads it with and without the
// check, beside the whole Start's reading of both files.
#include <benchmark/benchmark.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include "data/candidate_set.h"
#include "data/status_file.h"
#include "run/factor_check.h"

namespace {

constexpr int kNmax = 300000;
constexpr std::int64_t kLines = 1000000;
const int kKs[] = {5, 7, 11, 13};

// The folder with Zud.dat and ZudStatus.dat, made once.
const std::string& folder()
{
    static const std::string made = [] {
        char name[] = "/tmp/zud_status_check_XXXXXX";
        if (mkdtemp(name) == nullptr || chdir(name) != 0)
            std::abort();
        std::FILE* zud = std::fopen("Zud.dat", "w");
        std::fprintf(zud, "4\n1\n%d\n", kNmax);
        for (int k : kKs) {
            std::fprintf(zud, "k=%d\n1\n", k);
            for (int n = 2; n <= kNmax; ++n)
                std::fputs("+1\n", zud);
        }
        std::fclose(zud);
        // The factors in the order a run finds them: ascending p, each n
        // of a k once, at its smallest prime.
        std::vector<std::vector<bool>> removed(4, std::vector<bool>(kNmax + 1, false));
        std::string text = "pmax=100000000\npmin=3\n";
        std::int64_t lines = 0;
        for (std::int64_t p = 3; lines < kLines; p += 2) {
            if (!zud::is_prime(p))
                continue;
            for (int i = 0; i < 4 && lines < kLines; ++i)
                for (std::int64_t n = 1, power = 2 % p; n <= kNmax && lines < kLines; ++n, power = power * 2 % p) {
                    if (removed[i][n] || (kKs[i] % p * power + 1) % p != 0)
                        continue;
                    removed[i][n] = true;
                    char line[64];
                    std::snprintf(line, sizeof line, "%" PRId64 " | %d*2^%" PRId64 "+1\n", p, kKs[i], n);
                    text += line;
                    ++lines;
                }
        }
        std::FILE* status = std::fopen("ZudStatus.dat", "w");
        std::fwrite(text.data(), 1, text.size(), status);
        std::fclose(status);
        return std::string(name);
    }();
    if (chdir(made.c_str()) != 0)
        std::abort();
    return made;
}

void read_status(benchmark::State& state, bool checked)
{
    folder();
    zud::CandidateSet set;
    if (!zud::read_candidate_file(zud::DataFolder(), set).ok) {
        state.SkipWithError("cannot read the candidate file");
        return;
    }
    std::size_t factors = 0;
    for (auto _ : state) {
        zud::StatusReadHooks hooks;
        if (checked) {
            hooks.factor_fault = zud::factor_fault;
            hooks.candidates = &set;
        }
        bool echo = false;
        const zud::StatusRead read = zud::read_status_file(zud::DataFolder(), echo, hooks);
        if (read.unusable || read.completed) {
            state.SkipWithError("the status file was refused");
            break;
        }
        factors = read.factors.size();
    }
    state.counters["factor_lines"] = static_cast<double>(factors);
}

void BM_status_read_unchecked(benchmark::State& state) { read_status(state, false); }
void BM_status_read_checked(benchmark::State& state) { read_status(state, true); }
BENCHMARK(BM_status_read_unchecked)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_status_read_checked)->Unit(benchmark::kMillisecond)->Iterations(3);

// The files' part of a Start: the candidate file, the checked status file,
// the recorded factors left out.
void BM_start_reading_both_files(benchmark::State& state)
{
    folder();
    for (auto _ : state) {
        zud::CandidateSet set;
        if (!zud::read_candidate_file(zud::DataFolder(), set).ok) {
            state.SkipWithError("cannot read the candidate file");
            break;
        }
        zud::StatusReadHooks hooks;
        hooks.factor_fault = zud::factor_fault;
        hooks.candidates = &set;
        bool echo = false;
        const zud::StatusRead read = zud::read_status_file(zud::DataFolder(), echo, hooks);
        set.remove(read.factors);
        benchmark::DoNotOptimize(set.bits.data());
    }
}
BENCHMARK(BM_start_reading_both_files)->Unit(benchmark::kMillisecond)->Iterations(3);

// The check of one line whose prime differs from the line before it (the
// primality test is not shared): a sparse range near 2^40 and 2^61.
void BM_factor_check_distinct_primes(benchmark::State& state)
{
    const std::int64_t from = std::int64_t{1} << state.range(0);
    std::vector<std::int64_t> primes;
    for (std::int64_t p = from + 1; primes.size() < 1000; p += 2)
        if (zud::is_prime(p))
            primes.push_back(p);
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(zud::factor_fault(primes[i], 1234567, 15000000 + static_cast<std::int32_t>(i)));
        i = (i + 1) % primes.size();
    }
}
BENCHMARK(BM_factor_check_distinct_primes)->Arg(40)->Arg(61)->Unit(benchmark::kMicrosecond);

}  // namespace
