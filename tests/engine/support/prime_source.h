// The reference prime source, for the tests and benchmarks that check the
// program's own (PrimeFeed) against it: every prime from a start value
// upward, in order, by a segmented sieve of Atkin over the sixteen residues
// prime to 60, 1,920,000 integers a segment.
#pragma once

#include <cstdint>

namespace zud {

class PrimeSource {
public:
    static constexpr int kClasses = 16;
    static constexpr int kWordsPerClass = 1000;
    static constexpr int kBitsPerClass = kWordsPerClass * 32;   // 32,000
    static constexpr std::uint64_t kSegmentSpan = 60ULL * kBitsPerClass;

    // Initial state: primes below 60 pending, next segment at 60.
    void init();
    // Drops every prime below `to`; whole words and segments are skipped
    // without sieving.
    void skip_to(std::uint64_t to);
    // The smallest prime not yet handed out.
    std::uint64_t next()
    {
        while (pending_count_ == 0)
            fill();
        return pending_[--pending_count_];
    }

private:
    struct CatchUp {
        std::int32_t steps;
        std::int32_t steps_x_ref;
        std::int32_t steps_delta;
        std::int64_t offset_sum;
    };

    void fill();
    void sieve_segment();
    void catch_up(CatchUp& record, int x_ref, int k_ref, int delta, bool below_start);
    template <int kDelta, int kLowest>
    void walk_down(std::uint32_t* bits, const CatchUp& rec, int x0, int g, int k);
    void walk_form3(std::uint32_t* bits, int f, int g, int k);
    void mark_small_squares(std::uint32_t* bits, int residue, const std::uint32_t* l_mod_square);
    void mark_large_squares(std::uint32_t q0, int group);

    std::uint32_t bits_[kClasses * kWordsPerClass];
    std::uint64_t pending_[512];
    std::int32_t pending_count_ = 0;
    std::int32_t word_pos_ = kWordsPerClass;
    std::uint64_t word_base_ = 60;
    std::uint64_t segment_start_ = 1;   // in units of 60
    CatchUp records_[3] = {};
};

}  // namespace zud
