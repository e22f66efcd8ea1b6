// Which search the processor runs: decided once, from its features and a
// cap from the environment (ZUDSIEVE_ISA, for benchmarks and trouble-
// shooting), and kept in one table of searches by instruction set and p.
#pragma once

#include <cstdint>
#include <string>

#include "engine/fast_search.h"

namespace zud {

// In ascending order: each needs what the one before it needs.
enum class InstructionSet { generic, avx2, ifma };

// The best set this processor has: ifma needs AVX-512 F and IFMA, avx2
// needs AVX2 and FMA, generic any x86-64.
InstructionSet processor_instruction_set();

// The set a cap selects where `available` is the processor's: the lower of
// the two. An empty or missing cap selects `available`; a cap that names no
// set does too, and `warning` then says so (else it is left empty).
InstructionSet capped_instruction_set(const char* cap, InstructionSet available, std::string& warning);

// The set in force: on the first call, the processor's, capped by
// ZUDSIEVE_ISA (an unknown value: a line on stderr); the same ever after.
InstructionSet instruction_set();
// For tests and benchmarks: puts `wanted` in force, lowered to what the
// processor has; returns the set now in force.
InstructionSet set_instruction_set(InstructionSet wanted);

// "ifma", "avx2" or "generic".
const char* instruction_set_name(InstructionSet set);

// The searches of one set: `below` for p < boundary, `above` from there.
struct SearchPlan {
    std::int64_t boundary;
    SearchFunction below;
    SearchFunction above;
    SearchFunction for_prime(std::int64_t p) const { return p < boundary ? below : above; }
};
// The filtered searches of a set (which the processor must have).
SearchPlan search_plan(InstructionSet set);
// The searches of a mode: the unfiltered ones below 2^48 (falling back to
// the next slower where the processor lacks a unit) with the portable one
// above; filtered and best: those of the set in force.
SearchPlan search_plan_for(SearchMode mode);

}  // namespace zud
