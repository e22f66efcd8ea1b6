// The sieve engine's entry: every prime of [pmin, pmax] is searched for the
// (k, n) of the candidate set with p | k*2^n+1, hits go to a callback.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "engine/search/instruction_set.h"

namespace zud {

struct WorkDigest;

// k index (0-based), n, p. Called on the engine's thread, under the worker's
// floating-point environment, which it must leave as it found it. n may lie
// above nmax or be no longer a candidate: the callback filters.
using FactorCallback = std::function<void(std::int32_t k_index, std::int32_t n, std::int64_t p)>;
// Returns a zero-filled block of at least `size` bytes, or nullptr.
using AllocCallback = std::function<void*(std::uint32_t size)>;
using ReleaseCallback = std::function<void(void* block)>;
// Called with the prime about to be searched whenever p crosses a multiple
// of 65,536.
using ProgressCallback = std::function<void(std::int64_t p)>;
// The engine's own texts: "#I" after its set-up, and why a set-up gave up.
using EngineTextCallback = std::function<void(const char* text)>;

// What a caller adds to run_sieve's parameters. `stop` is the caller's stop
// word: 0 while the run may go on; the engine reads it once per prime,
// after the prime was fetched, and returns that prime unsearched when it is
// non-zero. Texts with no handler are dropped. `plan` is the searches to
// run: the programs give the filtered ones of the set decided in main; a
// caller that does not say gets those of the processor's best set.
struct SieveControls {
    const std::atomic<std::int32_t>* stop = nullptr;
    EngineTextCallback on_text;
    SearchPlan plan = search_plan(processor_instruction_set());
};

// The one-call entry, for the self-test, tests and benchmarks (the program's
// workers each hold a SieveEngine): runs the whole range. residues[i] = (n - nmin) mod spacings[i] for the
// remaining n of k i; both arrays are left holding the reduced values.
// Returns the first prime above pmax (clamped to 2^62 - 1), or the prime at
// which the stop flag was seen, or 0 when the set-up gave up (after sending
// a message text).
std::int64_t run_sieve(std::int32_t nmin, std::int32_t nmax, std::int64_t pmin, std::int64_t pmax,
                       const std::int32_t* k_values, std::int32_t* residues, std::int32_t* spacings,
                       std::uint32_t count, const FactorCallback& on_factor, const AllocCallback& allocate,
                       const ReleaseCallback& release, const ProgressCallback& on_progress,
                       double alpha, const SieveControls& controls = {}) noexcept;

// One worker's share of a run: the set-up once, then any number of
// ascending sub-ranges. Each worker owns one; nothing in it is shared.
class SieveEngine {
public:
    struct Callbacks {
        FactorCallback on_factor;
        AllocCallback allocate;
        ReleaseCallback release;
        EngineTextCallback on_text;   // set-up failures only; "#I" is the caller's
        // The run gives the plan of the set decided in main; no processor
        // is asked here, once per worker.
        SearchPlan plan = search_plan(InstructionSet::generic);
    };

    SieveEngine();
    ~SieveEngine();
    SieveEngine(const SieveEngine&) = delete;
    SieveEngine& operator=(const SieveEngine&) = delete;

    // The per-k set-up on the caller's residues and spacings (reduced in
    // place), the geometry and the tables for primes from pmin up to pmax.
    // False after sending a text when it gives up.
    bool prepare(std::int32_t nmin, std::int32_t nmax, std::int64_t pmin, std::int64_t pmax,
                 const std::int32_t* k_values,
                 std::int32_t* residues, std::int32_t* spacings, std::uint32_t count, double alpha,
                 Callbacks callbacks) noexcept;
    // False when there is nothing to search (nmax below the first n).
    bool has_work() const;
    // The filtered search's counts of this engine, for the benchmarks.
    void publish_filter_stats() const;
    // Where the hits of the following ranges go (after prepare).
    void set_factor_callback(FactorCallback on_factor);
    // Every prime searched from now on is added to `digest` (engine/work_digest.h);
    // nullptr (the default) adds nothing.
    void set_digest(WorkDigest* digest);

    // Searches the primes of [lo, hi], lo ascending from call to call.
    // Returns the first prime above hi, or the prime at which `interrupt`
    // was seen non-zero (unsearched; a later call may start there), or
    // after a text the first number not searched when the primes ran out of
    // memory. Primes stop at 2^62 - 1.
    std::int64_t sieve_range(std::int64_t lo, std::int64_t hi, const std::atomic<std::int32_t>* interrupt,
                             const ProgressCallback& on_progress) noexcept;

private:
    struct State;
    State* state_;
};

}  // namespace zud
