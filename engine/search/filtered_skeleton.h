// The search of one prime, written once: select the k the power-residue
// filter keeps (or, unfiltered, the quadratic rule), fill the stride table,
// link it into the buckets, probe each k's class, clear. The arithmetic comes from a variant class
// (search_x86_ifma.cpp, search_x86_avx2.cpp, search_generic.cpp), whose
// values are forms of residues kept exact in [0, p): a one-to-one image of
// the residues, so equal residues meet as equal values.
//
// A variant `Arith`, built from p, supplies:
//   one()                         1 as a form
//   pow_lanes(pf, lanes)          pf.lane_result[i] = lane_base[i]^lane_exponent[i]
//                                 as forms, bases plain in [0, p)
//   powers_of(a, most, powers)    powers[i] = a^i up to a's order e <= most; returns e
//                                 (powers has room for most + 8 values)
//   find_power(powers, e, z)      the first i < e with powers[i] = z, or -1
//   fill_table(table, g, x, y)    table[t] = x * y^t for t < g
//   probe_class(tables, geo, i, first, step, z, y, probes, on_factor)
//                                 presence tests of z * y^c for c < probes,
//                                 probe c standing for j = first + c * step
//   mul(a, b), to_form(v)         scalar product of forms; a plain 0 <= v < 2^63 as a form
// Forms are linear: p - x is the form of -x.
// Every function of a variant that needs special instructions carries its
// own target attribute; this skeleton is plain x86-64 code.
#pragma once

#include <cstdint>
#include <optional>
#include <type_traits>

#include "engine/search/fast_search.h"
#include "engine/search/power_filter.h"
#include "engine/search/search_tuning.h"

namespace zud {
namespace filtered {

struct Survivors {
    std::int64_t count = 0;
    std::int64_t lcm = 1;
    double inverse_steps = 0;
};

std::int64_t lcm_capped(std::int64_t a, std::int64_t b);

// Whether the reference's quadratic rule keeps k, from the position `at`
// of Z = (-k)^((p-1)/L) among the powers of A = 2^((p-1)/L), L even.
bool quadratic_rule_keeps(std::int64_t filter, std::int64_t k, std::int64_t at, std::int64_t p);

inline std::int64_t k_of(const SearchTables& t, std::uint32_t i)
{
    return t.base_terms[i] >> t.residues[i];
}

// k's class of j from Z = A^at, A of order e; false when k has no hit.
// nmin_in_e is nmin_eff mod e.
bool class_of_k(const SearchTables& t, std::int64_t nmin_in_e, std::uint32_t i, std::int64_t at, std::int64_t e,
                std::int64_t p, std::int64_t& first, std::int64_t& step);

// The lanes of the first pass: 2^((p-1)/L) (lane 0), 2^-nmin_eff (lane 1)
// and (-k)^((p-1)/L) of every k that can be active (lanes 2 ..., their
// indices in pf.survivor), less those a table of Jacobi symbols shows the
// quadratic rule drops. Returns the number of k.
std::int64_t first_pass_lanes(const SearchTables& t, const SearchGeometry& geo, PowerFilter& pf, std::int64_t p,
                              std::int64_t modulus);
// The lanes of the second pass: 2^-m (lane 0), then 2^first and 2^step of
// every k left.
std::int64_t second_pass_lanes(PowerFilter& pf, std::int64_t p, std::int64_t stride, std::int64_t survivors);

template <int N, class Run>
void run_group(int n, const Run& run, std::int64_t first)
{
    if constexpr (N == 1)
        run(std::integral_constant<int, 1>{}, first);
    else if (n == N)
        run(std::integral_constant<int, N>{}, first);
    else
        run_group<N - 1>(n, run, first);
}

// Calls run(std::integral_constant<int, n>{}, first) for groups of n <= Most
// of `count` items, as evenly as they divide, so that no group works for
// empty items: the exponentiations' groups of interleaved chains.
template <int Most, class Run>
void in_even_groups(std::int64_t count, const Run& run)
{
    const std::int64_t groups = (count + Most - 1) / Most;
    std::int64_t first = 0;
    for (std::int64_t g = 0; g < groups; ++g) {
        const auto n = static_cast<int>((count - first) / (groups - g));
        run_group<Most>(n, run, first);
        first += n;
    }
}

// The vectors of `width` lanes that hold `lanes`; the lanes past the last
// become powers of 1 (the scratch holds whole vectors of lanes).
inline std::int64_t whole_vectors(const PowerFilter& pf, std::int64_t lanes, std::int64_t width)
{
    const std::int64_t vectors = (lanes + width - 1) / width;
    for (std::int64_t i = lanes; i < vectors * width; ++i) {
        pf.lane_base[i] = 1;
        pf.lane_exponent[i] = 0;
    }
    return vectors;
}

// The first i < e with powers[i] = z, or -1: four compares a branch.
inline std::int64_t find_power_scalar(const std::int64_t* powers, std::int64_t e, std::int64_t z)
{
    std::int64_t i = 0;
    for (; i + 4 <= e; i += 4)
        if ((powers[i] == z) | (powers[i + 1] == z) | (powers[i + 2] == z) | (powers[i + 3] == z))
            break;
    for (; i < e; ++i)
        if (powers[i] == z)
            return i;
    return -1;
}

static_assert(kPowerIndexSlots >= 4 * kMostModulus && kMostModulus < 65535, "the index's load and positions");

// The index of the powers of A for many k: a look-up a k instead of a scan.
// The powers are distinct (i < e, the order of A) and as good as random in
// their low bits.
class PowerIndex {
public:
    PowerIndex(std::uint16_t* slots, const std::int64_t* powers, std::int64_t e)
        : slots_(slots), powers_(powers), e_(e)
    {
        for (std::int64_t i = 0; i < e; ++i) {
            std::uint32_t h = home(powers[i]);
            while (slots_[h] != 0)
                h = (h + 1) & kMask;
            slots_[h] = static_cast<std::uint16_t>(i + 1);
        }
    }
    // Back to all empty: each power's probe run passes over the slots
    // cleared before it and ends at its own.
    ~PowerIndex()
    {
        for (std::int64_t i = 0; i < e_; ++i) {
            std::uint32_t h = home(powers_[i]);
            while (slots_[h] != i + 1)
                h = (h + 1) & kMask;
            slots_[h] = 0;
        }
    }
    PowerIndex(const PowerIndex&) = delete;
    PowerIndex& operator=(const PowerIndex&) = delete;

    // The i < e with powers[i] = z, or -1.
    std::int64_t find(std::int64_t z) const
    {
        for (std::uint32_t h = home(z);; h = (h + 1) & kMask) {
            const std::uint16_t at = slots_[h];
            if (at == 0)
                return -1;
            if (powers_[at - 1] == z)
                return at - 1;
        }
    }

private:
    static constexpr std::uint32_t kMask = kPowerIndexSlots - 1;
    static std::uint32_t home(std::int64_t v) { return static_cast<std::uint32_t>(v) & kMask; }

    std::uint16_t* slots_;
    const std::int64_t* powers_;
    std::int64_t e_;
};

// Keeps in the scratch, for each k left, its first j and class step, and
// sets 2^-nmin_eff. It stands for the quadratic rule of select_active too.
template <class Arith>
Survivors filter_k(const SearchTables& t, const SearchGeometry& geo, PowerFilter& pf, const Arith& a, std::int64_t p,
                   std::int64_t& inverse_nmin)
{
    const std::int64_t modulus = class_modulus(p, kMostModulus);
    const std::int64_t tested = first_pass_lanes(t, geo, pf, p, modulus);
    a.pow_lanes(pf, 2 + tested);
    inverse_nmin = pf.lane_result[1];
    alignas(64) std::int64_t powers[kMostModulus + 8];
    const std::int64_t e = a.powers_of(pf.lane_result[0], modulus, powers);
    Survivors s;
    std::int64_t last_step = 0;   // most k share a few steps; the lcm needs each once
    const std::int64_t nmin_in_e = geo.nmin_eff % e;
    // The scan grows with e for each k; the index costs two passes over the
    // powers for all k together.
    std::optional<PowerIndex> index;
    if (tested >= kIndexPowersFrom && pf.power_index != nullptr)
        index.emplace(pf.power_index, powers, e);
    for (std::int64_t at = 0; at < tested; ++at) {
        const auto i = static_cast<std::uint32_t>(pf.survivor[at]);
        std::int64_t first = 0, step = 0;
        const std::int64_t z = pf.lane_result[2 + at];
        if (!class_of_k(t, nmin_in_e, i, index ? index->find(z) : a.find_power(powers, e, z), e, p, first, step))
            continue;
        pf.survivor[s.count] = static_cast<std::int32_t>(i);
        pf.first_j[s.count] = first;
        pf.class_step[s.count] = step;
        ++s.count;
        if (step != last_step)
            s.lcm = lcm_capped(s.lcm, step);
        last_step = step;
        s.inverse_steps += 1.0 / static_cast<double>(step);
    }
    pf.stats.primes += 1;
    pf.stats.k_tested += static_cast<std::uint64_t>(tested);
    pf.stats.k_dropped += static_cast<std::uint64_t>(tested - s.count);
    pf.stats.class_modulus += static_cast<std::uint64_t>(e);
    return s;
}

// Searches p with the filter; false when p is for the unfiltered search
// (small p, no filter state, or classes too fine for the stride table).
template <class Arith>
bool search(const SearchTables& t, const SearchGeometry& geo, std::int64_t p, const FactorCallback& on_factor)
{
    PowerFilter* pf = t.power_filter;
    if (pf == nullptr || p < kSmallestFiltered)
        return false;
    const Arith a(p);
    std::int64_t inverse_nmin = 0;
    const Survivors s = filter_k(t, geo, *pf, a, p, inverse_nmin);
    if (s.count == 0)
        return true;
    if (s.lcm >= kMostUnit)
        return false;   // the unfiltered search applies the quadratic rule itself
    const PrimeStride stride = choose_stride(pf->range, pf->capacity, s.lcm, s.inverse_steps);
    const SearchGeometry prime_geo{geo.nmin_eff, stride.stride, stride.count};
    a.pow_lanes(*pf, second_pass_lanes(*pf, p, stride.stride, s.count));
    // Entry t is -2^-(nmin_eff + t*m).
    a.fill_table(t.stride_table, stride.count, p - inverse_nmin, pf->lane_result[0]);   // 2^-e is never 0
    link_stride_table(t, prime_geo);
    std::uint64_t probes = 0;
    for (std::int64_t at = 0; at < s.count; ++at) {
        const auto i = pf->survivor[at];
        const std::int64_t first = pf->first_j[at], step = pf->class_step[at];
        const std::int64_t count = (prime_geo.stride - first + step - 1) / step;
        const std::int64_t z = a.mul(pf->lane_result[1 + 2 * at], a.to_form(k_of(t, static_cast<std::uint32_t>(i))));
        a.probe_class(t, prime_geo, i, first, step, z, pf->lane_result[2 + 2 * at], count, on_factor);
        probes += static_cast<std::uint64_t>(count);
    }
    pf->stats.probes += probes;
    pf->stats.table_entries += static_cast<std::uint64_t>(stride.count);
    clear_bucket_table(t, prime_geo);
    return true;
}

// Searches p over the run's own geometry with the quadratic rule alone:
// the search of small p and of classes too fine for the filter. Hits come in
// the reference's order.
template <class Arith>
void search_unfiltered(const SearchTables& t, const SearchGeometry& geo, std::int64_t p,
                       const FactorCallback& on_factor)
{
    if (!select_active(t, p))
        return;
    const Arith a(p);
    // 2^-nmin_eff and 2^-m, in a scratch of whole vectors.
    constexpr int kScratch = 16;
    alignas(64) std::int64_t base[kScratch], exponent[kScratch], result[kScratch];
    PowerFilter scratch{};
    scratch.lane_capacity = kScratch;
    scratch.lane_base = base;
    scratch.lane_exponent = exponent;
    scratch.lane_result = result;
    base[0] = base[1] = (p + 1) / 2;
    exponent[0] = geo.nmin_eff;
    exponent[1] = geo.stride;
    a.pow_lanes(scratch, 2);
    a.fill_table(t.stride_table, geo.stride_count, p - result[0], result[1]);   // 2^-e is never 0
    link_stride_table(t, geo);
    for (std::uint32_t i = 0; i < t.count; ++i) {
        if (!t.active[i])
            continue;
        const std::int64_t first = t.residues[i], step = t.spacings[i];
        a.probe_class(t, geo, static_cast<std::int32_t>(i), first, step, a.to_form(t.base_terms[i]),
                      a.to_form(t.step_factors[i]), (geo.stride - first + step - 1) / step, on_factor);
    }
    clear_bucket_table(t, geo);
}

}  // namespace filtered
}  // namespace zud
