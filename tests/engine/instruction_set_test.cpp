#include "engine/search/instruction_set.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "engine/search/fast_search.h"
#include "engine/search/search_tuning.h"

namespace {

using zud::InstructionSet;

constexpr InstructionSet kSets[] = {InstructionSet::generic, InstructionSet::avx2, InstructionSet::ifma};

TEST(InstructionSet, the_cap_lowers_the_choice_and_a_bad_cap_is_named)
{
    std::string warning = "stale";
    for (InstructionSet available : kSets) {
        EXPECT_EQ(zud::capped_instruction_set(nullptr, available, warning), available);
        EXPECT_EQ(warning, "");
        EXPECT_EQ(zud::capped_instruction_set("", available, warning), available);
        for (InstructionSet cap : kSets) {
            const InstructionSet chosen = zud::capped_instruction_set(zud::instruction_set_name(cap), available, warning);
            EXPECT_EQ(chosen, static_cast<int>(cap) < static_cast<int>(available) ? cap : available);
            EXPECT_EQ(warning, "");
        }
        for (const char* bad : {"IFMA", "sse2", "avx512", " avx2", "avx2 "}) {
            EXPECT_EQ(zud::capped_instruction_set(bad, available, warning), available) << bad;
            EXPECT_NE(warning.find(std::string("ZUDSIEVE_ISA=") + bad), std::string::npos) << warning;
            EXPECT_NE(warning.find(zud::instruction_set_name(available)), std::string::npos) << warning;
        }
    }
    EXPECT_STREQ(zud::instruction_set_name(InstructionSet::ifma), "ifma");
    EXPECT_STREQ(zud::instruction_set_name(InstructionSet::avx2), "avx2");
    EXPECT_STREQ(zud::instruction_set_name(InstructionSet::generic), "generic");
}

// What each set runs, below and above its arithmetic's reach, and main's
// one decision under the cap.
TEST(InstructionSet, each_set_runs_its_own_filtered_search)
{
    const InstructionSet available = zud::processor_instruction_set();
    struct Expected {
        InstructionSet set;
        std::int64_t boundary;
        zud::SearchFunction below;
        zud::SearchFunction above;
    };
    const Expected expected[] = {
        {InstructionSet::ifma, zud::kIfmaSearchBelow, zud::search_prime_filtered_ifma,
         zud::search_prime_filtered_wide_avx2},
        {InstructionSet::avx2, zud::kWideSearchFrom, zud::search_prime_filtered_avx2,
         zud::search_prime_filtered_wide_avx2},
        {InstructionSet::generic, zud::kWideSearchLimit, zud::search_prime_filtered_generic,
         zud::search_prime_filtered_generic},
    };
    for (const Expected& e : expected) {
        const zud::SearchPlan plan = zud::search_plan(e.set);
        EXPECT_EQ(plan.boundary, e.boundary);
        EXPECT_EQ(plan.for_prime(e.boundary - 2), e.below);
        EXPECT_EQ(plan.for_prime(zud::kWideSearchLimit - 2), e.above);
        EXPECT_EQ(zud::processor_has(e.set), static_cast<int>(e.set) <= static_cast<int>(available));
    }
    const char* const saved = std::getenv("ZUDSIEVE_ISA");
    const std::string kept = saved != nullptr ? saved : "";
    ::setenv("ZUDSIEVE_ISA", "generic", 1);
    EXPECT_EQ(zud::decide_instruction_set(), InstructionSet::generic);
    ::unsetenv("ZUDSIEVE_ISA");
    EXPECT_EQ(zud::decide_instruction_set(), available);
    if (saved != nullptr)
        ::setenv("ZUDSIEVE_ISA", kept.c_str(), 1);
}

}  // namespace
