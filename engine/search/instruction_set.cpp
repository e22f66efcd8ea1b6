// The one decision of which search runs, and its table.
#include "engine/search/instruction_set.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/search/fast_search.h"
#include "engine/search/search_tuning.h"

namespace zud {

namespace {

constexpr const char* kNames[] = {"generic", "avx2", "ifma"};

struct PlanEntry {
    InstructionSet set;
    SearchPlan plan;
};

// Each set's filtered search up to where its products reach, the 64-bit
// Montgomery products beyond (with AVX2's presence tests where the set has them).
const PlanEntry kPlans[] = {
    {InstructionSet::ifma, {kIfmaSearchBelow, search_prime_filtered_ifma, search_prime_filtered_wide_avx2}},
    {InstructionSet::avx2, {kWideSearchFrom, search_prime_filtered_avx2, search_prime_filtered_wide_avx2}},
    {InstructionSet::generic, {kWideSearchLimit, search_prime_filtered_generic, search_prime_filtered_generic}},
};

}  // namespace

InstructionSet decide_instruction_set()
{
    std::string warning;
    const InstructionSet set = capped_instruction_set(std::getenv("ZUDSIEVE_ISA"), processor_instruction_set(), warning);
    if (!warning.empty())
        std::fprintf(stderr, "zudsieve: %s\n", warning.c_str());
    return set;
}

InstructionSet processor_instruction_set()
{
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512ifma"))
        return InstructionSet::ifma;
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma"))
        return InstructionSet::avx2;
    return InstructionSet::generic;
}

InstructionSet capped_instruction_set(const char* cap, InstructionSet available, std::string& warning)
{
    warning.clear();
    if (cap == nullptr || cap[0] == '\0')
        return available;
    for (int i = 0; i < 3; ++i)
        if (std::strcmp(cap, kNames[i]) == 0)
            return static_cast<int>(available) < i ? available : static_cast<InstructionSet>(i);
    warning = std::string("ZUDSIEVE_ISA=") + cap + " names no instruction set (ifma, avx2, generic): using " +
              kNames[static_cast<int>(available)];
    return available;
}

bool processor_has(InstructionSet set)
{
    return static_cast<int>(set) <= static_cast<int>(processor_instruction_set());
}

const char* instruction_set_name(InstructionSet set)
{
    return kNames[static_cast<int>(set)];
}

SearchPlan search_plan(InstructionSet set)
{
    for (const PlanEntry& entry : kPlans)
        if (entry.set == set)
            return entry.plan;
    return kPlans[2].plan;
}

}  // namespace zud
