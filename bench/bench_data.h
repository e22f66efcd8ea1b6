// Locating the benchmark's candidate file: --zud-file=PATH, else the
// shared benchmark file beside the repository.
#pragma once

#include <string>

#include "data/candidate_set.h"

namespace zud_bench {

// Removes --zud-file=PATH from argv and remembers it.
void take_file_argument(int& argc, char** argv);
const std::string& candidate_path();
// Reads the candidate file once (cached); exits with a message when missing.
const zud::CandidateSet& bench_set();

}  // namespace zud_bench
