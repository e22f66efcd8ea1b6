// The program's command line:
//   zudsieve [--console] [--workers N] [--range FROM TO] [--yes] [DIR]
//   zudsieve --export FORMAT [FILE] | --import FILE --nmin A --nmax B | --apply FILE  [DIR]
//   zudsieve --self-test | --list-devices | --help | --version
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "data/formats.h"
#include "app/start_options.h"
#include "app/texts.h"

namespace zud {

// --export, --import, --apply: the data files in the field's formats, no sieve.
struct FileCommand {
    enum class Kind { none, export_candidates, import_candidates, apply_factors } kind = Kind::none;
    CandidateFormat format = CandidateFormat::abcd;   // --export
    std::string file;                                  // FILE as given; empty: standard output (--export)
    std::int32_t nmin = 0;                             // --import: the range of n, both given
    std::int32_t nmax = 0;
};

struct CommandLine {
    enum class Action { run, help, version, self_test, refused, file_command, list_devices } action = Action::run;
    bool console = false;
    std::string folder;    // DIR; empty when not given
    StartOptions start;
    std::string error;     // for refused: what was wrong
    std::string warning;   // for a run: a value that was set aside for the default
    FileCommand files;     // for file_command
};

// `args` without the program name; `processors` bounds --workers.
CommandLine parse_command_line(const std::vector<std::string>& args, int processors);

std::string usage_text();   // the short usage, after a refusal
std::string help_text();    // --help

}  // namespace zud
