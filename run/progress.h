// The progress text of a resume point, as the front ends show it.
#pragma once

#include <cstdint>
#include <string>

namespace zud {

// "Sieved up to %I64d", with the figure cut to one decimal in millions,
// billions or trillions from 1,000,000 on.
std::string progress_text(std::int64_t p);

}  // namespace zud
