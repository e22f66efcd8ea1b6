// zudsieve-boinc: the BOINC application. A program of its own, so that the
// desktop program needs no BOINC library: the client starts it by its file
// name in a slot; started by hand it runs standalone on the current folder.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/search/instruction_set.h"
#include "boinc/boinc_frontend.h"
#include "app/texts.h"

namespace {

const char* const kHelp =
    "Usage: zudsieve-boinc [--boinc] [--nthreads N]\n"
    "       zudsieve-boinc -h | --help | -V | --version\n"
    "\n"
    "The BOINC application of ZudSieve: sieves the range in the file range\n"
    "(\"pmin pmax\") over Zud.dat and records the factors in ZudStatus.dat, each\n"
    "resolved through the BOINC client's slot. Without a client it runs on the\n"
    "files of the current folder.\n"
    "\n"
    "Options:\n"
    "  --nthreads N     sieve with N threads, 1 to 1024 (else what the client\n"
    "                   granted, else 1)\n"
    "  --boinc          accepted, and changes nothing\n"
    "  -h, --help       show this text\n"
    "  -V, --version    show the version and the licence\n"
    "\n"
    "Exit status: 0 the task is done, or it stopped at the client's request with\n"
    "its resume point recorded; 194 aborted by the client; 11 to 19 a fault of\n"
    "the task's inputs or of the sieve, written to stderr.txt (see\n"
    "zudsieve-boinc(1)).\n";

// A text that did not reach its reader is a failure.
int print_text(const std::string& text)
{
    errno = 0;
    if (std::fputs(text.c_str(), stdout) >= 0 && std::fflush(stdout) == 0)
        return 0;
    std::fprintf(stderr, "zudsieve-boinc: the text could not be written (%s)\n",
                 std::strerror(errno != 0 ? errno : EIO));
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    const std::vector<std::string> args(argv + 1, argv + argc);
    // Only alone: with the task's arguments an unknown word is the task's fault (19).
    if (args.size() == 1 && (args[0] == "-h" || args[0] == "--help"))
        return print_text(kHelp);
    if (args.size() == 1 && (args[0] == "-V" || args[0] == "--version"))
        return print_text(zud::version_text(zud::decide_instruction_set()));
    // The one choice of search, before anything runs; ZUDSIEVE_ISA may cap it.
    zud::run_boinc(args, zud::decide_instruction_set());
}
