// The data folder as a value: where "Zud.dat" and "ZudStatus.dat" are, and
// the names of everything written beside them (backups, temporaries). The
// program never changes its current folder; every data file is opened by
// the path a DataFolder gives it.
#pragma once

#include <string>

namespace zud {

// The data files' own names, as messages name them.
extern const char* const kCandidateFileName;   // "Zud.dat"
extern const char* const kStatusFileName;      // "ZudStatus.dat"

class DataFolder {
public:
    // The current folder: the files go by their bare names, as the user
    // named them before there was a folder to choose.
    DataFolder() = default;
    // `folder` as given, absolute or relative to the current folder.
    explicit DataFolder(const std::string& folder);
    // Two files that live apart (a BOINC client maps each name to a file
    // of its own): each one's backups and temporaries sit beside it.
    static DataFolder mapped(const std::string& candidate_file, const std::string& status_file);

    const std::string& candidate_file() const { return candidate_; }
    std::string candidate_backup() const { return candidate_ + "~"; }   // "Zud.dat~"
    const std::string& status_file() const { return status_; }
    std::string status_backup() const { return status_ + "~"; }         // "ZudStatus.dat~"
    std::string status_backup2() const { return status_ + "~~"; }       // "ZudStatus.dat~~"

    // The names the messages give the files: "Zud.dat", "ZudStatus.dat",
    // or the whole path of a file that was mapped elsewhere.
    const std::string& candidate_name() const { return mapped_ ? candidate_ : candidate_name_; }
    const std::string& status_name() const { return mapped_ ? status_ : status_name_; }

    // The folder to open, lock and scan ("." for the current one).
    const std::string& path() const { return folder_; }
    // Its full path, as the window and the console show it.
    std::string shown() const;

private:
    std::string folder_ = ".";
    std::string candidate_ = kCandidateFileName;
    std::string status_ = kStatusFileName;
    std::string candidate_name_ = kCandidateFileName;
    std::string status_name_ = kStatusFileName;
    bool mapped_ = false;
};

// The folder that holds `path` ("." for a bare name), and the name in it.
std::string folder_holding(const std::string& path);
std::string name_in_folder(const std::string& path);

// Why the program cannot work in `folder`, in the system's words ("No such
// file or directory", "Not a directory"), or "".
std::string folder_unusable(const std::string& folder);

// The full path of `folder` with its links resolved, as the system names
// the current folder; `folder` itself when it cannot be resolved.
std::string full_folder_path(const std::string& folder);

}  // namespace zud
