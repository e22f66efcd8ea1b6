// Power-residue filters for the search of one prime. For L | p-1 the map
// x -> x^((p-1)/L) sends both sides of 2^n = -1/k into the L-th roots of
// unity, so a hit needs A^n = Z^-1 with A = 2^((p-1)/L), Z = (-k)^((p-1)/L):
// either Z is no power of A and k has no hit for p, or n is fixed modulo
// the order e of A. With each k's own class n = r (mod d) that leaves one
// class modulo lcm(d, e) or nothing, and the stride of the search is then
// chosen for that prime alone.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/mont64.h"
#include "engine/search/search.h"

namespace zud {

// Counted over a run, for the benchmark notes.
struct FilterStats {
    std::uint64_t primes = 0;         // primes that reached the filter
    std::uint64_t k_tested = 0;       // k put to the filters
    std::uint64_t k_dropped = 0;      // of those, dropped by the quadratic rule or the power residues
    std::uint64_t probes = 0;
    std::uint64_t table_entries = 0;
    std::uint64_t class_modulus = 0;  // sum of the orders e
};

// The quadratic rule of one k with a parity filter (s = -k or -2k, k odd),
// decided from p mod k before the k's exponentiation: by reciprocity
// (s / p) follows from p mod 8 and (p / k), and (p / k) = ((p mod k) / k)
// comes from a table of the Jacobi symbols modulo k. Half such k fail it.
struct QuadraticTest {
    std::uint64_t magic = 0;               // floor((2^64 - 1) / k)
    std::uint32_t k = 0;                   // 0: no table; the exponentiation decides
    bool doubled = false;                  // s = -2k
    const std::uint64_t* symbols = nullptr;   // bit r: (r / k) = 1, for r < k

    // Whether (s / p) = 1, for an odd prime p (reciprocity holds whichever
    // is larger). Where p divides k the answer is either; such a k has no
    // hit, and its exponentiation, if it runs, drops it.
    bool keeps(std::uint64_t p) const
    {
        const auto q = static_cast<std::uint64_t>((static_cast<Uint128>(p) * magic) >> 64);
        std::uint64_t r = p - q * k;   // q is the quotient or one less
        if (r >= k)
            r -= k;
        const bool p_3_mod_4 = (p & 3) == 3;
        const bool two_is_not_square = ((p + 2) & 7) > 4;   // p = 3 or 5 (mod 8)
        const bool k_3_mod_4 = (k & 3) == 3;
        const bool negative = p_3_mod_4 ^ (doubled && two_is_not_square) ^ (k_3_mod_4 && p_3_mod_4) ^
                              ((symbols[r >> 6] >> (r & 63) & 1) == 0);
        return !negative;
    }
};

// Per-run state of the filtered search, in one block from the caller's
// allocator, so that every worker holds its own.
struct PowerFilter {
    std::uint32_t count;
    std::int64_t range;      // exponents nmin_eff .. nmin_eff + range - 1
    std::int64_t capacity;   // entries of the stride table and link array
    // Scratch for one prime, each at least lane_capacity long.
    std::int64_t lane_capacity;
    std::int64_t* lane_base;
    std::int64_t* lane_exponent;
    std::int64_t* lane_result;
    std::int32_t* survivor;   // k index
    std::int64_t* first_j;    // smallest j of the k's class
    std::int64_t* class_step; // lcm(d, e)
    // With many k: the powers of A by value, open addressing, each slot a
    // position + 1 or 0 for empty; all 0 between primes. Else null.
    std::uint16_t* power_index;
    QuadraticTest* quadratic;   // one a k
    FilterStats stats;
};

// The stride-table entries to allocate when the filtered search may run:
// room for a shorter stride than the run's own when few n are left.
std::int64_t filtered_table_capacity(const SearchGeometry& geometry);
// `filters`: each k's filter value (the quadratic rule's s, kAlwaysActive or
// kNeverActive).
std::size_t power_filter_bytes(std::uint32_t count, const std::int64_t* filters);
// Lays the state out in a zero-filled block of power_filter_bytes(count, filters).
PowerFilter* init_power_filter(void* block, std::uint32_t count, const std::int64_t* filters, std::int64_t range,
                               std::int64_t capacity);

// The modulus L of the filter for p: the product of the powers of the
// primes below kMostModulus dividing p - 1 that a greedy pick, smallest
// prime first, keeps within `most`.
std::int64_t class_modulus(std::int64_t p, std::int64_t most);

// Joins n - nmin_eff = r (mod d) with n - nmin_eff = t (mod e), for
// 0 <= r < d (a spacing, at most 48) and 0 <= t < e: false when they
// contradict; else the first j in [0, lcm) and lcm = lcm(d, e).
bool combine_classes(std::int64_t r, std::int64_t d, std::int64_t t, std::int64_t e, std::int64_t& first,
                     std::int64_t& step);

struct PrimeStride {
    std::int64_t stride;   // a multiple of `multiple_of`
    std::int64_t count;    // stride * count >= range, count <= capacity
};
// Balances table entries (range / stride) against probes (stride * sum of
// 1 / class step over the surviving k).
PrimeStride choose_stride(std::int64_t range, std::int64_t capacity, std::int64_t multiple_of,
                          double inverse_steps);

// The counts of the last run that used the filtered search on this thread.
FilterStats last_filter_stats();
void publish_filter_stats(const PowerFilter* filter);

}  // namespace zud
