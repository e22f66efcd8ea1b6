// Parsing and the texts of the command line.
#include "cli/command_line.h"

#include <cstdint>
#include <cstdlib>
#include <set>

#include "engine/search/instruction_set.h"
#include "run/worker_count.h"
#include "app/main_window.h"
#include "app/range_entry.h"

namespace zud {

namespace {

bool parse_workers(const std::string& text, int processors, int& workers)
{
    if (text.empty() || text.size() > 4 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    workers = std::stoi(text);
    return usable_workers(workers, processors) == workers;
}

// --stop-seconds S: a positive number of seconds, with a fraction if need be.
bool parse_stop_seconds(const std::string& text, double& seconds)
{
    if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos)
        return false;
    char* end = nullptr;
    seconds = std::strtod(text.c_str(), &end);
    return *end == '\0' && seconds > 0 && seconds < 1e12;
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
    for (const char* flag : {"--console", "--yes", "--help", "--version", "--self-test"})
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

// --export FORMAT [FILE], --import FILE, --apply FILE.
std::string take_file_command(const std::vector<std::string>& args, std::size_t& i, FileCommand& files)
{
    const std::string& arg = args[i];
    if (files.kind != FileCommand::Kind::none)
        return "only one of --export, --import and --apply may be given";
    if (arg == "--export") {
        if (i + 1 == args.size() || !format_from_name(args[i + 1], files.format))
            return "--export needs a format: abcd, abc or newpgen";
        files.kind = FileCommand::Kind::export_candidates;
        ++i;
        // FILE, when given, follows the format; "-" is the standard output.
        if (i + 1 < args.size() && (args[i + 1] == "-" || args[i + 1].compare(0, 1, "-") != 0)) {
            ++i;
            files.file = args[i] == "-" ? std::string() : args[i];
        }
        return {};
    }
    if (i + 1 == args.size() || args[i + 1].empty() || args[i + 1][0] == '-')
        return arg + " needs a FILE";
    files.kind = arg == "--import" ? FileCommand::Kind::import_candidates : FileCommand::Kind::apply_factors;
    files.file = args[++i];
    return {};
}

// --nmin A, --nmax B: 1 to 2147483647, each once.
std::string take_n_bound(const std::vector<std::string>& args, std::size_t& i, FileCommand& files)
{
    const std::string& arg = args[i];
    std::int32_t& bound = arg == "--nmin" ? files.nmin : files.nmax;
    if (bound != 0)
        return arg + " may be given only once";
    const std::string value = i + 1 < args.size() ? args[i + 1] : std::string();
    if (value.empty() || value.size() > 10 || value.find_first_not_of("0123456789") != std::string::npos ||
        std::stoll(value) < 1 || std::stoll(value) > 2147483647)
        return arg + " needs a number from 1 to 2147483647";
    bound = static_cast<std::int32_t>(std::stoll(value));
    ++i;
    return {};
}

std::string check_file_command(const CommandLine& line)
{
    const FileCommand& files = line.files;
    const bool bounds = files.nmin != 0 || files.nmax != 0;
    if (files.kind == FileCommand::Kind::none || (files.kind != FileCommand::Kind::import_candidates && bounds))
        return bounds ? "--nmin and --nmax go with --import" : std::string();
    if (line.console || line.start.workers != 0 || !line.warning.empty() || line.start.has_range || line.start.yes ||
        line.start.stop_seconds > 0)
        return "--export, --import and --apply sieve nothing: --console, --workers, --range, --stop-seconds and --yes "
               "do not go with them";
    if (files.kind == FileCommand::Kind::import_candidates) {
        if (files.nmin == 0 || files.nmax == 0)
            return "--import needs --nmin A and --nmax B, the range of n of the new Zud.dat";
        if (files.nmin > files.nmax)
            return "--nmin must not be above --nmax";
    }
    return {};
}

}  // namespace

CommandLine parse_command_line(const std::vector<std::string>& raw_args, int processors)
{
    CommandLine line;
    std::set<std::string> given;
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
            line.start.folder = arg;
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
        if (arg == "--self-test") {
            line.action = CommandLine::Action::self_test;
            return line;
        }
        if (arg == "--list-devices") {
            line.action = CommandLine::Action::list_devices;
            return line;
        }
        // One value per option: a second one would quietly replace the
        // first, and a range decides which file is replaced.
        if ((arg == "--workers" || arg == "--range" || arg == "--device" || arg == "--stop-seconds") &&
            !given.insert(arg).second)
            return refuse(arg + " may be given only once");
        if (arg == "--console") {
            line.console = true;
        } else if (arg == "--yes") {
            line.start.yes = true;
        } else if (arg == "--workers") {
            if (i + 1 == args.size() || i + 1 >= operands_from)
                return refuse("--workers needs a number from 1 to " + std::to_string(processors));
            // A number out of range is no reason to sieve nothing: say so
            // and go on with the Workers setting. 0 leaves the sieving to
            // the OpenCL device.
            if (args[i + 1] == "0") {
                line.start.device_alone = true;
            } else if (!parse_workers(args[i + 1], processors, line.start.workers)) {
                line.start.workers = 0;
                line.warning = "--workers needs a number from 1 to " + std::to_string(processors) + ", not '" +
                               args[i + 1] + "': the Workers setting is used";
            }
            ++i;
        } else if (arg == "--device") {
            const std::string value = i + 1 < args.size() && i + 1 < operands_from ? args[i + 1] : std::string();
            if (value.empty() || value.size() > 3 || value.find_first_not_of("0123456789") != std::string::npos)
                return refuse("--device needs the number of an OpenCL device, as --list-devices shows them");
            line.start.device = std::stoi(value);
            ++i;
        } else if (arg == "--range") {
            if (i + 2 >= args.size() || i + 2 >= operands_from)
                return refuse("--range needs two values, FROM and TO");
            const std::string error = check_range_option(args[i + 1], args[i + 2], line.start);
            if (!error.empty())
                return refuse(error);
            i += 2;
        } else if (arg == "--stop-seconds") {
            if (i + 1 == args.size() || i + 1 >= operands_from || !parse_stop_seconds(args[i + 1], line.start.stop_seconds))
                return refuse("--stop-seconds needs a number of seconds above 0, the time one primality test takes");
            ++i;
        } else if (arg == "--export" || arg == "--import" || arg == "--apply") {
            if (const std::string error = take_file_command(args, i, line.files); !error.empty())
                return refuse(error);
        } else if (arg == "--nmin" || arg == "--nmax") {
            if (const std::string error = take_n_bound(args, i, line.files); !error.empty())
                return refuse(error);
        } else if (arg.size() > 1 && arg[0] == '-') {
            return refuse("unknown option '" + arg + "'");
        } else if (!line.folder.empty()) {
            return refuse("only one folder may be given");
        } else {
            line.folder = arg;
            line.start.folder = arg;
            line.start.folder_given = true;
        }
    }
    if (const std::string error = check_file_command(line); !error.empty())
        return refuse(error);
    if (line.files.kind != FileCommand::Kind::none)
        line.action = CommandLine::Action::file_command;
    return line;
}

std::string usage_text()
{
    return "Usage: zudsieve [--console] [--workers N] [--device N] [--range FROM TO] [--stop-seconds S] [--yes] [--] [DIR]\n"
           "       zudsieve --export abcd|abc|newpgen [FILE] [DIR]\n"
           "       zudsieve --import FILE --nmin A --nmax B [DIR]\n"
           "       zudsieve --apply FILE [DIR]\n"
           "       zudsieve --self-test | --list-devices | -h | --help | -V | --version\n";
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
           "                   for this run only (Options > Workers keeps a choice); 0 with\n"
           "                   --device: the OpenCL device alone\n"
           "  --device N       sieve on OpenCL device N (see --list-devices) beside the\n"
           "                   workers; ZUDSIEVE_DEVICE=N does the same\n"
           "  --range FROM TO  the range of p for a run that would ask for one, as digits\n"
           "                   or with an exponent (3e9, 1.5e12); the range dialog's rules\n"
           "  --stop-seconds S stop, with the resume point recorded, once a factor is expected\n"
           "                   to take longer than S seconds of one core: the time one\n"
           "                   primality test of a candidate takes on one core of this\n"
           "                   machine (time the tester on one number of the file's n);\n"
           "                   past that depth a test removes a candidate sooner than the\n"
           "                   sieve does\n"
           "  --yes            answer Yes when asked whether completed results have been\n"
           "                   sent to the Zud team\n"
           "  --export FORMAT [FILE]\n"
           "                   write the candidates of Zud.dat, less the factors that\n"
           "                   ZudStatus.dat records, as FORMAT (abcd, abc or newpgen) to\n"
           "                   FILE or, without it or with -, to the standard output\n"
           "  --import FILE --nmin A --nmax B\n"
           "                   make an ABCD, ABC or NewPGen file of k*2^n+1 with n from A\n"
           "                   to B the new Zud.dat (the old one is kept as Zud.dat~)\n"
           "  --apply FILE     remove from Zud.dat each candidate that a verified line\n"
           "                   \"p | k*2^n+1\" of FILE names\n"
           "  --self-test      check that this processor gives exact answers: each of its\n"
           "                   instruction sets sieves fixed cases whose factors are known\n"
           "                   (a line each); ends with 0 when all are exact, 1 otherwise\n"
           "  --list-devices   list the OpenCL devices: platform, device, compute units,\n"
           "                   memory, OpenCL version\n"
           "  -h, --help       show this text\n"
           "  -V, --version    show the version and the licence\n"
           "  --               what follows is the folder, even if it begins with '-'\n"
           "\n"
           "An option's value may also be attached with '=': --workers=2, --range=3e9 4e9.\n"
           "\n"
           "Exit status: 0 the range completed or the run stopped with its resume point\n"
           "recorded; 1 no run could start or nothing was recorded; 2 a factor failed its\n"
           "verification, or the command line was refused. --export, --import and --apply\n"
           "work in DIR or the current folder; they end with 0 when done, 1 when a file was\n"
           "refused (--apply: when any line was) and 2 for a refused command line.\n"
           "\n"
           "The BOINC application is the program zudsieve-boinc.\n";
}

}  // namespace zud
