// The one decision of which search runs, and its table.
#include "engine/instruction_set.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/search_tuning.h"

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

// A set put in force by a test or benchmark, or -1.
std::atomic<int> g_forced{-1};

InstructionSet decide()
{
    std::string warning;
    const InstructionSet set = capped_instruction_set(std::getenv("ZUDSIEVE_ISA"), processor_instruction_set(), warning);
    if (!warning.empty())
        std::fprintf(stderr, "zudsieve: %s\n", warning.c_str());
    return set;
}

}  // namespace

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

InstructionSet instruction_set()
{
    static const InstructionSet decided = decide();
    const int forced = g_forced.load();
    return forced < 0 ? decided : static_cast<InstructionSet>(forced);
}

InstructionSet set_instruction_set(InstructionSet wanted)
{
    const InstructionSet available = processor_instruction_set();
    const InstructionSet set = static_cast<int>(available) < static_cast<int>(wanted) ? available : wanted;
    g_forced.store(static_cast<int>(set));
    return set;
}

const char* instruction_set_name(InstructionSet set)
{
    return kNames[static_cast<int>(set)];
}

SearchPlan search_plan_for(SearchMode mode)
{
    const InstructionSet available = processor_instruction_set();
    switch (mode) {
    case SearchMode::reference:
        return {kWideSearchFrom, search_prime_reference, search_prime_portable};
    case SearchMode::portable:
        return {kWideSearchFrom, search_prime_portable, search_prime_portable};
    case SearchMode::vector:
        if (available == InstructionSet::ifma)
            return {kWideSearchFrom, search_prime_vector, search_prime_portable};
        [[fallthrough]];
    case SearchMode::avx2:
        if (available != InstructionSet::generic)
            return {kWideSearchFrom, search_prime_avx2, search_prime_portable};
        return {kWideSearchFrom, search_prime_portable, search_prime_portable};
    case SearchMode::filtered:
    case SearchMode::best:
        break;
    }
    return search_plan(instruction_set());
}

SearchPlan search_plan(InstructionSet set)
{
    for (const PlanEntry& entry : kPlans)
        if (entry.set == set)
            return entry.plan;
    return kPlans[2].plan;
}

}  // namespace zud
