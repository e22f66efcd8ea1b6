// The candidate set: per k, the exponents n of [nmin, nmax] whose k*2^n+1
// still has no known factor, as bitmaps, plus the spacing and residue that
// all its n share. Read from and written to "Zud.dat".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "data/data_folder.h"
#include "data/file_io.h"

namespace zud {

struct CandidateSet {
    std::int32_t nmin = 0;
    std::int32_t nmax = 0;
    std::int32_t kcount = 0;
    std::int32_t words_per_k = 0;         // (nmax - nmin + 1) / 32 + 1: always a spare bit
    std::vector<std::int32_t> k_values;   // positive
    std::vector<std::int32_t> residues;   // (n - nmin) mod spacing; 0 for a k without n
    std::vector<std::int32_t> spacings;   // gcd of 907200 and the differences of its n; 1 without n
    std::vector<std::uint32_t> bits;      // kcount * words_per_k words; bit n - nmin, LSB first

    bool empty() const { return kcount == 0; }
    std::uint32_t* bitmap(std::int32_t k_index) { return bits.data() + static_cast<std::size_t>(k_index) * words_per_k; }
    const std::uint32_t* bitmap(std::int32_t k_index) const
    {
        return bits.data() + static_cast<std::size_t>(k_index) * words_per_k;
    }
    bool is_candidate(std::int32_t k_index, std::int32_t n) const
    {
        const auto d = static_cast<std::uint32_t>(n - nmin);
        return bitmap(k_index)[d / 32] >> (d % 32) & 1u;
    }
    // The same for a set that other threads change bit by bit.
    bool is_candidate_shared(std::int32_t k_index, std::int32_t n) const
    {
        const auto d = static_cast<std::uint32_t>(n - nmin);
        return __atomic_load_n(bitmap(k_index) + d / 32, __ATOMIC_RELAXED) >> (d % 32) & 1u;
    }
    // Clears the bit of n; true when this call cleared it.
    bool remove_shared(std::int32_t k_index, std::int32_t n)
    {
        const auto d = static_cast<std::uint32_t>(n - nmin);
        const std::uint32_t mask = 1u << (d % 32);
        return (__atomic_fetch_and(bitmap(k_index) + d / 32, ~mask, __ATOMIC_RELAXED) & mask) != 0;
    }
    std::size_t candidate_count() const;

    // Removes each (k, n) from the candidates of every k of that value.
    void remove(const std::vector<std::pair<std::int32_t, std::int32_t>>& factors);

    // Frees everything; the set is empty afterwards.
    void release();
    // Initial creation: every n of the range (spare bits too) is a
    // candidate, in one class of spacing 1.
    void fill_all();
};

// Reads the folder's "Zud.dat" into `set` (released first).
// On failure the message is the exact text to show with a warning icon.
FileResult read_candidate_file(const DataFolder& folder, CandidateSet& set);

// Writes the set as the new "Zud.dat", keeping the previous one as
// "Zud.dat~". The new text is complete on disk and the backup made before
// the old file is replaced, so a failure (no backup possible included)
// leaves the old "Zud.dat" in place. The new file keeps the old one's mode.
// `message` is shown without icon on success, with a warning icon on
// failure.
FileResult write_candidate_file(const DataFolder& folder, const CandidateSet& set);

// The most the set can take as a file: what an initial creation checks the
// free space against before it starts.
std::uint64_t candidate_file_size_bound(const CandidateSet& set);
// Why no new "Zud.dat" can be written in the folder, or "".
std::string candidate_folder_unwritable(const DataFolder& folder);
// A set of `kcount` k over [nmin, nmax] without n (k values 0, spacing 1),
// or the message that the machine cannot hold it.
FileResult allocate_candidate_set(CandidateSet& set, std::int64_t kcount, std::int32_t nmin, std::int32_t nmax);
// The same verdict without allocating.
FileResult candidate_memory_check(std::int64_t kcount, std::int32_t nmin, std::int32_t nmax);

}  // namespace zud
