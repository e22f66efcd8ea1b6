// The program's command line:
//   zudsieve [--console] [--workers N] [--range FROM TO] [--yes] [DIR]
//   zudsieve --boinc [--nthreads N]        (ui/boinc_task.h)
//   zudsieve --help | --version
#pragma once

#include <string>
#include <vector>

#include "ui/start_options.h"

namespace zud {

struct CommandLine {
    enum class Action { run, help, version, refused } action = Action::run;
    bool console = false;
    std::string folder;    // DIR; empty when not given
    StartOptions start;
    std::string error;     // for refused: what was wrong
    std::string warning;   // for a run: a value that was set aside for the default
};

// `args` without the program name; `processors` bounds --workers.
CommandLine parse_command_line(const std::vector<std::string>& args, int processors);

std::string usage_text();   // the short usage, after a refusal
std::string help_text();    // --help
std::string version_text(); // --version

}  // namespace zud
