// The per-k and geometric set-up of a run, apart so that it can be checked
// against worked examples.
#include "engine/setup.h"

#include <climits>
#include <cmath>

#include "engine/mod_arith.h"

namespace zud {

namespace {

// The stride table is sized in 32-bit bytes; keep it well inside that.
constexpr std::int64_t kMaxStrideCount = std::int64_t{1} << 26;

}  // namespace

std::int32_t reduce_spacing(std::int32_t d, std::int32_t limit)
{
    if (d > limit && d % limit == 0)
        d = limit;
    for (std::int32_t f : {2, 3, 5, 7})
        while (d > limit && d % f == 0)
            d /= f;
    return d;
}

std::int32_t non_negative_mod(std::int64_t a, std::int32_t d)
{
    std::int64_t r = a % d;
    return static_cast<std::int32_t>(r < 0 ? r + d : r);
}

std::int32_t residue_limit(std::int32_t k)
{
    return static_cast<std::int32_t>(60.0 - std::log(static_cast<double>(k)) / std::log(2.0));
}

std::int64_t filter_value(std::int32_t k, std::int32_t spacing, std::int64_t first_n, bool sieves_three)
{
    if (k <= 0)
        return kNeverActive;
    if (k % 3 == 0 || k % 2 == 0)
        return kAlwaysActive;
    std::int64_t s = 0;
    if (spacing % 2 == 0)
        s = first_n % 2 == 0 ? -static_cast<std::int64_t>(k) : -2 * static_cast<std::int64_t>(k);
    else if (sieves_three)
        s = -static_cast<std::int64_t>(k % 3) * k;
    else
        return kAlwaysActive;   // a file never sieved by 3: both parities can have factors
    return s < INT32_MIN ? kAlwaysActive : s;
}

bool reduce_class(std::int32_t k, std::int32_t residue, std::int32_t spacing, std::int64_t rebase, KClass& out)
{
    std::int32_t d = spacing < 1 ? 1 : reduce_spacing(spacing, 48);
    out.spacing = d;
    if (d > 48)
        return false;
    std::int32_t r = non_negative_mod(residue, d);
    std::int32_t r_eff = non_negative_mod(static_cast<std::int64_t>(r) - rebase, d);
    const std::int32_t limit = k <= 1 ? 60 : residue_limit(k);
    if (r_eff > limit) {
        d = reduce_spacing(d, limit);
        out.spacing = d;
        if (d > limit)
            return false;
        r = r % d;
        r_eff = r_eff % d;
    }
    out.residue = r;
    out.search_residue = r_eff;
    return true;
}

SearchGeometry plan_geometry(std::int64_t nmin_eff, std::int32_t nmax, std::int64_t lcm, double alpha)
{
    const std::int64_t range = static_cast<std::int64_t>(nmax) + 1 - nmin_eff;
    // A stride beyond the range gains nothing; the bound keeps any alpha sane.
    const long double most = static_cast<long double>(range) * static_cast<long double>(range);
    long double scaled = static_cast<long double>(range) * static_cast<long double>(alpha);
    if (scaled > most)
        scaled = most;
    const std::int64_t m0 = scaled >= 1.0L ? x87_to_int(std::sqrt(scaled)) : 0;   // false for NaN too
    // A stride of at least one whole lcm: a zero stride would divide by zero.
    std::int64_t m = m0 <= lcm ? lcm : (m0 + lcm - 1) / lcm * lcm;
    if (range / m + 1 > kMaxStrideCount) {
        const std::int64_t min_stride = range / kMaxStrideCount + 1;
        m = (min_stride + lcm - 1) / lcm * lcm;
    }
    return {nmin_eff, m, range / m + 1};
}

}  // namespace zud
