// Per-prime discrete-log search (baby-step giant-step) over the tables that
// run_sieve prepares once per run: the pieces every search shares.
#pragma once

#include <cstdint>

#include "engine/sieve.h"

namespace zud {

// The covered exponents are nmin_eff .. nmin_eff + stride * stride_count - 1.
struct SearchGeometry {
    std::int64_t nmin_eff;
    std::int64_t stride;         // m, a multiple of every spacing
    std::int64_t stride_count;   // g
};

constexpr int kBuckets = 4096;
constexpr int kBucketWords = 2 * kBuckets;
struct PowerFilter;
// Filter values that are not quadratic-residue tests.
constexpr std::int64_t kAlwaysActive = 0;
constexpr std::int64_t kNeverActive = 1;

// Views of blocks owned by run_sieve. Residues here count from nmin_eff.
struct SearchTables {
    std::uint32_t count;
    const std::int64_t* base_terms;     // k * 2^r, at most 2^60
    const std::int64_t* step_factors;   // 2^d
    const std::int32_t* spacings;       // d
    const std::int32_t* residues;       // r
    const std::int64_t* filters;        // -(k mod 3) * k, kAlwaysActive or kNeverActive
    std::int32_t* active;
    std::int64_t* stride_table;         // g entries, each in [0, p)
    std::uint32_t* links;               // g entries: previous index in the bucket, 0 ends
    std::uint32_t* buckets;             // kBuckets pairs: presence bits, newest index; all 0 between primes
    PowerFilter* power_filter = nullptr;   // per-run state of the filtered search
};

// Marks the k to search for p; false when none is.
bool select_active(const SearchTables& tables, std::int64_t p);

inline std::uint32_t bucket_of(std::int64_t x)
{
    return (static_cast<std::uint32_t>(x) & 0x1FFFFu) >> 5;
}

// Links entry i, of value x, into its bucket. Both words of each used
// bucket are cleared between primes, so an empty bucket's newest index is
// 0 and its first entry ends the chain.
inline void link_entry(const SearchTables& tables, std::uint32_t i, std::int64_t x)
{
    std::uint32_t* bucket = tables.buckets + 2 * bucket_of(x);
    bucket[0] |= 1u << (x & 31);
    tables.links[i] = bucket[1];
    bucket[1] = i;
}

// The presence bit of z (in [0, p)), 0 or 1: 0 for most probes, which then end.
inline std::uint32_t presence_bit(const std::uint32_t* buckets, std::int64_t z)
{
    return buckets[2 * bucket_of(z)] >> (z & 31) & 1u;
}
inline std::uint32_t presence_bit(const SearchTables& tables, std::int64_t z)
{
    return presence_bit(tables.buckets, z);
}
inline bool may_match(const SearchTables& tables, std::int64_t z)
{
    return presence_bit(tables, z) != 0;
}

// Looks up z, a loose residue in [0, 2p) of k*2^(r + j), and reports each
// stride-table entry t that matches as n = nmin_eff + j + t*m: entry 0
// first, then the bucket's chain from the newest entry back.
void probe(const SearchTables& tables, const SearchGeometry& geometry, std::int64_t z, std::int64_t j,
           std::int32_t k_index, std::int64_t p, const FactorCallback& on_factor);

}  // namespace zud
