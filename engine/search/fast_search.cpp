// The bucket table helpers every search shares.
#include "engine/search/fast_search.h"

#include <cstring>

#include "engine/search/search_tuning.h"

namespace zud {

void link_stride_table(const SearchTables& t, const SearchGeometry& geo)
{
    for (std::int64_t i = 0; i < geo.stride_count; ++i)
        link_entry(t, static_cast<std::uint32_t>(i), t.stride_table[i]);
}

void clear_bucket_table(const SearchTables& t, const SearchGeometry& geo)
{
    // Past a few hundred entries one sweep of the table is cheaper than
    // visiting the used buckets, one store each.
    if (geo.stride_count > kSweepBucketsFrom) {
        std::memset(t.buckets, 0, kBucketWords * sizeof(std::uint32_t));
        return;
    }
    for (std::int64_t i = 0; i < geo.stride_count; ++i) {
        std::uint32_t* bucket = t.buckets + 2 * bucket_of(t.stride_table[i]);
        bucket[0] = 0;
        bucket[1] = 0;
    }
}

}  // namespace zud
