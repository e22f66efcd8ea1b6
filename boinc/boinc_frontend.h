// The BOINC front end: zudsieve as a BOINC application. The client (or a
// hand-made slot) supplies "Zud.dat" and "range"; the task's results go to
// "ZudStatus.dat", each through boinc_resolve_filename.
#pragma once

#include <string>
#include <vector>

#include "engine/search/instruction_set.h"

namespace zud {

// Runs the task in the current folder (the slot) and never returns: it
// ends through boinc_finish, boinc_temporary_exit, an exit 0 after a quit
// request (the client restarts it later) or 194 after an abort.
[[noreturn]] void run_boinc(const std::vector<std::string>& args, InstructionSet instruction_set);

}  // namespace zud
