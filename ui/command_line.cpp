// Parsing and the texts of the command line.
#include "ui/command_line.h"

#include "run/worker.h"
#include "ui/range_entry.h"

namespace zud {

namespace {

bool parse_workers(const std::string& text, int processors, int& workers)
{
    if (text.empty() || text.size() > 4 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    workers = std::stoi(text);
    return usable_workers(workers, processors) == workers;
}

// --range FROM TO: the dialog's rules on plain p values, and its reasons.
std::string check_range_option(const std::string& from, const std::string& to, StartOptions& start)
{
    const char* const form = "digits or an exponent form such as 3e9";
    if (!parse_p_value(from, start.pmin))
        return "--range: the lower end '" + from + "' is refused: " + form;
    if (!parse_p_value(to, start.pmax))
        return "--range: the upper end '" + to + "' is refused: " + form;
    const RangeCheck check = check_range_values(start.pmin, start.pmax);
    if (check.verdict == RangeCheck::Verdict::focus_lower)
        return "--range: the lower end is refused: " + check.reason;
    if (check.verdict == RangeCheck::Verdict::focus_upper)
        return "--range: the upper end is refused: " + check.reason;
    start.has_range = true;
    return {};
}

}  // namespace

CommandLine parse_command_line(const std::vector<std::string>& args, int processors)
{
    CommandLine line;
    auto refuse = [&line](const std::string& error) {
        line.action = CommandLine::Action::refused;
        line.error = error;
        return line;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            line.action = CommandLine::Action::help;
            return line;
        }
        if (arg == "--version") {
            line.action = CommandLine::Action::version;
            return line;
        }
        if (arg == "--console") {
            line.console = true;
        } else if (arg == "--yes") {
            line.start.yes = true;
        } else if (arg == "--workers") {
            if (i + 1 == args.size())
                return refuse("--workers needs a number from 1 to " + std::to_string(processors));
            // A number out of range is no reason to sieve nothing: say so
            // and go on with the Workers setting.
            if (!parse_workers(args[i + 1], processors, line.start.workers)) {
                line.start.workers = 0;
                line.warning = "--workers needs a number from 1 to " + std::to_string(processors) + ", not '" +
                               args[i + 1] + "': the Workers setting is used";
            }
            ++i;
        } else if (arg == "--range") {
            if (i + 2 >= args.size())
                return refuse("--range needs two values, FROM and TO");
            const std::string error = check_range_option(args[i + 1], args[i + 2], line.start);
            if (!error.empty())
                return refuse(error);
            i += 2;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return refuse("unknown option '" + arg + "'");
        } else if (!line.folder.empty()) {
            return refuse("only one folder may be given");
        } else {
            line.folder = arg;
            line.start.folder_given = true;
        }
    }
    return line;
}

std::string usage_text()
{
    return "Usage: zudsieve [--console] [--workers N] [--range FROM TO] [--yes] [DIR]\n"
           "       zudsieve --help | --version\n";
}

std::string help_text()
{
    return usage_text() +
           "\n"
           "Sieves k*2^n+1 for prime factors over the candidates in Zud.dat and records\n"
           "them in ZudStatus.dat, both in the data folder.\n"
           "\n"
           "The data folder is DIR when given; otherwise the folder the program is started\n"
           "in when it holds Zud.dat or ZudStatus.dat; otherwise the folder chosen last\n"
           "time; otherwise the window asks for it.\n"
           "\n"
           "Options:\n"
           "  --console        run without a window (also chosen when there is no display)\n"
           "  --workers N      sieve with N worker threads, 1 to the number of processors;\n"
           "                   for this run only (Options > Workers keeps a choice)\n"
           "  --range FROM TO  the range of p for a run that would ask for one, as digits\n"
           "                   or with an exponent (3e9, 1.5e12); the range dialog's rules\n"
           "  --yes            answer Yes when asked whether completed results have been\n"
           "                   sent to the Zud team\n"
           "  --help           show this text\n"
           "  --version        show the version\n"
           "\n"
           "Exit status: 0 the range completed or the run stopped with its resume point\n"
           "recorded; 1 no run could start or nothing was recorded; 2 a factor failed its\n"
           "verification, or the command line was refused.\n";
}

std::string version_text()
{
    return "ZudSieve 1.24\n";
}

}  // namespace zud
