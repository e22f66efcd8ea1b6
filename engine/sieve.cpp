// run_sieve and SieveEngine: per-k set-up, search geometry, tables, and the
// prime loop.
#include "engine/sieve.h"

#include <cinttypes>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <new>
#include <utility>

#include "engine/search/fast_search.h"
#include "engine/mod_arith.h"
#include "engine/search/power_filter.h"
#include "engine/prime_feed.h"
#include "engine/search/search.h"
#include "engine/search/search_tuning.h"
#include "engine/setup.h"
#include "engine/work_digest.h"

namespace zud {

namespace {

constexpr std::int64_t kPrimeLimit = kWideSearchLimit;

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

void report_alloc_failure(const EngineTextCallback& on_text, std::uint64_t bytes)
{
    char text[100];
    std::snprintf(text, sizeof text, "Cannot allocate %llu bytes for the sieve tables",
                  static_cast<unsigned long long>(bytes));
    if (on_text)
        on_text(text);
}

void report_spacing_failure(const EngineTextCallback& on_text, std::int32_t d)
{
    char text[100];
    std::snprintf(text, sizeof text, "Cannot reduce gcd value of %d", d);
    if (on_text)
        on_text(text);
}

}  // namespace

struct SieveEngine::State {
    State(AllocCallback allocate_with, ReleaseCallback release_with)
        : allocate(std::move(allocate_with)), release(std::move(release_with)), blocks(allocate, release)
    {
    }

    // Declared before the blocks, which use them until they are gone.
    AllocCallback allocate;
    ReleaseCallback release;
    Blocks blocks;
    SearchTables tables{};
    SearchGeometry geometry{};
    PrimeFeed primes;
    FactorCallback on_factor;
    EngineTextCallback on_text;
    std::int64_t pmax = 0;
    // A prime fetched past the end of one range belongs to a later one.
    std::uint64_t pending = 0;
    SearchPlan plan{};
    bool has_work = false;
    WorkDigest* digest = nullptr;   // set only when the run asks for it
    std::int32_t nmin = 1;
};

SieveEngine::SieveEngine() : state_(nullptr) {}

SieveEngine::~SieveEngine()
{
    delete state_;
}

bool SieveEngine::prepare(std::int32_t nmin, std::int32_t nmax, std::int64_t pmin, std::int64_t pmax,
                          const std::int32_t* k_values,
                          std::int32_t* residues, std::int32_t* spacings, std::uint32_t count, double alpha,
                          Callbacks callbacks) noexcept
{
    set_worker_fpu_env();
    delete state_;
    state_ = nullptr;
    if (count == 0)
        return false;
    const EngineTextCallback& on_text = callbacks.on_text;
    state_ = new (std::nothrow) State(callbacks.allocate, callbacks.release);
    if (state_ == nullptr) {
        report_alloc_failure(on_text, sizeof(State));
        return false;
    }
    State& s = *state_;
    s.on_factor = std::move(callbacks.on_factor);
    s.on_text = callbacks.on_text;
    s.plan = callbacks.plan;
    s.nmin = nmin;
    Blocks& blocks = s.blocks;
    auto* base_terms = blocks.get<std::int64_t>(count);
    auto* step_factors = blocks.get<std::int64_t>(count);
    auto* search_residues = blocks.get<std::int32_t>(count);
    if (search_residues == nullptr) {
        report_alloc_failure(on_text, blocks.failed_bytes());
        return false;
    }
    // Residues arrive counted from nmin; the search counts from nmin_eff.
    const std::int64_t nmin_eff = nmin < 2 ? 2 : nmin;
    const std::int64_t rebase = nmin_eff - nmin;
    auto* active = blocks.get<std::int32_t>(count);
    auto* filters = blocks.get<std::int64_t>(count);
    if (filters == nullptr) {
        report_alloc_failure(on_text, blocks.failed_bytes());
        return false;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        // The parity of the k's n is read before the spacing is reduced,
        // which may take its factor 2 away.
        filters[i] = filter_value(k_values[i], spacings[i] < 1 ? 1 : spacings[i],
                                  static_cast<std::int64_t>(nmin) + residues[i], pmin <= 3);
        KClass c{};
        if (!reduce_class(k_values[i], residues[i], spacings[i], rebase, c)) {
            report_spacing_failure(on_text, c.spacing);
            return false;
        }
        const std::int32_t k = k_values[i];
        const std::int32_t d = c.spacing, r_eff = c.search_residue;
        residues[i] = c.residue;
        spacings[i] = d;
        search_residues[i] = r_eff;
        base_terms[i] = static_cast<std::int64_t>(static_cast<std::uint64_t>(k) << r_eff);
        step_factors[i] = std::int64_t{1} << d;
    }
    if (nmax < nmin_eff)
        return true;   // nothing to search: has_work() says so
    // The primes come from a segmented sieve of Eratosthenes below 2^48
    // (the same primes as the sieve of Atkin, far cheaper near 2^48) and
    // from the prime library above. They must be right up to the first
    // prime above pmax.
    s.pmax = pmax > kPrimeLimit ? kPrimeLimit : pmax;
    const auto first = static_cast<std::uint64_t>(pmin < 3 ? 3 : pmin);
    const auto limit = static_cast<std::uint64_t>(s.pmax) > first ? static_cast<std::uint64_t>(s.pmax) : first;
    auto* sieve_memory = blocks.get<std::uint64_t>(PrimeFeed::bytes_for(first, limit) / 8 + 1);
    if (sieve_memory == nullptr) {
        report_alloc_failure(on_text, blocks.failed_bytes());
        return false;
    }
    s.primes.init(sieve_memory, first, limit);

    std::int64_t lcm = spacings[0];
    for (std::uint32_t i = 1; i < count; ++i)
        lcm = lcm / gcd(static_cast<std::int32_t>(lcm), spacings[i]) * spacings[i];
    s.geometry = plan_geometry(nmin_eff, nmax, lcm, alpha);
    // The filtered search picks its own stride per prime: room for more entries.
    const std::int64_t table_capacity = filtered_table_capacity(s.geometry);
    auto* stride_table = blocks.get<std::int64_t>(static_cast<std::uint64_t>(table_capacity));
    auto* links = blocks.get<std::uint32_t>(static_cast<std::uint64_t>(table_capacity));
    void* filter_block = blocks.get<unsigned char>(power_filter_bytes(count, filters));
    auto* buckets = blocks.get<std::uint32_t>(kBucketWords);
    if (buckets == nullptr) {
        report_alloc_failure(on_text, blocks.failed_bytes());
        return false;
    }
    // The links rely on every bucket being empty, newest index and all.
    std::memset(buckets, 0, kBucketWords * sizeof(std::uint32_t));
    PowerFilter* power_filter = init_power_filter(filter_block, count, filters,
                                                  static_cast<std::int64_t>(nmax) + 1 - nmin_eff, table_capacity);
    s.tables = SearchTables{count,  base_terms,   step_factors, spacings, search_residues, filters,
                            active, stride_table, links,        buckets,  power_filter};
    s.has_work = true;
    return true;
}

bool SieveEngine::has_work() const
{
    return state_ != nullptr && state_->has_work;
}

void SieveEngine::publish_filter_stats() const
{
    if (state_ != nullptr)
        zud::publish_filter_stats(state_->tables.power_filter);
}

void SieveEngine::set_digest(WorkDigest* digest)
{
    if (state_ != nullptr)
        state_->digest = digest;
}

void SieveEngine::set_factor_callback(FactorCallback on_factor)
{
    if (state_ != nullptr)
        state_->on_factor = std::move(on_factor);
}

std::int64_t SieveEngine::sieve_range(std::int64_t lo, std::int64_t hi, const std::atomic<std::int32_t>* interrupt,
                                      const ProgressCallback& on_progress) noexcept
{
    State& s = *state_;
    set_worker_fpu_env();
    if (hi > s.pmax)
        hi = s.pmax;
    const std::int64_t first = lo < 3 ? 3 : lo;
    if (first > hi && first > kPrimeLimit)
        return first;   // no prime source reaches that far; the caller needs a value above hi
    if (s.pending < static_cast<std::uint64_t>(first)) {
        s.primes.skip_to(static_cast<std::uint64_t>(first));
        s.pending = 0;
    }
    const SearchPlan plan = s.plan;
    auto progress_state = static_cast<std::int32_t>(lo & 0x10000);
    std::int64_t unsearched = first;   // where a resume must start
    for (;;) {
        std::uint64_t next = s.pending;
        if (next != 0)
            s.pending = 0;
        else
            next = s.primes.next();
        const auto p = static_cast<std::int64_t>(next);
        if (p == 0) {
            // The prime library ran out of memory: stop where nothing is lost.
            char text[100];
            std::snprintf(text, sizeof text, "Cannot allocate memory for the primes from %" PRId64, unsearched);
            if (s.on_text)
                s.on_text(text);
            return unsearched;
        }
        if (p > hi) {
            s.pending = next;
            return p;
        }
        // Read the stop word once per prime: a whole prime is the unit we resume from.
        if (interrupt != nullptr && interrupt->load(std::memory_order_relaxed) != 0) {
            s.pending = next;
            return p;
        }
        if (on_progress && static_cast<std::int32_t>(p & 0x10000) != progress_state) {
            progress_state = static_cast<std::int32_t>(p & 0x10000);
            on_progress(p);
        }
        if (s.digest != nullptr)
            add_to_digest(*s.digest, next, s.nmin);
        plan.for_prime(p)(s.tables, s.geometry, p, s.on_factor);
        unsearched = p + 1;
    }
}

std::int64_t run_sieve(std::int32_t nmin, std::int32_t nmax, std::int64_t pmin, std::int64_t pmax,
                       const std::int32_t* k_values, std::int32_t* residues, std::int32_t* spacings,
                       std::uint32_t count, const FactorCallback& on_factor, const AllocCallback& allocate,
                       const ReleaseCallback& release, const ProgressCallback& on_progress, double alpha,
                       const SieveControls& controls) noexcept
{
    set_worker_fpu_env();
    const EngineTextCallback on_text = [&controls](const char* text) {
        if (controls.on_text)
            controls.on_text(text);
    };
    SieveEngine engine;
    if (!engine.prepare(nmin, nmax, pmin, pmax, k_values, residues, spacings, count, alpha,
                        {on_factor, allocate, release, on_text, controls.plan}) ||
        !engine.has_work())
        return 0;
    const std::int64_t first = pmin < 3 ? 3 : pmin;
    if (first > pmax && first > kPrimeLimit) {
        // Nothing to search, and no prime source reaches that far: the
        // caller only needs a value above its pmax.
        on_text("#I");
        return first;
    }
    on_text("#I");
    const std::int64_t ended_at = engine.sieve_range(pmin, pmax, controls.stop, on_progress);
    engine.publish_filter_stats();
    return ended_at;
}

}  // namespace zud
