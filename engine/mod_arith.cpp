// Modular helpers outside the inner loop: powering, Jacobi symbol, gcd and
// the two reductions of the independent factor check.
#include "engine/mod_arith.h"

#include <fpu_control.h>

namespace zud {

namespace {

constexpr fpu_control_t kRoundingMask = 0xC00;
constexpr fpu_control_t kRoundDown = 0x400;
constexpr fpu_control_t kPrecisionMask = 0x300;
constexpr fpu_control_t kPrecision64 = 0x300;

fpu_control_t control_word()
{
    fpu_control_t cw;
    _FPU_GETCW(cw);
    return cw;
}

// The memory clobber keeps volatile operands of the large-modulus step on
// their side of a rounding change.
void set_control_word(fpu_control_t cw)
{
    __asm__ __volatile__("fldcw %0" : : "m"(cw) : "memory");
}

// (2/q) by q mod 8.
constexpr int kTwoSymbol[8] = {0, 1, 0, -1, 0, -1, 0, 1};

// Brings an operand of the small-modulus check exactly below p.
std::int64_t reduce_exact(std::int64_t a, std::int64_t p)
{
    return a < p ? a : static_cast<std::int64_t>(static_cast<std::uint64_t>(a) % static_cast<std::uint64_t>(p));
}

}  // namespace

void set_worker_fpu_env()
{
    fpu_control_t cw = control_word();
    cw = (cw & ~kPrecisionMask) | (kPrecision64 & kPrecisionMask);
    cw = (cw & ~kRoundingMask) | (kRoundDown & kRoundingMask);
    set_control_word(cw);
}

void set_x87_rounding(X87Rounding mode)
{
    fpu_control_t cw = control_word() & ~kRoundingMask;
    if (mode == X87Rounding::down)
        cw |= kRoundDown;
    set_control_word(cw);
}

X87Rounding x87_rounding()
{
    return (control_word() & kRoundingMask) == kRoundDown ? X87Rounding::down : X87Rounding::nearest;
}

X87ControlGuard::X87ControlGuard() : saved_(control_word()) {}

X87ControlGuard::~X87ControlGuard()
{
    set_control_word(saved_);
}

std::int64_t pow_half(std::int64_t e, std::int64_t p, long double recip)
{
    std::int64_t x = (p + 1) >> 1;
    std::uint64_t mask = 1;
    while (mask <= static_cast<std::uint64_t>(e) >> 1)
        mask <<= 1;
    for (mask >>= 1; mask != 0; mask >>= 1) {
        x = sqr_mod(x, p, recip);
        if (static_cast<std::uint64_t>(e) & mask)
            x = half_mod(x, p);
    }
    return x;
}

int jacobi(std::int64_t s, std::int64_t p)
{
    int sign = 1;
    if ((s & 1) == 0) {
        sign = kTwoSymbol[p & 7];
        s /= 2;
    }
    if ((s & 2) && (p & 2))
        sign = -sign;
    std::uint32_t a = static_cast<std::uint32_t>(-s);
    std::uint32_t e = static_cast<std::uint32_t>(static_cast<std::uint64_t>(p) % a);
    std::uint32_t d = a;
    while (e != 0) {
        int twos = 0;
        while ((e & 1) == 0) {
            e >>= 1;
            ++twos;
        }
        if (twos & 1)
            sign *= kTwoSymbol[d & 7];
        if ((d & 2) && (e & 2))
            sign = -sign;
        std::uint32_t r = d % e;
        d = e;
        e = r;
    }
    return d == 1 ? sign : 0;
}

std::int32_t gcd(std::int32_t a, std::int32_t b)
{
    while (a % b != 0) {
        std::int32_t r = a % b;
        a = b;
        b = r;
    }
    return b;
}

std::int64_t mul_mod_small(std::int64_t a, std::int64_t b, std::int64_t p, long double recip)
{
    a = reduce_exact(a, p);
    b = reduce_exact(b, p);
    // Under downward rounding, adding and removing 1.5 * 2^63 leaves the floor.
    const long double shift = 1.5L * 9223372036854775808.0L;
    long double t = static_cast<long double>(a) * static_cast<long double>(b);
    long double q = t * recip;
    q = (q + shift) - shift;
    return x87_to_int(t - q * static_cast<long double>(p));
}

std::int64_t mul_mod_large(std::int64_t a, std::int64_t b, std::int64_t p, long double recip)
{
    // Operands pass through volatile memory so that no product is scheduled
    // across a change of the rounding mode.
    volatile std::int64_t va = a;
    volatile std::int64_t vb = b;
    set_x87_rounding(X87Rounding::nearest);
    long double t = static_cast<long double>(va) * static_cast<long double>(vb);
    volatile std::int64_t vq = x87_to_int(t * recip);
    set_x87_rounding(X87Rounding::down);
    std::int64_t q = vq;
    auto r = static_cast<std::int64_t>(static_cast<std::uint64_t>(a) * static_cast<std::uint64_t>(b) -
                                       static_cast<std::uint64_t>(q) * static_cast<std::uint64_t>(p));
    return r < 0 ? r + p : r;
}

}  // namespace zud
