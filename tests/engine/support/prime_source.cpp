// The segment sieve: row walks of the three quadratic forms toggle candidate
// bits, square multiples are then set; a bit left 0 is a prime.
#include "engine/support/prime_source.h"

#include <array>

namespace zud {

namespace {

constexpr int kResidues[16] = {1, 7, 11, 13, 17, 19, 23, 29, 31, 37, 41, 43, 47, 49, 53, 59};

struct RowEntry {
    std::int8_t cls;
    std::int8_t f;
    std::int8_t g;
    std::int8_t k;
};

struct FormTable {
    std::array<RowEntry, 128> entries;
    int size = 0;
};

int class_of(int residue)
{
    for (int c = 0; c < 16; ++c)
        if (kResidues[c] == residue)
            return c;
    return -1;
}

// Every (f, g) of the form's ranges that meets the residue condition, by
// class in walking order, then by f, then by g.
FormTable make_form(int form, std::initializer_list<int> classes)
{
    FormTable table;
    const int f_max = form == 1 ? 15 : 10;
    for (int r : classes) {
        for (int f = 1; f <= f_max; ++f) {
            for (int g = 1; g <= 30; ++g) {
                int value = form == 1 ? 4 * f * f + g * g : form == 2 ? 3 * f * f + g * g : 3 * f * f - g * g;
                if (((value - r) % 60 + 60) % 60 != 0)
                    continue;
                table.entries[table.size++] = {static_cast<std::int8_t>(class_of(r)), static_cast<std::int8_t>(f),
                                               static_cast<std::int8_t>(g), static_cast<std::int8_t>((value - r) / 60)};
            }
        }
    }
    return table;
}

struct SmallSquares {
    std::uint32_t square[49];
    std::uint32_t inverse60[49];
};

std::uint32_t inverse_mod(std::int64_t a, std::int64_t m)
{
    std::int64_t r0 = m, r1 = a % m, s0 = 0, s1 = 1;
    while (r1 != 0) {
        std::int64_t q = r0 / r1;
        std::int64_t r2 = r0 - q * r1;
        r0 = r1;
        r1 = r2;
        std::int64_t s2 = s0 - q * s1;
        s0 = s1;
        s1 = s2;
    }
    return static_cast<std::uint32_t>((s0 % m + m) % m);
}

SmallSquares make_small_squares()
{
    SmallSquares t{};
    int count = 0;
    for (int q = 7; q <= 239; q += 2) {
        bool prime = true;
        for (int d = 3; d * d <= q; d += 2)
            prime = prime && q % d != 0;
        if (!prime)
            continue;
        t.square[count] = static_cast<std::uint32_t>(q * q);
        t.inverse60[count] = inverse_mod(60, q * q);
        ++count;
    }
    return t;
}

const FormTable kForm1 = make_form(1, {1, 13, 17, 29, 37, 41, 49, 53});
const FormTable kForm2 = make_form(2, {7, 19, 31, 43});
const FormTable kForm3 = make_form(3, {11, 23, 47, 59});
const SmallSquares kSmallSquares = make_small_squares();

// First word of each residue's class bitmap, -1 for residues not prime to 60.
struct ClassMap {
    std::int32_t offset[60];
};

ClassMap make_class_map()
{
    ClassMap map{};
    for (int r = 0; r < 60; ++r) {
        int c = class_of(r);
        map.offset[r] = c < 0 ? -1 : c * PrimeSource::kWordsPerClass;
    }
    return map;
}

const ClassMap kClassMap = make_class_map();

constexpr std::uint32_t kTwoBillion = 2000000000u;
constexpr int kSpan = PrimeSource::kBitsPerClass;

inline void toggle(std::uint32_t* bits, std::int32_t i)
{
    bits[i >> 5] ^= 1u << (i & 31);
}

inline void set_bit(std::uint32_t* bits, std::uint32_t i)
{
    bits[i >> 5] |= 1u << (i & 31);
}

}  // namespace

void PrimeSource::init()
{
    static constexpr std::uint64_t kSmallPrimes[17] = {59, 53, 47, 43, 41, 37, 31, 29, 23,
                                                       19, 17, 13, 11, 7,  5,  3,  2};
    for (int i = 0; i < 17; ++i)
        pending_[i] = kSmallPrimes[i];
    pending_count_ = 17;
    word_pos_ = kWordsPerClass;
    word_base_ = 60;
    segment_start_ = 1;
    for (CatchUp& r : records_)
        r = CatchUp{};
}

void PrimeSource::skip_to(std::uint64_t to)
{
    for (;;) {
        while (pending_count_ != 0) {
            if (pending_[pending_count_ - 1] >= to)
                return;
            --pending_count_;
        }
        while (word_pos_ < kWordsPerClass && word_base_ + 1920 < to) {
            word_base_ += 1920;
            ++word_pos_;
        }
        if (word_pos_ == kWordsPerClass) {
            while (word_base_ + kSegmentSpan < to) {
                segment_start_ += kBitsPerClass;
                word_base_ += kSegmentSpan;
            }
        }
        fill();
    }
}

void PrimeSource::fill()
{
    if (word_pos_ == kWordsPerClass) {
        sieve_segment();
        segment_start_ += kBitsPerClass;
        word_pos_ = 0;
    }
    std::uint32_t words[16];
    for (int c = 0; c < 16; ++c)
        words[c] = ~bits_[c * kWordsPerClass + word_pos_];
    ++word_pos_;
    word_base_ += 1920;
    pending_count_ = 0;
    std::uint64_t b = word_base_;
    for (int bit = 31; bit >= 0; --bit) {
        b -= 60;
        for (int c = 15; c >= 0; --c)
            if (words[c] >> bit & 1u)
                pending_[pending_count_++] = b + static_cast<std::uint64_t>(kResidues[c]);
    }
}

void PrimeSource::catch_up(CatchUp& record, int x_ref, int k_ref, int delta, bool below_start)
{
    std::int64_t n = record.steps;
    std::int64_t start = k_ref + n * x_ref + record.offset_sum - static_cast<std::int64_t>(segment_start_);
    std::int64_t x = x_ref + n * delta;
    while (start < -1000000000) {
        ++n;
        start += x;
        x += delta;
    }
    const std::int64_t limit = below_start ? 0 : kSpan;
    while (start < limit) {
        start += x;
        x += delta;
        ++n;
    }
    record.steps = static_cast<std::int32_t>(n);
    record.steps_x_ref = static_cast<std::int32_t>(n * x_ref);
    record.steps_delta = static_cast<std::int32_t>(n * delta);
    record.offset_sum = delta * n * (n - 1) / 2;
}

// Forms 1 and 2: climb to the first row that starts beyond the segment,
// then come down row by row (x shrinks by kDelta) toggling each row's
// positions in the segment.
template <int kDelta, int kLowest>
void PrimeSource::walk_down(std::uint32_t* bits, const CatchUp& rec, int x0, int g, int k)
{
    std::int32_t x = x0;
    auto start = static_cast<std::int32_t>(static_cast<std::uint64_t>(
        k - static_cast<std::int64_t>(segment_start_) + static_cast<std::int64_t>(rec.steps) * x + rec.offset_sum));
    x += rec.steps_delta;
    while (start < kSpan) {
        start += x;
        x += kDelta;
    }
    std::int32_t y = g + 15;
    for (;;) {
        x -= kDelta;
        if (x <= kLowest)
            return;
        start -= x;
        while (start < 0) {
            start += y;
            y += 30;
        }
        for (std::int32_t i = start, z = y; i < kSpan; i += z, z += 30)
            toggle(bits, i);
    }
}

void PrimeSource::walk_form3(std::uint32_t* bits, int f, int g, int k)
{
    const CatchUp& rec = records_[2];
    std::int32_t x = f + 5;
    auto start = static_cast<std::int32_t>(static_cast<std::uint64_t>(
        k - static_cast<std::int64_t>(segment_start_) + static_cast<std::int64_t>(rec.steps) * x + rec.offset_sum));
    x += rec.steps_delta;
    while (start < 0) {
        start += x;
        x += 10;
    }
    std::int32_t y = g + 15;
    for (;;) {
        x += 10;
        while (start >= kSpan) {
            if (x <= y)
                return;
            start -= y;
            y += 30;
        }
        for (std::int32_t i = start, z = y; i >= 0 && z < x; i -= z, z += 30)
            toggle(bits, i);
        start += x - 10;
    }
}

void PrimeSource::mark_small_squares(std::uint32_t* bits, int residue, const std::uint32_t* l_mod_square)
{
    const auto r = static_cast<std::uint32_t>(residue);
    for (int s = 0; s < 49; ++s) {
        const std::uint32_t qq = kSmallSquares.square[s];
        std::uint32_t pos = qq - 1 - ((r * kSmallSquares.inverse60[s] + l_mod_square[s] - 1) % qq);
        for (; pos < static_cast<std::uint32_t>(kSpan); pos += qq)
            set_bit(bits, pos);
    }
}

void PrimeSource::mark_large_squares(std::uint32_t q0, int group)
{
    const std::uint64_t base = 60 * segment_start_;
    std::uint32_t qq = q0 * q0;
    std::uint32_t e = 60 * q0 + 900;
    while (qq < kSegmentSpan) {
        std::uint32_t rem = base < kTwoBillion ? static_cast<std::uint32_t>(base) % qq
                                               : static_cast<std::uint32_t>(base % qq);
        std::uint32_t i = qq - rem;
        if ((i & 1) == 0)
            i += qq;
        if (i < kSegmentSpan) {
            const std::uint32_t h = qq / 60;
            std::uint32_t lo = i % 60;
            std::uint32_t hi = i / 60;
            while (hi < static_cast<std::uint32_t>(kSpan)) {
                std::int32_t c = kClassMap.offset[lo];
                if (c >= 0)
                    bits_[c + hi / 32] |= 1u << (hi & 31);
                if (group == 1) {
                    lo += 2;
                    hi += 2 * h;
                } else {
                    lo += 38;
                    hi += 2 * h + 1;
                }
                if (lo >= 60) {
                    lo -= 60;
                    hi += 1;
                }
            }
        }
        qq += e;
        e += 1800;
    }
    const std::uint64_t end = base + kSegmentSpan;
    const bool small_dividend = end < kTwoBillion;
    for (std::uint64_t qq64 = qq; qq64 < end; qq64 += e, e += 1800) {
        std::uint64_t rem = small_dividend ? static_cast<std::uint32_t>(base) % static_cast<std::uint32_t>(qq64)
                                           : base % qq64;
        std::uint64_t i = qq64 - rem;
        if ((i & 1) == 0)
            i += qq64;
        if (i < kSegmentSpan) {
            std::int32_t c = kClassMap.offset[i % 60];
            if (c >= 0)
                set_bit(bits_ + c, static_cast<std::uint32_t>(i / 60));
        }
    }
}

void PrimeSource::sieve_segment()
{
    std::uint32_t l_mod_square[49];
    for (int s = 0; s < 49; ++s)
        l_mod_square[s] = segment_start_ > kTwoBillion
                              ? static_cast<std::uint32_t>(segment_start_ % kSmallSquares.square[s])
                              : static_cast<std::uint32_t>(segment_start_) % kSmallSquares.square[s];
    for (std::uint32_t& w : bits_)
        w = ~0u;

    struct Form {
        const FormTable& table;
        int x_ref, k_ref, delta;
        bool below_start;
    };
    const Form forms[3] = {{kForm1, 45, 29, 30, false}, {kForm2, 14, 17, 10, false}, {kForm3, 15, 4, 10, true}};
    for (int form = 0; form < 3; ++form) {
        const Form& fm = forms[form];
        catch_up(records_[form], fm.x_ref, fm.k_ref, fm.delta, fm.below_start);
        int e = 0;
        while (e < fm.table.size) {
            const int cls = fm.table.entries[e].cls;
            std::uint32_t* bits = bits_ + cls * kWordsPerClass;
            for (; e < fm.table.size && fm.table.entries[e].cls == cls; ++e) {
                const RowEntry& row = fm.table.entries[e];
                if (form == 0)
                    walk_down<30, 15>(bits, records_[0], 2 * row.f + 15, row.g, row.k);
                else if (form == 1)
                    walk_down<10, 5>(bits, records_[1], row.f + 5, row.g, row.k);
                else
                    walk_form3(bits, row.f, row.g, row.k);
            }
            mark_small_squares(bits, kResidues[cls], l_mod_square);
        }
    }
    for (std::uint32_t q0 : {247u, 253u, 257u, 263u})
        mark_large_squares(q0, 49);
    for (std::uint32_t q0 : {241u, 251u, 259u, 269u})
        mark_large_squares(q0, 1);
}

}  // namespace zud
