// Progress texts as the resume point grows, and the clock of the
// checkpoints in the status file.
#pragma once

#include <cstdint>
#include <string>

namespace zud {

// "#SSieved up to %I64d", with the figure cut to one decimal in millions,
// billions or trillions from 1,000,000 on.
std::string progress_text(std::int64_t p);

// Seconds of the checkpoint clock; time() unless a test drives it.
using SecondsClock = std::int64_t (*)();
void set_checkpoint_clock(SecondsClock clock);   // nullptr: time()
std::int64_t checkpoint_now();
// The moment of the run's last status-file write.
std::int64_t checkpoint_time();
void mark_checkpoint();   // checkpoint_time := now

}  // namespace zud
