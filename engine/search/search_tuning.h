// The boundaries between the searches' arithmetic and the tuning numbers of
// the filtered search, in one place.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zud {

// The x87 quotient estimates and the double-precision FMA products are
// exact below this; the 64-bit Montgomery products take over above.
constexpr std::int64_t kWideSearchFrom = std::int64_t{1} << 48;
// The 52-bit IFMA Montgomery products reach up to here.
constexpr std::int64_t kIfmaSearchBelow = std::int64_t{1} << 52;
// The highest p a range may reach: the 64-bit Montgomery products need p < 2^62.
constexpr std::int64_t kWideSearchLimit = (std::int64_t{1} << 62) - 1;

// Below this the filtered searches search the run's own geometry: small p
// hardly occur, and the prime 3 needs the unfiltered rule.
constexpr std::int64_t kSmallestFiltered = std::int64_t{1} << 20;
// The order e of 2^((p-1)/L) is found among the first kMostModulus powers.
constexpr std::int64_t kMostModulus = 1024;
// Bounds the stride's unit; beyond it the run's own geometry is searched.
constexpr std::int64_t kMostUnit = std::int64_t{1} << 32;
// Entries of the stride table cost a product and a link, probes a product
// and a presence test: an entry is the dearer by about this much.
constexpr double kEntryWeight = 2.0;
// The stride table is allocated this many times the run's own geometry
// (plus kTableSlack), for primes whose filter leaves few n, up to kMostEntries.
constexpr std::int64_t kTableGrowth = 4;
constexpr std::int64_t kTableSlack = 64;
constexpr std::int64_t kMostEntries = std::int64_t{1} << 20;
// From this many k put to the filter, each k's Z is looked up in an index of
// the powers of A rather than by a scan of them; the index has
// kPowerIndexSlots slots, at least four times kMostModulus.
constexpr std::int64_t kIndexPowersFrom = 32;
constexpr int kPowerIndexSlots = 4096;
// The k of a parity filter up to this get a table of Jacobi symbols (k
// bits), so that the quadratic rule drops them before their
// exponentiation; all tables of a worker together hold at most
// kMostTableWords 64-bit words.
constexpr std::int64_t kMostTabledK = std::int64_t{1} << 21;
constexpr std::size_t kMostTableWords = std::size_t{1} << 19;
// Past this many entries one sweep of the bucket table is cheaper than
// visiting the used buckets.
constexpr std::int64_t kSweepBucketsFrom = 512;

// Independent chains of products in flight, enough to cover a product's
// latency: the scalar 64-bit products, vectors of the IFMA table (8 lanes
// each) and of the AVX2 table and probes (4 lanes each).
constexpr int kScalarChains = 8;
// The generic probes' and fill's chains a round: as many as the registers
// hold beside the loop's other values (eight were spilled to the stack),
// still enough to cover a product's latency.
constexpr int kGenericRoundChains = 6;
constexpr int kIfmaTableVectors = 4;
// Groups of up to this many IFMA vectors (8 lanes) in the exponentiations,
// two chains a vector (the squares, the products).
constexpr int kIfmaPowVectors = 4;
constexpr int kAvx2TableVectors = 8;
constexpr int kAvx2ProbeVectors = 4;
// Groups of up to this many AVX2 vectors (4 lanes) in the exponentiations.
constexpr int kAvx2PowVectors = 4;

// The generic filtered search's exponentiations: up to kMostPowLanes
// chains a group, windows of kWindowBits for exponents longer than
// kShortExponentBits (bit by bit below), kPowerChains chains listing the
// powers of 2^((p-1)/L).
constexpr int kMostPowLanes = 6;
constexpr int kWindowBits = 4;
constexpr int kShortExponentBits = 24;
constexpr int kPowerChains = 4;

}  // namespace zud
