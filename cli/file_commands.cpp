// The three file commands. Each works in one folder, takes the folder lock
// before it changes anything and leaves Zud.dat untouched on any refusal.
#include "cli/file_commands.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "data/candidate_set.h"
#include "data/folder_lock.h"
#include "data/formats.h"
#include "data/parse.h"
#include "data/status_file.h"
#include "run/factor_check.h"

namespace zud {

namespace {

const char* const kUnchanged = "Zud.dat has not been changed.";

void say(std::FILE* stream, const std::string& text)
{
    std::fprintf(stream, "%s\n", text.c_str());
}

void complain(std::FILE* err, const std::string& text)
{
    say(err, "zudsieve: " + text);
}

// The status file as a file command needs it: nothing is asked, nothing
// noted; only whether it can be used, and how far its range is sieved.
StatusRead read_status(const DataFolder& folder, const CandidateSet* set)
{
    StatusReadHooks hooks;
    hooks.factor_fault = factor_fault;
    hooks.candidates = set;
    bool echo = false;
    return read_status_file(folder, echo, hooks);
}

std::string unusable_status(const StatusRead& status)
{
    return status.damage.empty() ? std::string("The file 'ZudStatus.dat' cannot be read!") : status.damage;
}

bool same_file(const std::string& path, const char* other)
{
    struct stat a {}, b {};
    return ::stat(path.c_str(), &a) == 0 && ::stat(other, &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

int export_candidates(const DataFolder& folder, const FileCommand& command, const std::string& path, std::FILE* out,
                      std::FILE* err)
{
    if (!path.empty() && file_kind(path.c_str()) == FileKind::folder) {
        complain(err, "'" + command.file + "' is a folder. FILE comes right after the format; to export from a " +
                          "folder to the standard output: zudsieve --export FORMAT - DIR");
        return 1;
    }
    CandidateSet set;
    if (const FileResult read = read_candidate_file(folder, set); !read.ok) {
        complain(err, read.message);
        return 1;
    }
    const StatusRead status = read_status(folder, &set);
    if (status.unusable) {
        complain(err, unusable_status(status));
        return 1;
    }
    set.remove(status.factors);
    // A finished range is sieved to its end, a running one to its resume point.
    const std::int64_t depth = status.completed ? status.pmax : status.pmin;
    if (status.pmax == 0)
        complain(err, "ZudStatus.dat records no range: the depth written is 0.");
    const std::pair<std::string, std::string> data_files[] = {{folder.candidate_file(), folder.candidate_name()},
                                                              {folder.candidate_backup(), folder.candidate_name() + "~"},
                                                              {folder.status_file(), folder.status_name()}};
    for (const auto& [data_file, name] : data_files)
        if (!path.empty() && same_file(path, data_file.c_str())) {
            complain(err, "'" + command.file + "' is the data file " + name + ": export to another file.");
            return 1;
        }
    std::FILE* target = path.empty() ? out : std::fopen(path.c_str(), "w");
    if (target == nullptr) {
        complain(err, "'" + command.file + "' cannot be written (" + system_reason(errno) + ")");
        return 1;
    }
    FileResult written = write_candidates(target, set, command.format, depth,
                                          path.empty() ? std::string("the standard output") : command.file);
    if (target != out && std::fclose(target) != 0 && written.ok)
        written = {false, "'" + command.file + "' could not be written (" + system_reason(errno) + ")"};
    if (!written.ok) {
        complain(err, written.message);
        return 1;
    }
    if (!path.empty())
        say(out, "The candidates of Zud.dat, sieved to " + std::to_string(depth) + ", are in '" + command.file + "'.");
    return 0;
}

// An import or an apply changes the candidates under a range that is being
// sieved: the part already sieved would never see the new ones, and the file
// would still claim the whole range. Empty when Zud.dat may change.
std::string unfinished_range(const DataFolder& folder, const CandidateSet* set)
{
    const StatusRead status = read_status(folder, set);
    if (status.unusable)
        return unusable_status(status) + " " + kUnchanged;
    if (status.completed || status.pmax == 0 || status.pmin >= status.pmax)
        return {};
    return "ZudStatus.dat records a range that is not finished (sieved to p=" + std::to_string(status.pmin) + " of p=" +
           std::to_string(status.pmax) + "): finish it first (zudsieve --console), or move ZudStatus.dat away to "
           "give it up. " + kUnchanged;
}

std::string k_list(const std::vector<std::int32_t>& ks)
{
    std::string text;
    for (std::size_t i = 0; i < ks.size() && i < 10; ++i)
        text += (i == 0 ? "k=" : ", ") + std::to_string(ks[i]);
    if (ks.size() > 10)
        text += " and " + std::to_string(ks.size() - 10) + " more";
    return text;
}

int import_candidates(const DataFolder& folder, const FileCommand& command, const std::string& path, std::FILE* out,
                      std::FILE* err)
{
    ImportedCandidates imported;
    if (const FileResult read = read_candidates(path, command.file, command.nmin, command.nmax, imported); !read.ok) {
        complain(err, read.message + ". " + kUnchanged);
        return 1;
    }
    if (imported.bitmaps.empty()) {
        complain(err, "'" + command.file + "' holds no candidates. " + kUnchanged);
        return 1;
    }
    // Every k of the old file stays, so that none is dropped unnoticed.
    CandidateSet old;
    if (file_kind(folder.candidate_file().c_str()) != FileKind::missing) {
        if (const FileResult read = read_candidate_file(folder, old); !read.ok) {
            complain(err, read.message + " Its k are kept by an import, so it must be read first: mend it or move "
                                         "it away. " + kUnchanged);
            return 1;
        }
    }
    if (const std::string refusal = unfinished_range(folder, old.empty() ? nullptr : &old); !refusal.empty()) {
        complain(err, refusal);
        return 1;
    }
    CandidateSet merged;
    std::vector<std::int32_t> kept;
    FileResult result = merge_candidates(imported, old, merged, kept);
    if (result.ok)
        result = write_candidate_file(folder, merged);
    if (!result.ok) {
        complain(err, result.message);
        return 1;
    }
    say(out, result.message);
    say(out, "Zud.dat holds " + std::to_string(merged.candidate_count()) + " candidates of " +
                 std::to_string(imported.bitmaps.size()) + " k from '" + command.file + "', n from " +
                 std::to_string(command.nmin) + " to " + std::to_string(command.nmax) + ".");
    if (!kept.empty())
        complain(err, k_list(kept) + " of the old Zud.dat " + (kept.size() == 1 ? "has" : "have") +
                          " no candidates in '" + command.file + "' and " + (kept.size() == 1 ? "is" : "are") +
                          " kept without n.");
    return 0;
}

bool names_candidate(const CandidateSet& set, const std::vector<std::pair<std::int32_t, std::int32_t>>& by_k,
                     const FactorLine& line)
{
    if (line.n < set.nmin || line.n > set.nmax)
        return false;
    for (auto it = std::lower_bound(by_k.begin(), by_k.end(), std::make_pair(line.k, INT32_MIN));
         it != by_k.end() && it->first == line.k; ++it)
        if (set.is_candidate(it->second, line.n))
            return true;
    return false;
}

int apply_factors(const DataFolder& folder, const FileCommand& command, const std::string& path, std::FILE* out,
                  std::FILE* err)
{
    CandidateSet set;
    if (const FileResult read = read_candidate_file(folder, set); !read.ok) {
        complain(err, read.message);
        return 1;
    }
    if (const std::string refusal = unfinished_range(folder, &set); !refusal.empty()) {
        complain(err, refusal);
        return 1;
    }
    std::vector<std::pair<std::int32_t, std::int32_t>> by_k;   // (k, index), sorted
    for (std::int32_t i = 0; i < set.kcount; ++i)
        by_k.emplace_back(set.k_values[static_cast<std::size_t>(i)], i);
    std::sort(by_k.begin(), by_k.end());
    std::vector<std::pair<std::int32_t, std::int32_t>> applied;   // (k, n)
    std::vector<std::string> refused;
    std::size_t lines = 0;
    const FileResult read = read_factor_file(path, command.file, [&](const FactorLine& line) {
        ++lines;
        std::string why = line.refusal;
        if (why.empty() && is_the_number(line.p, line.k, line.n))
            why = "p is the number itself, not a proper factor";
        if (why.empty())
            why = factor_fault(line.p, line.k, line.n);
        if (why.empty() && !names_candidate(set, by_k, line))
            why = "names no candidate of Zud.dat";
        if (why.empty())
            applied.emplace_back(line.k, line.n);
        else
            refused.push_back("'" + command.file + "' line " + std::to_string(line.line_number) + " refused (" + why +
                              "): \"" + quoted_line(line.text, 200) + "\"");
    });
    if (!read.ok) {
        complain(err, read.message + ". " + kUnchanged);
        return 1;
    }
    for (const std::string& text : refused)
        complain(err, text);
    const std::size_t before = set.candidate_count();
    set.remove(applied);
    const std::size_t removed = before - set.candidate_count();
    if (removed > 0) {
        const FileResult written = write_candidate_file(folder, set);
        if (!written.ok) {
            complain(err, written.message);
            return 1;
        }
        say(out, written.message);
    }
    say(out, "Applied " + std::to_string(applied.size()) + " of " + std::to_string(lines) + " factor lines: " +
                 std::to_string(removed) + " candidates removed." + (removed == 0 ? std::string(" ") + kUnchanged : ""));
    return refused.empty() ? 0 : 1;
}

}  // namespace

int run_file_command(const FileCommand& command, const std::string& folder_given, std::FILE* out, std::FILE* err)
{
    // FILE means what it means where the program was started.
    std::string path = command.file;
    if (!path.empty() && path[0] != '/')
        path = current_folder() + "/" + path;
    if (!folder_given.empty())
        if (const std::string unusable = folder_unusable(folder_given); !unusable.empty()) {
            complain(err, "cannot work in the folder '" + folder_given + "' (" + unusable + ")");
            return 2;
        }
    const DataFolder folder(folder_given);
    FolderLock lock;
    std::string refusal;
    if (command.kind != FileCommand::Kind::export_candidates && !lock.acquire(folder, refusal)) {
        complain(err, refusal + " " + kUnchanged);
        return 1;
    }
    switch (command.kind) {
    case FileCommand::Kind::export_candidates:
        return export_candidates(folder, command, path, out, err);
    case FileCommand::Kind::import_candidates:
        return import_candidates(folder, command, path, out, err);
    case FileCommand::Kind::apply_factors:
        return apply_factors(folder, command, path, out, err);
    case FileCommand::Kind::none:
        break;
    }
    return 2;
}

}  // namespace zud
