// The device search: one work-group per prime, baby-step giant-step over n
// with the giant steps in a hash table in local memory. Montgomery products
// modulo p < 2^62 with R = 2^64 from the 64-bit type and mul_hi: a GPU
// builds each from 32-bit multiply-adds, the processor device natively.
// Values in Montgomery form are kept exact in [0, p), so equal residues
// have equal words and the table compares them as they are.

// An entry: 19 bits of the value's fingerprint above the index t + 1.
#define INDEX_BITS 13u
#define INDEX_MASK 0x1FFFu
#define FINGERPRINT_MASK 0x7FFFFu
#define N_LIMIT 2147483647UL

// a*b/R mod p for a*b < p*R; in [0, p).
inline ulong mont_mul(ulong a, ulong b, ulong p, ulong inv)
{
    const ulong lo = a * b;
    const ulong hi = mul_hi(a, b);
    const ulong mp = mul_hi(lo * inv, p);
    return hi >= mp ? hi - mp : hi - mp + p;
}

inline ulong add_mod(ulong a, ulong b, ulong p)
{
    const ulong s = a + b;
    return s >= p ? s - p : s;
}

// a/2: halving commutes with the Montgomery map.
inline ulong half_mod(ulong a, ulong p)
{
    return (a + (p & (0UL - (a & 1UL)))) >> 1;
}

// 2^e in Montgomery form, e >= 0: squarings and doublings.
inline ulong pow_two(ulong e, ulong one, ulong p, ulong inv)
{
    if (e == 0)
        return one;
    ulong x = add_mod(one, one, p);
    for (int b = 62 - (int)clz(e); b >= 0; --b) {
        x = mont_mul(x, x, p, inv);
        if ((e >> b) & 1UL)
            x = add_mod(x, x, p);
    }
    return x;
}

// 2^-e in Montgomery form, e >= 1: squarings and halvings.
inline ulong pow_half(ulong e, ulong one, ulong p, ulong inv)
{
    ulong x = half_mod(one, p);
    for (int b = 62 - (int)clz(e); b >= 0; --b) {
        x = mont_mul(x, x, p, inv);
        if ((e >> b) & 1UL)
            x = half_mod(x, p);
    }
    return x;
}

inline ulong mixed(ulong x)
{
    return x * 0x9E3779B97F4A7C15UL;
}

// Entry t of the table is -2^-(nmin_eff + t*stride); the baby step j of a
// k is k*2^(r + j). They meet when k*2^(nmin_eff + j + t*stride) = -1.
__kernel void search_primes(__global const ulong* primes, uint prime_count,
                            __global const ulong* base_terms, __global const uint* first_j,
                            __global const uint* steps, __global const uint* k_index, uint k_count,
                            ulong nmin_eff, uint stride, uint stride_count, uint table_bits,
                            __global volatile uint* hit_count, __global uint4* hits, uint hit_capacity,
                            __local volatile uint* table)
{
    const uint lid = (uint)get_local_id(0);
    const uint lsize = (uint)get_local_size(0);
    const uint slots = 1u << table_bits;
    const uint mask = slots - 1u;
    const uint shift = 64u - table_bits;
    for (uint pi = (uint)get_group_id(0); pi < prime_count; pi += (uint)get_num_groups(0)) {
        const ulong p = primes[pi];
        ulong inv = p;   // p^-1 mod 2^64: right to 3 bits, each step doubles them
        for (int i = 0; i < 5; ++i)
            inv *= 2UL - p * inv;
        const ulong one = (0UL - p) % p;   // R mod p
        ulong r2 = one;                    // R^2 mod p: a value times it is its Montgomery form
        for (int i = 0; i < 64; ++i)
            r2 = add_mod(r2, r2, p);

        for (uint s = lid; s < slots; s += lsize)
            table[s] = 0u;
        barrier(CLK_LOCAL_MEM_FENCE);
        {
            ulong x = p - pow_half(nmin_eff + (ulong)lid * stride, one, p, inv);   // 2^-e is never 0
            const ulong giant = pow_half((ulong)lsize * stride, one, p, inv);
            for (uint t = lid; t < stride_count; t += lsize) {
                const ulong h = mixed(x);
                const uint entry = ((uint)(h >> 27) & FINGERPRINT_MASK) << INDEX_BITS | (t + 1u);
                uint s = (uint)(h >> shift);
                while (atomic_cmpxchg(&table[s], 0u, entry) != 0u)
                    s = (s + 1u) & mask;
                x = mont_mul(x, giant, p, inv);
            }
        }
        barrier(CLK_LOCAL_MEM_FENCE);

        uint last_step = 0u;
        ulong start = 0UL, advance = 0UL;
        for (uint i = 0; i < k_count; ++i) {
            const uint d = steps[i];
            const uint first = first_j[i];
            const uint count = (stride - first + d - 1u) / d;
            if (lid >= count)
                continue;
            if (d != last_step) {   // the k come sorted by spacing
                start = pow_two((ulong)lid * d, one, p, inv);
                advance = pow_two((ulong)lsize * d, one, p, inv);
                last_step = d;
            }
            ulong z = mont_mul(mont_mul(base_terms[i], r2, p, inv), start, p, inv);
            for (uint c = lid; c < count; c += lsize) {
                const ulong h = mixed(z);
                const uint want = (uint)(h >> 27) & FINGERPRINT_MASK;
                for (uint s = (uint)(h >> shift);; s = (s + 1u) & mask) {
                    const uint entry = table[s];
                    if (entry == 0u)
                        break;
                    if (entry >> INDEX_BITS != want)
                        continue;
                    // A fingerprint that matches: the entry's value itself decides.
                    const ulong t = (ulong)((entry & INDEX_MASK) - 1u);
                    const ulong e = nmin_eff + t * stride;
                    if (p - pow_half(e, one, p, inv) != z)
                        continue;
                    const ulong n = e + first + (ulong)c * d;
                    if (n > N_LIMIT)
                        continue;
                    const uint at = atomic_inc(hit_count);
                    if (at < hit_capacity)
                        hits[at] = (uint4)(pi, k_index[i], (uint)n, 0u);
                }
                z = mont_mul(z, advance, p, inv);
            }
        }
        barrier(CLK_LOCAL_MEM_FENCE);
    }
}
