// The portable parts of the power-residue filter: its state, the choice of
// the modulus, the join of two classes and the stride of one prime.
#include "engine/power_filter.h"

#include <cmath>
#include <new>

#include "engine/search_tuning.h"

namespace zud {

namespace {

thread_local FilterStats t_last_stats;

std::int64_t gcd64(std::int64_t a, std::int64_t b)
{
    while (b != 0) {
        const std::int64_t r = a % b;
        a = b;
        b = r;
    }
    return a;
}

// a^-1 mod m for gcd(a, m) = 1, m >= 1.
std::int64_t inverse_mod(std::int64_t a, std::int64_t m)
{
    std::int64_t old_r = a % m, r = m, old_s = 1, s = 0;
    while (r != 0) {
        const std::int64_t q = old_r / r;
        std::int64_t tmp = old_r - q * r;
        old_r = r;
        r = tmp;
        tmp = old_s - q * s;
        old_s = s;
        s = tmp;
    }
    old_s %= m;
    return old_s < 0 ? old_s + m : old_s;
}

std::size_t round_up(std::size_t bytes)
{
    return (bytes + 63) / 64 * 64;
}

}  // namespace

std::int64_t filtered_table_capacity(const SearchGeometry& geometry)
{
    std::int64_t wanted = kTableGrowth * geometry.stride_count + kTableSlack;
    if (wanted > kMostEntries)
        wanted = kMostEntries;
    return wanted > geometry.stride_count ? wanted : geometry.stride_count;
}

std::size_t power_filter_bytes(std::uint32_t count)
{
    // Lanes: 2 and 2^-1 for the first pass, then 2 per k, in whole vectors.
    const std::size_t lanes = (static_cast<std::size_t>(count) * 2 + 2 + 7) / 8 * 8;
    return round_up(sizeof(PowerFilter)) + 5 * round_up(lanes * 8) + round_up(count * 4);
}

PowerFilter* init_power_filter(void* block, std::uint32_t count, std::int64_t range, std::int64_t capacity)
{
    auto* bytes = static_cast<unsigned char*>(block);
    auto* f = new (bytes) PowerFilter{};
    const std::size_t lanes = (static_cast<std::size_t>(count) * 2 + 2 + 7) / 8 * 8;
    std::size_t at = round_up(sizeof(PowerFilter));
    auto take = [&](std::size_t size) {
        unsigned char* here = bytes + at;
        at += round_up(size);
        return here;
    };
    f->count = count;
    f->range = range;
    f->capacity = capacity;
    f->lane_capacity = static_cast<std::int64_t>(lanes);
    f->lane_base = reinterpret_cast<std::int64_t*>(take(lanes * 8));
    f->lane_exponent = reinterpret_cast<std::int64_t*>(take(lanes * 8));
    f->lane_result = reinterpret_cast<std::int64_t*>(take(lanes * 8));
    f->first_j = reinterpret_cast<std::int64_t*>(take(lanes * 8));
    f->class_step = reinterpret_cast<std::int64_t*>(take(lanes * 8));
    f->survivor = reinterpret_cast<std::int32_t*>(take(count * 4));
    return f;
}

namespace {

// Multiplies the modulus by q while q divides what is left of p - 1 and the
// modulus stays within `most`; q a constant, so no division instruction.
template <std::uint64_t Q>
void take_factor(std::uint64_t& left, std::int64_t& modulus, std::int64_t most)
{
    while (left % Q == 0 && modulus * static_cast<std::int64_t>(Q) <= most) {
        left /= Q;
        modulus *= static_cast<std::int64_t>(Q);
    }
}

}  // namespace

std::int64_t class_modulus(std::int64_t p, std::int64_t most)
{
    auto left = static_cast<std::uint64_t>(p - 1);
    std::int64_t modulus = 1;
    for (int twos = __builtin_ctzll(left); twos > 0 && modulus * 2 <= most; --twos)
        modulus *= 2;
    left >>= __builtin_ctzll(left);
    take_factor<3>(left, modulus, most);
    take_factor<5>(left, modulus, most);
    take_factor<7>(left, modulus, most);
    take_factor<11>(left, modulus, most);
    take_factor<13>(left, modulus, most);
    take_factor<17>(left, modulus, most);
    take_factor<19>(left, modulus, most);
    take_factor<23>(left, modulus, most);
    take_factor<29>(left, modulus, most);
    take_factor<31>(left, modulus, most);
    return modulus;
}

bool combine_classes(std::int64_t r, std::int64_t d, std::int64_t t, std::int64_t e, std::int64_t& first,
                     std::int64_t& step)
{
    // The usual case, d | e (d = 1 and 2 above all): the class of e is the
    // joined class when it agrees with r.
    if (d == 1 || e % d == 0) {
        if ((t - r) % d != 0)
            return false;
        first = t;
        step = e;
        return true;
    }
    const std::int64_t g = gcd64(d, e);
    std::int64_t diff = (t - r) % e;
    if (diff < 0)
        diff += e;
    if (diff % g != 0)
        return false;
    const std::int64_t e_g = e / g;
    // r + d*x = t (mod e)  <=>  (d/g)*x = diff/g (mod e/g)
    const std::int64_t x = e_g == 1 ? 0 : (diff / g) % e_g * inverse_mod((d / g) % e_g, e_g) % e_g;
    step = d * e_g;
    first = (r + d * x) % step;
    return true;
}

PrimeStride choose_stride(std::int64_t range, std::int64_t capacity, std::int64_t multiple_of,
                          double inverse_steps)
{
    const std::int64_t unit = multiple_of < 1 ? 1 : multiple_of;
    // The fewest strides that the table can hold.
    std::int64_t least = (range + capacity - 1) / capacity;
    least = (least + unit - 1) / unit;
    if (least < 1)
        least = 1;
    const double ideal = std::sqrt(kEntryWeight * static_cast<double>(range) / inverse_steps) / static_cast<double>(unit);
    auto cost = [&](std::int64_t c) {
        const double m = static_cast<double>(c * unit);
        return kEntryWeight * std::ceil(static_cast<double>(range) / m) + m * inverse_steps;
    };
    std::int64_t best = least;
    const double most_units = static_cast<double>(range) / static_cast<double>(unit) + 1.0;
    const std::int64_t around = ideal < most_units ? static_cast<std::int64_t>(ideal) : static_cast<std::int64_t>(most_units);
    for (std::int64_t c = around - 1; c <= around + 1; ++c)
        if (c > least && cost(c) < cost(best))
            best = c;
    const std::int64_t stride = best * unit;
    return {stride, (range + stride - 1) / stride};
}

FilterStats last_filter_stats()
{
    return t_last_stats;
}

void publish_filter_stats(const PowerFilter* filter)
{
    if (filter != nullptr)
        t_last_stats = filter->stats;
}

}  // namespace zud
