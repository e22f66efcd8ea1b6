// The wide search. Table entries and probes are both Montgomery forms in
// [0, p), so the bucket of a value and the exact comparisons work on them
// as they do on plain residues below 2^48. Several independent chains of
// products keep the multiplier busy while each product waits on the last.
#include "engine/search_wide.h"

#include <climits>

#include "engine/fast_search.h"
#include "engine/mod_arith.h"
#include "engine/mont64.h"
#include "engine/search_tuning.h"

namespace zud {

namespace {

constexpr int kTableChains = kScalarChains;
constexpr int kProbeChains = kScalarChains;

bool select_active_wide(const SearchTables& t, std::int64_t p)
{
    bool any = false;
    for (std::uint32_t i = 0; i < t.count; ++i) {
        const std::int64_t s = t.filters[i];
        const bool on = s != kNeverActive && (s == kAlwaysActive || jacobi(s, p) == 1);
        t.active[i] = on;
        any = any || on;
    }
    return any;
}

// Entry t is -2^-(nmin_eff + t*m); chain c fills the entries t = c mod kTableChains.
void fill_table(const SearchTables& t, const SearchGeometry& geo, const Mont64& m)
{
    const std::uint64_t p = m.modulus();
    const std::uint64_t y = m.pow_half(static_cast<std::uint64_t>(geo.stride));
    std::uint64_t x[kTableChains];
    x[0] = p - m.pow_half(static_cast<std::uint64_t>(geo.nmin_eff));   // never 0: 2^-e is not
    for (int c = 1; c < kTableChains; ++c)
        x[c] = m.mul(x[c - 1], y);
    const std::uint64_t step = m.pow(y, kTableChains);
    const std::int64_t g = geo.stride_count;
    std::int64_t t0 = 0;
    for (; t0 + kTableChains <= g; t0 += kTableChains) {
        for (int c = 0; c < kTableChains; ++c) {
            t.stride_table[t0 + c] = static_cast<std::int64_t>(x[c]);
            x[c] = m.mul(x[c], step);
        }
    }
    for (int c = 0; t0 + c < g; ++c)
        t.stride_table[t0 + c] = static_cast<std::int64_t>(x[c]);
}

void report(const FactorCallback& on_factor, std::int32_t k_index, std::int64_t n, std::int64_t p)
{
    // An n past the 32-bit range cannot be a candidate; never wrap it into one.
    if (n <= INT32_MAX)
        on_factor(k_index, static_cast<std::int32_t>(n), p);
}

// z: a Montgomery form in [0, p) whose presence bit is set.
void look_up(const SearchTables& t, const SearchGeometry& geo, std::int64_t z, std::int64_t j,
             std::int32_t k_index, std::int64_t p, const FactorCallback& on_factor)
{
    const std::int64_t n0 = geo.nmin_eff + j;
    if (t.stride_table[0] == z)
        report(on_factor, k_index, n0, p);
    for (std::uint32_t e = t.buckets[2 * bucket_of(z) + 1]; e != 0; e = t.links[e])
        if (t.stride_table[e] == z)
            report(on_factor, k_index, n0 + static_cast<std::int64_t>(e) * geo.stride, p);
}

// k*2^j for j = r, r + d, ..., below the stride; chain c takes every
// kProbeChains-th j, so the j still come in ascending order.
void probe_k(const SearchTables& t, const SearchGeometry& geo, std::uint32_t i, const Mont64& m,
             const FactorCallback& on_factor)
{
    const auto p = static_cast<std::int64_t>(m.modulus());
    const auto k_index = static_cast<std::int32_t>(i);
    const std::int64_t d = t.spacings[i];
    const std::uint64_t factor = m.to_mont(static_cast<std::uint64_t>(t.step_factors[i]));
    std::uint64_t z[kProbeChains];
    z[0] = m.to_mont(static_cast<std::uint64_t>(t.base_terms[i]));
    for (int c = 1; c < kProbeChains; ++c)
        z[c] = m.mul(z[c - 1], factor);
    const std::uint64_t step = m.pow(factor, kProbeChains);
    std::int64_t j = t.residues[i];
    for (;;) {
        for (int c = 0; c < kProbeChains; ++c, j += d) {
            if (j >= geo.stride)
                return;
            const auto v = static_cast<std::int64_t>(z[c]);
            if (t.buckets[2 * bucket_of(v)] >> (v & 31) & 1u)
                look_up(t, geo, v, j, k_index, p, on_factor);
            z[c] = m.mul(z[c], step);
        }
    }
}

}  // namespace

void search_prime_wide(const SearchTables& t, const SearchGeometry& geo, std::int64_t p,
                       const FactorCallback& on_factor)
{
    if (!select_active_wide(t, p))
        return;
    const Mont64 m(static_cast<std::uint64_t>(p));
    fill_table(t, geo, m);
    link_stride_table(t, geo);
    for (std::uint32_t i = 0; i < t.count; ++i)
        if (t.active[i])
            probe_k(t, geo, i, m, on_factor);
    clear_bucket_table(t, geo);
}

}  // namespace zud
