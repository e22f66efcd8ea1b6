// Parsing and the texts of the command line.
#include "ui/command_line.h"

#include <cstdint>

#include "ui/main_window.h"
#include "ui/range_entry.h"

namespace zud {

namespace {

bool parse_workers(const std::string& text, int processors, int& workers)
{
    if (text.empty() || text.size() > 4 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    workers = std::stoi(text);
    return workers >= 1 && workers <= processors;
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

// Options that take no value: "--console=1" is a mistake, not a folder.
bool is_flag(const std::string& name)
{
    for (const char* flag : {"--console", "--yes", "--help", "--version"})
        if (name == flag)
            return true;
    return false;
}

// "--name=value" becomes "--name" "value", the way the option is also
// written; after "--" every argument is a folder, whatever it looks like.
std::vector<std::string> split_attached_values(const std::vector<std::string>& args, std::string& error,
                                               std::size_t& operands_from)
{
    std::vector<std::string> tokens;
    operands_from = SIZE_MAX;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--") {
            operands_from = tokens.size();
            tokens.insert(tokens.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
            break;
        }
        const std::size_t equals = arg.find('=');
        if (arg.compare(0, 2, "--") != 0 || equals == std::string::npos) {
            tokens.push_back(arg);
            continue;
        }
        const std::string name = arg.substr(0, equals);
        if (is_flag(name)) {
            error = "the option '" + name + "' takes no value";
            return {};
        }
        tokens.push_back(name);
        tokens.push_back(arg.substr(equals + 1));
    }
    return tokens;
}

}  // namespace

CommandLine parse_command_line(const std::vector<std::string>& raw_args, int processors)
{
    CommandLine line;
    auto refuse = [&line](const std::string& error) {
        line.action = CommandLine::Action::refused;
        line.error = error;
        return line;
    };
    std::string split_error;
    std::size_t operands_from = SIZE_MAX;
    const std::vector<std::string> args = split_attached_values(raw_args, split_error, operands_from);
    if (!split_error.empty())
        return refuse(split_error);
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (i >= operands_from) {
            if (!line.folder.empty())
                return refuse("only one folder may be given");
            line.folder = arg;
            line.start.folder_given = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            line.action = CommandLine::Action::help;
            return line;
        }
        if (arg == "--version" || arg == "-V") {
            line.action = CommandLine::Action::version;
            return line;
        }
        if (arg == "--console") {
            line.console = true;
        } else if (arg == "--yes") {
            line.start.yes = true;
        } else if (arg == "--workers") {
            if (i + 1 == args.size() || i + 1 >= operands_from)
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
            if (i + 2 >= args.size() || i + 2 >= operands_from)
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
    return "Usage: zudsieve [--console] [--workers N] [--range FROM TO] [--yes] [--] [DIR]\n"
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
           "  -h, --help       show this text\n"
           "  -V, --version    show the version and the licence\n"
           "  --               what follows is the folder, even if it begins with '-'\n"
           "\n"
           "An option's value may also be attached with '=': --workers=2, --range=3e9 4e9.\n"
           "\n"
           "Exit status: 0 the range completed or the run stopped with its resume point\n"
           "recorded; 1 no run could start or nothing was recorded; 2 a factor failed its\n"
           "verification, or the command line was refused.\n";
}

std::string version_text()
{
    return std::string(kProgramTitle) +
           "\n"
           "Licence: GPL-3.0-or-later <https://www.gnu.org/licenses/gpl-3.0.html>\n"
           "This is free software: you are free to change and redistribute it.\n"
           "There is NO WARRANTY, to the extent permitted by law.\n";
}

}  // namespace zud
