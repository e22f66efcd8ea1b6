// What every search shares: the probe of one value and the choice of the k
// to search.
#include "engine/search/search.h"

#include <climits>

#include "engine/mod_arith.h"

namespace zud {

namespace {

inline void report(const FactorCallback& on_factor, std::int32_t k_index, std::int64_t n, std::int64_t p)
{
    // An n past the 32-bit range cannot be a candidate; never wrap it into one.
    if (n <= INT32_MAX)
        on_factor(k_index, static_cast<std::int32_t>(n), p);
}

}  // namespace

void probe(const SearchTables& t, const SearchGeometry& geo, std::int64_t z, std::int64_t j, std::int32_t k_index,
           std::int64_t p, const FactorCallback& on_factor)
{
    // Products stay loose in [0, 2p); equal residues meet only in [0, p).
    z = normalize_mod(z, p);
    const std::uint32_t u = bucket_of(z);
    if ((t.buckets[2 * u] >> (z & 31) & 1u) == 0)
        return;
    const std::int64_t n0 = geo.nmin_eff + j;
    if (t.stride_table[0] == z)
        report(on_factor, k_index, n0, p);
    // Each entry links to an older one, so a chain only ever descends; a
    // bucket left uncleared by some fault ends its walk instead of cycling.
    for (std::uint32_t e = t.buckets[2 * u + 1]; e != 0;) {
        if (t.stride_table[e] == z)
            report(on_factor, k_index, n0 + static_cast<std::int64_t>(e) * geo.stride, p);
        const std::uint32_t older = t.links[e];
        e = older < e ? older : 0;
    }
}

bool select_active(const SearchTables& t, std::int64_t p)
{
    bool any = false;
    for (std::uint32_t i = 0; i < t.count; ++i) {
        const std::int64_t s = t.filters[i];
        const bool on = s != kNeverActive && (p == 3 || s == kAlwaysActive || jacobi(s, p) == 1);
        t.active[i] = on;
        any = any || on;
    }
    return any;
}

}  // namespace zud
