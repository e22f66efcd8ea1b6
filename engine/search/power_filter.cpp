// The portable parts of the power-residue filter: its state, the choice of
// the modulus, the join of two classes and the stride of one prime.
#include "engine/search/power_filter.h"

#include <array>
#include <cmath>
#include <new>
#include <vector>

#include "engine/search/search_tuning.h"

namespace zud {

namespace {

thread_local FilterStats t_last_stats;

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

namespace {

// The k given a table of Jacobi symbols: k bits each, within a total, so
// that many large k do not crowd the caches (past it the exponentiation
// decides, as it would anyway).
std::uint32_t tabled_k(std::int64_t filter)
{
    if (filter == kAlwaysActive || filter == kNeverActive)
        return 0;
    const std::int64_t k = filter % 2 == 0 ? -filter / 2 : -filter;
    return k <= kMostTabledK ? static_cast<std::uint32_t>(k) : 0;
}

std::size_t table_words(std::uint32_t k)
{
    return (static_cast<std::size_t>(k) + 63) / 64;
}

// The words of each k's table, 0 for none.
template <class Each>
void for_each_table(std::uint32_t count, const std::int64_t* filters, const Each& each)
{
    std::size_t total = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t k = tabled_k(filters[i]);
        const std::size_t words = k == 0 || total + table_words(k) > kMostTableWords ? 0 : table_words(k);
        total += words;
        each(i, k, words);
    }
}

// bits[r] = 1 where (r / k) = 1, for odd k: the product of the Legendre
// symbols of k's primes of odd power, each from its squares. False when
// there was no memory for the squares; the k then goes without.
bool fill_jacobi_table(std::uint64_t* bits, std::uint32_t k) noexcept
try {
    for (std::uint32_t r = 0; r < k; ++r)
        bits[r >> 6] |= std::uint64_t{1} << (r & 63);
    std::uint32_t left = k;
    std::vector<std::uint8_t> square;
    for (std::uint32_t q = 3; left > 1; q += 2) {
        if (q * q > left)
            q = left;   // what is left is prime
        int power = 0;
        while (left % q == 0) {
            left /= q;
            ++power;
        }
        if (power % 2 == 0)
            continue;
        square.assign(q, 0);
        for (std::uint64_t x = 1; x <= q / 2; ++x)
            square[x * x % q] = 1;
        for (std::uint32_t r = 0, at = 0; r < k; ++r) {
            if (square[at] == 0)
                bits[r >> 6] ^= std::uint64_t{1} << (r & 63);
            if (++at == q)
                at = 0;
        }
    }
    return true;
} catch (const std::bad_alloc&) {
    return false;
}

}  // namespace

std::size_t power_filter_bytes(std::uint32_t count, const std::int64_t* filters)
{
    // Lanes: 2 and 2^-1 for the first pass, then 2 per k, in whole vectors.
    const std::size_t lanes = (static_cast<std::size_t>(count) * 2 + 2 + 7) / 8 * 8;
    const std::size_t index = count >= kIndexPowersFrom ? round_up(kPowerIndexSlots * 2) : 0;
    std::size_t tables = 0;
    for_each_table(count, filters, [&](std::uint32_t, std::uint32_t, std::size_t words) { tables += words * 8; });
    return round_up(sizeof(PowerFilter)) + 5 * round_up(lanes * 8) + round_up(count * 4) + index +
           round_up(count * sizeof(QuadraticTest)) + round_up(tables);
}

PowerFilter* init_power_filter(void* block, std::uint32_t count, const std::int64_t* filters, std::int64_t range,
                               std::int64_t capacity)
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
    f->power_index = count >= kIndexPowersFrom ? reinterpret_cast<std::uint16_t*>(take(kPowerIndexSlots * 2)) : nullptr;
    f->quadratic = new (take(count * sizeof(QuadraticTest))) QuadraticTest[count];
    auto* words = reinterpret_cast<std::uint64_t*>(bytes + at);
    for_each_table(count, filters, [&](std::uint32_t i, std::uint32_t k, std::size_t size) {
        std::uint64_t* table = words;
        words += size;
        if (size == 0 || !fill_jacobi_table(table, k))
            return;
        QuadraticTest& test = f->quadratic[i];
        test.magic = ~std::uint64_t{0} / k;
        test.k = k;
        test.doubled = filters[i] % 2 == 0;
        test.symbols = table;
    });
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

// The primes from 37 to 1021 (a larger one fits only with the modulus at 2
// and past 2048), each with its inverse modulo 2^64
// and the largest quotient by it: v is a multiple of q exactly when
// v * inverse <= largest, and then v * inverse is v / q. One product a
// test, no division.
struct LargerPrime {
    std::uint64_t q;
    std::uint64_t inverse;
    std::uint64_t largest;
};
constexpr int kLargerPrimes = 161;   // the primes from 37 to 1021

constexpr std::array<LargerPrime, kLargerPrimes> larger_primes()
{
    std::array<LargerPrime, kLargerPrimes> primes{};
    int count = 0;
    for (std::uint64_t q = 37; q <= 1021; q += 2) {
        bool prime = true;
        for (std::uint64_t r = 3; r * r <= q; r += 2)
            prime = prime && q % r != 0;
        if (!prime)
            continue;
        std::uint64_t inverse = q;   // right to 3 bits; each step doubles them
        for (int i = 0; i < 5; ++i)
            inverse *= 2 - q * inverse;
        primes[count++] = {q, inverse, ~std::uint64_t{0} / q};
    }
    return primes;
}
constexpr std::array<LargerPrime, kLargerPrimes> kLargerPrimeTable = larger_primes();
static_assert(kLargerPrimeTable[kLargerPrimes - 1].q == 1021, "every prime up to 1021");

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
    // Larger primes of p - 1 too: each one that fits multiplies the
    // modulus, and with it the class step of the k that keep a class.
    for (const LargerPrime& f : kLargerPrimeTable) {
        if (modulus * static_cast<std::int64_t>(f.q) > most)
            break;
        while (left * f.inverse <= f.largest && modulus * static_cast<std::int64_t>(f.q) <= most) {
            left *= f.inverse;
            modulus *= static_cast<std::int64_t>(f.q);
        }
    }
    return modulus;
}

bool combine_classes(std::int64_t r, std::int64_t d, std::int64_t t, std::int64_t e, std::int64_t& first,
                     std::int64_t& step)
{
    // j = t + e*y for y = 0, 1, ... runs through the classes modulo d with
    // period d / gcd(d, e) (one round when d divides e): the y that meets r
    // gives the first common j, the period the step. At most d <= 48 rounds
    // of additions, no division by a variable.
    const auto modulus = static_cast<std::uint32_t>(d);
    const std::uint32_t start = static_cast<std::uint32_t>(t) % modulus;
    const std::uint32_t ahead = static_cast<std::uint32_t>(e) % modulus;
    std::uint32_t value = start;
    std::int64_t met = -1, period = 0;
    do {
        if (value == static_cast<std::uint32_t>(r))
            met = period;
        value += ahead;
        if (value >= modulus)
            value -= modulus;
        ++period;
    } while (value != start);
    if (met < 0)
        return false;
    first = t + e * met;
    step = e * period;
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
