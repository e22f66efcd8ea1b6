// The filtered vector search: the power-residue filter drops k or narrows
// each k to one class of n, then a stride chosen for this prime alone
// balances the table against the probes. Products are the IFMA Montgomery
// products of the vector search, so the same residues meet.
#include "engine/ifma.h"
#include "engine/fast_search.h"
#include "engine/mod_arith.h"
#include "engine/power_filter.h"

namespace zud {

namespace {

using namespace ifma;

// Below this the run's own geometry is searched: small p hardly occur.
constexpr std::int64_t kSmallestFiltered = std::int64_t{1} << 20;
// The order e is found among the first kMostModulus powers of A.
constexpr std::int64_t kMostModulus = 1024;
constexpr int kTableVectors = 4;

struct Field {
    Montgomery m;
    __m512i one;   // 1 in Montgomery form
    std::int64_t p;
};

// x^e lane by lane, right to left, two vectors at a time: the squarings of
// x and the products into the result are independent chains.
ZUD_IFMA void pow_pair(__m512i& x0, __m512i e0, __m512i& x1, __m512i e1, const Field& f)
{
    __m512i r0 = f.one, r1 = f.one;
    const __m512i bit = _mm512_set1_epi64(1);
    while (_mm512_test_epi64_mask(_mm512_or_si512(e0, e1), _mm512_or_si512(e0, e1)) != 0) {
        r0 = _mm512_mask_mov_epi64(r0, _mm512_test_epi64_mask(e0, bit), mont_mul(r0, x0, f.m));
        r1 = _mm512_mask_mov_epi64(r1, _mm512_test_epi64_mask(e1, bit), mont_mul(r1, x1, f.m));
        x0 = mont_mul(x0, x0, f.m);
        x1 = mont_mul(x1, x1, f.m);
        e0 = _mm512_srli_epi64(e0, 1);
        e1 = _mm512_srli_epi64(e1, 1);
    }
    x0 = r0;
    x1 = r1;
}

// result[i] = base[i]^exponent[i] in Montgomery form, for plain bases below 2^52.
ZUD_IFMA void pow_lanes(const PowerFilter& pf, std::int64_t lanes, const Field& f)
{
    for (std::int64_t i = lanes; i < (lanes + 15) / 16 * 16 && i < pf.lane_capacity; ++i) {
        pf.lane_base[i] = 1;
        pf.lane_exponent[i] = 0;
    }
    for (std::int64_t i = 0; i < lanes; i += 2 * kLanes) {
        __m512i x0 = to_montgomery(_mm512_loadu_si512(pf.lane_base + i), f.m);
        const __m512i e0 = _mm512_loadu_si512(pf.lane_exponent + i);
        const bool pair = i + kLanes < lanes;
        __m512i x1 = pair ? to_montgomery(_mm512_loadu_si512(pf.lane_base + i + kLanes), f.m) : f.one;
        const __m512i e1 = pair ? _mm512_loadu_si512(pf.lane_exponent + i + kLanes) : _mm512_setzero_si512();
        pow_pair(x0, e0, x1, e1, f);
        _mm512_storeu_si512(pf.lane_result + i, x0);
        if (pair)
            _mm512_storeu_si512(pf.lane_result + i + kLanes, x1);
    }
}

// y^0 .. y^7 and y^8, both in Montgomery form, for y in Montgomery form.
ZUD_IFMA __m512i powers_0_to_7(std::int64_t y, const Field& f, __m512i& eighth)
{
    __m512i x0 = _mm512_set1_epi64(y), x1 = x0;
    pow_pair(x0, _mm512_setr_epi64(0, 1, 2, 3, 4, 5, 6, 7), x1, _mm512_set1_epi64(8), f);
    eighth = x1;
    return x0;
}

// The powers A^0 .. of A (Montgomery form) up to its order e <= modulus,
// stored in `powers`; returns e.
ZUD_IFMA std::int64_t powers_of(std::int64_t a, std::int64_t modulus, const Field& f, std::int64_t* powers)
{
    __m512i step;
    __m512i v = powers_0_to_7(a, f, step);
    for (std::int64_t i = 0; i < modulus; i += kLanes) {
        _mm512_storeu_si512(powers + i, v);
        __mmask8 ones = _mm512_cmpeq_epi64_mask(v, f.one);
        if (i == 0)
            ones &= 0xFE;
        if (ones != 0)
            return i + __builtin_ctz(ones);
        v = mont_mul(v, step, f.m);
    }
    return modulus;
}

// The first i < e with powers[i] = z, or -1.
ZUD_IFMA std::int64_t find_power(const std::int64_t* powers, std::int64_t e, std::int64_t z)
{
    const __m512i wanted = _mm512_set1_epi64(z);
    for (std::int64_t i = 0; i < e; i += kLanes) {
        const __mmask8 hit = _mm512_cmpeq_epi64_mask(_mm512_loadu_si512(powers + i), wanted);
        if (hit != 0) {
            const std::int64_t at = i + __builtin_ctz(hit);
            return at < e ? at : -1;
        }
    }
    return -1;
}

struct Survivors {
    std::int64_t count = 0;
    std::int64_t lcm = 1;
    double inverse_steps = 0;
};

// Bounds the stride's unit; beyond it the run's own geometry is searched.
constexpr std::int64_t kMostUnit = std::int64_t{1} << 32;

std::int64_t lcm_capped(std::int64_t a, std::int64_t b)
{
    std::int64_t x = a, y = b;
    while (y != 0) {
        const std::int64_t r = x % y;
        x = y;
        y = r;
    }
    const std::int64_t l = a / x;
    return l > kMostUnit / b ? kMostUnit : l * b;
}

// Whether the reference's quadratic rule keeps k, from the position `at`
// of Z = (-k)^((p-1)/L) among the powers of A = 2^((p-1)/L), L even:
// (-k / p) = Z^(L/2) = (2 / p)^at, and (-2k / p) = (2 / p)^(at + 1).
bool quadratic_rule_keeps(std::int64_t filter, std::int64_t k, std::int64_t at, std::int64_t p)
{
    if (filter == kAlwaysActive)
        return true;
    const bool two_is_square = p % 8 == 1 || p % 8 == 7;
    const std::int64_t power = filter == -k ? at : at + 1;
    return two_is_square || power % 2 == 0;
}

inline std::int64_t k_of(const SearchTables& t, std::uint32_t i)
{
    return t.base_terms[i] >> t.residues[i];
}

// The first pass: the filter symbols of 2 (lane 0) and of every k that can
// be active (lanes 2 ..., their indices in pf.survivor), and 2^-nmin_eff
// (lane 1). Returns the number of k.
ZUD_IFMA std::int64_t first_pass(const SearchTables& t, const SearchGeometry& geo, PowerFilter& pf, const Field& f,
                                 std::int64_t modulus)
{
    const std::int64_t p = f.p;
    std::int64_t lanes = 0;
    pf.lane_base[lanes] = 2;
    pf.lane_exponent[lanes++] = (p - 1) / modulus;
    pf.lane_base[lanes] = (p + 1) / 2;
    pf.lane_exponent[lanes++] = geo.nmin_eff;
    std::int64_t tested = 0;
    for (std::uint32_t i = 0; i < t.count; ++i) {
        if (t.filters[i] == kNeverActive)
            continue;
        pf.survivor[tested++] = static_cast<std::int32_t>(i);
        pf.lane_base[lanes] = p - k_of(t, i) % p;
        pf.lane_exponent[lanes++] = (p - 1) / modulus;
    }
    pow_lanes(pf, lanes, f);
    return tested;
}

// k's class of j from Z = A^at, A of order e; false when k has no hit.
bool class_of_k(const SearchTables& t, const SearchGeometry& geo, std::uint32_t i, std::int64_t at,
                std::int64_t e, std::int64_t p, std::int64_t& first, std::int64_t& step)
{
    if (at < 0 || !quadratic_rule_keeps(t.filters[i], k_of(t, i), at, p))
        return false;
    // 2^n = (-k)^-1 gives A^n = Z^-1: n = -at (mod e).
    std::int64_t class_of_j = ((e - at) % e - geo.nmin_eff) % e;
    if (class_of_j < 0)
        class_of_j += e;
    return combine_classes(t.residues[i], t.spacings[i], class_of_j, e, first, step);
}

// Keeps in the scratch, for each k left, its first j and class step, and
// sets 2^-nmin_eff. It stands for the quadratic rule of select_active too.
ZUD_IFMA Survivors filter_k(const SearchTables& t, const SearchGeometry& geo, PowerFilter& pf, const Field& f,
                            std::int64_t& inverse_nmin)
{
    const std::int64_t modulus = class_modulus(f.p, kMostModulus);
    const std::int64_t tested = first_pass(t, geo, pf, f, modulus);
    inverse_nmin = pf.lane_result[1];
    alignas(64) std::int64_t powers[kMostModulus + kLanes];
    const std::int64_t e = powers_of(pf.lane_result[0], modulus, f, powers);
    Survivors s;
    for (std::int64_t a = 0; a < tested; ++a) {
        const auto i = static_cast<std::uint32_t>(pf.survivor[a]);
        std::int64_t first = 0, step = 0;
        if (!class_of_k(t, geo, i, find_power(powers, e, pf.lane_result[2 + a]), e, f.p, first, step))
            continue;
        pf.survivor[s.count] = static_cast<std::int32_t>(i);
        pf.first_j[s.count] = first;
        pf.class_step[s.count] = step;
        ++s.count;
        s.lcm = lcm_capped(s.lcm, step);
        s.inverse_steps += 1.0 / static_cast<double>(step);
    }
    pf.stats.primes += 1;
    pf.stats.k_tested += static_cast<std::uint64_t>(tested);
    pf.stats.k_dropped += static_cast<std::uint64_t>(tested - s.count);
    pf.stats.class_modulus += static_cast<std::uint64_t>(e);
    return s;
}

// Returns the bucket table to zero entry by entry: cheaper than sweeping
// all of it for the short tables of this search.
void clear_used_buckets(const SearchTables& t, const SearchGeometry& geo)
{
    for (std::int64_t i = 0; i < geo.stride_count; ++i) {
        const std::uint32_t u = bucket_of(t.stride_table[i]);
        t.buckets[2 * u] = 0;
        t.buckets[2 * u + 1] = 0;
    }
}

// Entry t of the table is -2^-(nmin_eff + t*m) in Montgomery form.
ZUD_IFMA void fill_table(const SearchTables& t, const SearchGeometry& geo, std::int64_t inverse_nmin,
                         std::int64_t inverse_stride, const Field& f)
{
    __m512i step8;
    const __m512i first = powers_0_to_7(inverse_stride, f, step8);
    __m512i v[kTableVectors];
    v[0] = mont_mul(_mm512_set1_epi64(f.p - inverse_nmin), first, f.m);
    for (int k = 1; k < kTableVectors; ++k)
        v[k] = mont_mul(v[k - 1], step8, f.m);
    __m512i step = step8;
    for (int k = 1; k < kTableVectors; k *= 2)
        step = mont_mul(step, step, f.m);
    const std::int64_t g = geo.stride_count;
    std::int64_t t0 = 0;
    for (; t0 + kLanes * kTableVectors <= g; t0 += kLanes * kTableVectors) {
        for (int k = 0; k < kTableVectors; ++k) {
            _mm512_storeu_si512(t.stride_table + t0 + k * kLanes, v[k]);
            v[k] = mont_mul(v[k], step, f.m);
        }
    }
    for (int k = 0; t0 < g; ++k, t0 += kLanes) {
        const std::int64_t left = g - t0;
        const auto mask = static_cast<__mmask8>(left >= kLanes ? 0xFF : (1u << left) - 1);
        _mm512_mask_storeu_epi64(t.stride_table + t0, mask, v[k]);
    }
}

// Probes k's class: j = first, first + step, ... below the stride.
ZUD_IFMA std::int64_t probe_class(const SearchTables& t, const SearchGeometry& geo, std::int32_t i,
                                  std::int64_t first, std::int64_t step, std::int64_t power_first,
                                  std::int64_t power_step, const Field& f, const FactorCallback& on_factor)
{
    const std::int64_t k = k_of(t, static_cast<std::uint32_t>(i));
    const __m512i start = mont_mul(_mm512_set1_epi64(power_first), broadcast_montgomery(k, f.m), f.m);
    __m512i step8;
    __m512i z = mont_mul(start, powers_0_to_7(power_step, f, step8), f.m);
    const std::int64_t probes = (geo.stride - first + step - 1) / step;
    probe_lanes(t, geo, z, step8, f.m, probes, first, step, i, f.p, on_factor);
    return probes;
}

}  // namespace

ZUD_IFMA void search_prime_filtered(const SearchTables& t, const SearchGeometry& geo, std::int64_t p,
                                    const FactorCallback& on_factor)
{
    PowerFilter* pf = t.power_filter;
    if (pf == nullptr || p < kSmallestFiltered) {
        search_prime_vector(t, geo, p, on_factor);
        return;
    }
    const Montgomery m = montgomery_for(p);
    const Field f{m, to_montgomery(_mm512_set1_epi64(1), m), p};
    std::int64_t inverse_nmin = 0;
    const Survivors s = filter_k(t, geo, *pf, f, inverse_nmin);
    if (s.count == 0)
        return;
    if (s.lcm >= kMostUnit) {
        search_prime_vector(t, geo, p, on_factor);   // applies the quadratic rule itself
        return;
    }
    const PrimeStride stride = choose_stride(pf->range, pf->capacity, s.lcm, s.inverse_steps);
    const SearchGeometry prime_geo{geo.nmin_eff, stride.stride, stride.count};
    // Second pass: 2^-m, and 2^first, 2^step of every k left.
    std::int64_t lanes = 0;
    pf->lane_base[lanes] = (p + 1) / 2;
    pf->lane_exponent[lanes++] = stride.stride;
    for (std::int64_t a = 0; a < s.count; ++a) {
        pf->lane_base[lanes] = 2;
        pf->lane_exponent[lanes++] = pf->first_j[a];
        pf->lane_base[lanes] = 2;
        pf->lane_exponent[lanes++] = pf->class_step[a];
    }
    pow_lanes(*pf, lanes, f);
    fill_table(t, prime_geo, inverse_nmin, pf->lane_result[0], f);
    link_stride_table(t, prime_geo);
    std::uint64_t probes = 0;
    for (std::int64_t a = 0; a < s.count; ++a)
        probes += static_cast<std::uint64_t>(probe_class(t, prime_geo, pf->survivor[a], pf->first_j[a],
                                                         pf->class_step[a], pf->lane_result[1 + 2 * a],
                                                         pf->lane_result[2 + 2 * a], f, on_factor));
    pf->stats.probes += probes;
    pf->stats.table_entries += static_cast<std::uint64_t>(stride.count);
    clear_used_buckets(t, prime_geo);
}

}  // namespace zud
