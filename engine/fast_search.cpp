// The bucket table helpers every search shares.
#include "engine/fast_search.h"

#include <cstring>

#include "engine/instruction_set.h"
#include "engine/search_tuning.h"

namespace zud {

void link_stride_table(const SearchTables& t, const SearchGeometry& geo)
{
    for (std::int64_t i = 0; i < geo.stride_count; ++i) {
        const std::int64_t x = t.stride_table[i];
        const std::uint32_t u = bucket_of(x);
        t.buckets[2 * u] |= 1u << (x & 31);
        t.links[i] = t.buckets[2 * u + 1];
        t.buckets[2 * u + 1] = static_cast<std::uint32_t>(i);
    }
}

void clear_bucket_table(const SearchTables& t, const SearchGeometry& geo)
{
    // Past a few hundred entries one sweep of the whole table is cheaper
    // than visiting the used buckets.
    if (geo.stride_count > kSweepBucketsFrom) {
        std::memset(t.buckets, 0, 2 * kBuckets * sizeof(std::uint32_t));
        return;
    }
    for (std::int64_t i = 0; i < geo.stride_count; ++i) {
        const std::uint32_t u = bucket_of(t.stride_table[i]);
        t.buckets[2 * u] = 0;
        t.buckets[2 * u + 1] = 0;
    }
}

bool vector_search_available()
{
    return processor_instruction_set() == InstructionSet::ifma;
}

bool avx2_search_available()
{
    return processor_instruction_set() != InstructionSet::generic;
}

}  // namespace zud
