// The p values the window shows, grouped the way the range line groups
// them and agreeing with what the status file records.
#pragma once

#include <cstdint>
#include <string>

#include "data/data_folder.h"

namespace zud {

// "Sieved up to 14,500,559,340 (14.5 billion)": every prime below
// `resume_p` is sieved, so the figure is resume_p - 1, the "pmin=" a stop
// records.
std::string sieved_up_to_text(std::int64_t resume_p);

// Where the range of a run from `pmin` began: the first "pmin=" of the
// folder's status file, not the resume point; pmin itself for a new range
// or an initial creation (pmin 0).
std::int64_t shown_range_start(const DataFolder& folder, std::int64_t pmin);

}  // namespace zud
