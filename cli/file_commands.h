// --export, --import and --apply: the candidate and factor files of other
// sieves and primality testers, in and out, without a sieve.
#pragma once

#include <cstdio>
#include <string>

#include "cli/command_line.h"

namespace zud {

// Runs `command` in `folder` (the current folder when empty; FILE is taken
// relative to the folder the program was started in). The exported text
// goes to `out` when no FILE is given; reports go to `out`, refusals and
// notes to `err`. Returns the exit status: 0 done, 1 a file or, for
// --apply, a line refused, 2 the folder cannot be used.
int run_file_command(const FileCommand& command, const std::string& folder, std::FILE* out, std::FILE* err);

}  // namespace zud
