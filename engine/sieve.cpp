// run_sieve: per-k set-up, search geometry, tables, and the prime loop.
#include "engine/sieve.h"

#include <climits>
#include <cmath>
#include <cstddef>

#include "engine/fast_search.h"
#include "engine/mod_arith.h"
#include "engine/power_filter.h"
#include "engine/segmented_sieve.h"
#include "engine/search.h"
#include "engine/setup.h"
#include "run/messages.h"

namespace zud {

std::atomic<std::int32_t> stop_flag{0};

namespace {

constexpr std::int64_t kPrimeLimit = (std::int64_t{1} << 48) - 1;

// Blocks from the caller's allocator, all returned when the run ends.
class Blocks {
public:
    Blocks(const AllocCallback& allocate, const ReleaseCallback& release) : allocate_(allocate), release_(release) {}
    ~Blocks()
    {
        for (int i = 0; i < used_; ++i)
            release_(blocks_[i]);
    }
    // nullptr once any request has failed, so that one test at the end of
    // a group of requests covers them all.
    template <typename T>
    T* get(std::uint64_t elements)
    {
        const std::uint64_t bytes = elements * sizeof(T);
        if (failed_bytes_ != 0)
            return nullptr;
        if (bytes > UINT32_MAX || used_ == kMax) {
            failed_bytes_ = bytes;
            return nullptr;
        }
        void* block = allocate_(static_cast<std::uint32_t>(bytes == 0 ? sizeof(T) : bytes));
        if (block == nullptr) {
            failed_bytes_ = bytes;
            return nullptr;
        }
        blocks_[used_++] = block;
        return static_cast<T*>(block);
    }
    std::uint64_t failed_bytes() const { return failed_bytes_; }

private:
    static constexpr int kMax = 12;
    const AllocCallback& allocate_;
    const ReleaseCallback& release_;
    void* blocks_[kMax] = {};
    int used_ = 0;
    std::uint64_t failed_bytes_ = 0;
};

void report_alloc_failure(std::uint64_t bytes)
{
    send_message_f("Cannot allocate %llu bytes for the sieve tables", static_cast<unsigned long long>(bytes));
}

void prime_loop(SegmentedSieve& primes, std::int64_t pmax, std::int32_t progress_state, const SearchTables& tables,
                const SearchGeometry& geometry, const FactorCallback& on_factor, const ProgressCallback& on_progress,
                std::int64_t& ended_at)
{
    const SearchFunction search = search_function(search_mode());
    for (;;) {
        const auto p = static_cast<std::int64_t>(primes.next());
        // Read the stop flag once per prime: a whole prime is the unit we resume from.
        if (p > pmax || stop_flag.load(std::memory_order_relaxed) != 0) {
            ended_at = p;
            return;
        }
        if (static_cast<std::int32_t>(p & 0x10000) != progress_state) {
            progress_state = static_cast<std::int32_t>(p & 0x10000);
            on_progress(p);
        }
        search(tables, geometry, p, on_factor);
    }
}

}  // namespace

std::int64_t run_sieve(std::int32_t nmin, std::int32_t nmax, std::int64_t pmin, std::int64_t pmax,
                       const std::int32_t* k_values, std::int32_t* residues, std::int32_t* spacings,
                       std::uint32_t count, const FactorCallback& on_factor, const AllocCallback& allocate,
                       const ReleaseCallback& release, const ProgressCallback& on_progress, double alpha) noexcept
{
    const auto progress_state = static_cast<std::int32_t>(pmin & 0x10000);
    set_worker_fpu_env();
    if (count == 0)
        return 0;
    Blocks blocks(allocate, release);
    auto* base_terms = blocks.get<std::int64_t>(count);
    auto* step_factors = blocks.get<std::int64_t>(count);
    auto* search_residues = blocks.get<std::int32_t>(count);
    if (search_residues == nullptr) {
        report_alloc_failure(blocks.failed_bytes());
        return 0;
    }
    // Residues arrive counted from nmin; the search counts from nmin_eff.
    const std::int64_t nmin_eff = nmin < 2 ? 2 : nmin;
    const std::int64_t rebase = nmin_eff - nmin;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::int32_t d = spacings[i] < 1 ? 1 : reduce_spacing(spacings[i], 48);
        if (d > 48) {
            send_message_f("Cannot reduce gcd value of %d", d);
            return 0;
        }
        std::int32_t r = non_negative_mod(residues[i], d);
        std::int32_t r_eff = non_negative_mod(static_cast<std::int64_t>(r) - rebase, d);
        const std::int32_t k = k_values[i];
        const std::int32_t limit = k <= 1 ? 60 : residue_limit(k);
        if (r_eff > limit) {
            d = reduce_spacing(d, limit);
            if (d > limit) {
                send_message_f("Cannot reduce gcd value of %d", d);
                return 0;
            }
            r = r % d;
            r_eff = r_eff % d;
        }
        residues[i] = r;
        spacings[i] = d;
        search_residues[i] = r_eff;
        base_terms[i] = static_cast<std::int64_t>(static_cast<std::uint64_t>(k) << r_eff);
        step_factors[i] = std::int64_t{1} << d;
    }
    if (nmax < nmin_eff)
        return 0;
    auto* active = blocks.get<std::int32_t>(count);
    auto* filters = blocks.get<std::int64_t>(count);
    if (filters == nullptr) {
        report_alloc_failure(blocks.failed_bytes());
        return 0;
    }
    // The primes come from a segmented sieve of Eratosthenes: the same
    // primes as the sieve of Atkin, far cheaper near 2^48. It must judge
    // every number up to the first prime above pmax.
    if (pmax > kPrimeLimit)
        pmax = kPrimeLimit;
    const std::int64_t first = pmin < 3 ? 3 : pmin;
    if (first > pmax && first > kPrimeLimit) {
        // Nothing to search, and no prime source reaches that far: the
        // caller only needs a value above its pmax.
        send_message("#I", 0);
        return first;
    }
    const auto limit = static_cast<std::uint64_t>(pmax > first ? pmax : first) + (std::uint64_t{1} << 23);
    auto* sieve_memory = blocks.get<std::uint64_t>(SegmentedSieve::bytes_for(limit) / 8 + 1);
    if (sieve_memory == nullptr) {
        report_alloc_failure(blocks.failed_bytes());
        return 0;
    }
    SegmentedSieve primes;
    primes.init(sieve_memory, limit);
    primes.skip_to(static_cast<std::uint64_t>(first));

    std::int64_t lcm = spacings[0];
    for (std::uint32_t i = 1; i < count; ++i)
        lcm = lcm / gcd(static_cast<std::int32_t>(lcm), spacings[i]) * spacings[i];
    const SearchGeometry geometry = plan_geometry(nmin_eff, nmax, lcm, alpha);
    // The filtered search picks its own stride per prime: room for more entries.
    const std::int64_t table_capacity = filtered_table_capacity(geometry);
    auto* stride_table = blocks.get<std::int64_t>(static_cast<std::uint64_t>(table_capacity));
    auto* links = blocks.get<std::uint32_t>(static_cast<std::uint64_t>(table_capacity));
    void* filter_block = blocks.get<unsigned char>(power_filter_bytes(count));
    auto* buckets = blocks.get<std::uint32_t>(2 * kBuckets);
    if (buckets == nullptr) {
        report_alloc_failure(blocks.failed_bytes());
        return 0;
    }
    for (std::uint32_t i = 0; i < count; ++i)
        filters[i] = filter_value(k_values[i]);

    send_message("#I", 0);
    PowerFilter* power_filter =
        init_power_filter(filter_block, count, static_cast<std::int64_t>(nmax) + 1 - nmin_eff, table_capacity);
    const SearchTables tables{count,  base_terms,   step_factors, spacings, search_residues, filters,
                              active, stride_table, links,        buckets,  power_filter};
    std::int64_t ended_at = 0;
    prime_loop(primes, pmax, progress_state, tables, geometry, on_factor, on_progress, ended_at);
    publish_filter_stats(power_filter);
    return ended_at;
}

}  // namespace zud
