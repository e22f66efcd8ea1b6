// The console front end: the same initialisation and runs as the window,
// for machines without a desktop. Log lines go to the output as they enter
// the log pane, questions are answered on the input (an empty answer or its
// end takes the default button), Ctrl+C is a confirmed Stop and a second
// Ctrl+C a confirmed exit.
#pragma once

#include <iosfwd>

#include "app/start_options.h"

namespace zud {

// Runs until the run has completed or stopped, or Start ended without a
// run. Returns the exit status: 0 when the range completed or the run
// stopped with its resume point recorded, 1 when no run could start or
// nothing was recorded, 2 after a verification failure.
int run_console(std::istream& in, std::ostream& out, bool terminal, const StartOptions& options = {});

}  // namespace zud
