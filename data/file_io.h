// Opening the data files by name, behind a seam so that tests can make an
// open or a write fail (the tests run as root, where file modes block
// nothing).
#pragma once

#include <cstdio>
#include <string>

namespace zud {

extern const char* const kCandidateFile;   // "Zud.dat"
extern const char* const kCandidateBackup; // "Zud.dat~"
extern const char* const kStatusFile;      // "ZudStatus.dat"

using FileOpener = std::FILE* (*)(const char* path, const char* mode);

// fopen unless a test installed another opener; nullptr restores fopen.
std::FILE* open_file(const char* path, const char* mode);
void set_file_opener(FileOpener opener);

// Outcome of a window-side file operation: the text to show when it failed.
struct FileResult {
    bool ok = true;
    std::string message;
};

// "the system's reason" for the last failure, from errno.
std::string system_reason(int error_number);

}  // namespace zud
