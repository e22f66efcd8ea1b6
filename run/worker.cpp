// The run's entry points, its thread ids and the worker count. The run
// itself, a coordinator and its sieving workers, is in coordinator.cpp.
#include "run/worker.h"

#include <sched.h>
#include <thread>

#include "run/coordinator.h"

namespace zud {

std::atomic<bool> worker_priority_refused{false};
std::atomic<bool> final_records_pending{false};

namespace {

__extension__ typedef unsigned __int128 Wide;

std::uint64_t mul_mod(std::uint64_t a, std::uint64_t b, std::uint64_t m)
{
    return static_cast<std::uint64_t>(static_cast<Wide>(a) * b % m);
}

std::uint64_t pow_mod(std::uint64_t base, std::uint64_t e, std::uint64_t m)
{
    std::uint64_t result = 1 % m;
    for (base %= m; e != 0; e >>= 1, base = mul_mod(base, base, m))
        if (e & 1)
            result = mul_mod(result, base, m);
    return result;
}

// Miller-Rabin with the first twelve primes as bases: exact below 3.3 * 10^24.
bool is_prime(std::uint64_t n)
{
    if (n < 2)
        return false;
    static const std::uint64_t bases[] = {2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31, 37};
    for (std::uint64_t b : bases)
        if (n % b == 0)
            return n == b;
    std::uint64_t d = n - 1;
    int s = 0;
    for (; (d & 1) == 0; d >>= 1)
        ++s;
    for (std::uint64_t b : bases) {
        std::uint64_t x = pow_mod(b, d, n);
        if (x == 1 || x == n - 1)
            continue;
        bool composite = true;
        for (int r = 1; r < s && composite; ++r) {
            x = mul_mod(x, x, n);
            composite = x != n - 1;
        }
        if (composite)
            return false;
    }
    return true;
}

}  // namespace

void WorkerInfo::add(pid_t tid)
{
    std::lock_guard<std::mutex> lock(mutex_);
    tids_.push_back(tid);
}

void WorkerInfo::clear()
{
    std::lock_guard<std::mutex> lock(mutex_);
    tids_.clear();
}

std::vector<pid_t> WorkerInfo::tids() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return tids_;
}

int default_worker_count()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0)
        return 1;
    const int count = CPU_COUNT(&set);
    return count < 1 ? 1 : count;
}

int worker_count(const RunRecord& run)
{
    return run.workers >= 1 ? run.workers : default_worker_count();
}

std::int64_t first_prime_from(std::int64_t n)
{
    std::uint64_t candidate = n < 2 ? 2 : static_cast<std::uint64_t>(n);
    while (!is_prime(candidate))
        ++candidate;
    return static_cast<std::int64_t>(candidate);
}

void worker_procedure(RunRecord* run, int nice, WorkerInfo* info)
{
    run_coordinated(*run, nice, info);
}

void start_worker(RunRecord& run, int nice, WorkerInfo& info)
{
    info.clear();
    std::thread(worker_procedure, &run, nice, &info).detach();
}

}  // namespace zud
