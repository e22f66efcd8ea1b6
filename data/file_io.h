// Opening and writing the data files by name, behind a seam so that tests
// can make an open or a write fail (the tests run as root, where file modes
// block nothing). Everything here refuses what is not a regular file, never
// blocks on a FIFO, and never leaves half a text behind.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>
#include <sys/types.h>

#include "data/data_folder.h"

namespace zud {

using FileOpener = std::FILE* (*)(const char* path, const char* mode);

// fopen unless a test installed another opener; nullptr restores fopen.
std::FILE* open_file(const char* path, const char* mode);
void set_file_opener(FileOpener opener);

// Tests: how many of `bytes` a write to `path` may put down (bytes: all);
// a shorter answer sets errno, as a full disk would. nullptr: no limit.
using WriteLimiter = std::size_t (*)(const char* path, std::size_t bytes);
void set_write_limiter(WriteLimiter limiter);

// Outcome of a file operation: the text to show when it failed.
struct FileResult {
    bool ok = true;
    std::string message;
    int error_number = 0;   // the errno of the failure, where one is known
};

// "the system's reason" for the last failure, from errno.
std::string system_reason(int error_number);

// What stands under a name, following links.
enum class FileKind { missing, regular, folder, other };
FileKind file_kind(const char* path);

// Why a name cannot be used as a data file, in words ("it is a folder",
// "it is not a regular file"), or "" when it can (or does not exist).
std::string unusable_reason(const char* path);

// Opens a data file for reading in text mode. nullptr with errno set when
// it cannot be opened; refuses (errno EINVAL, see unusable_reason) what is
// not a regular file.
std::FILE* open_for_reading(const char* path);

// The mode a file written in place of `path` gets: the old file's, or the
// umask's for a new one.
mode_t mode_for_replacing(const char* path);

// Appends `text` with one write to an existing file (ENOENT when it is
// missing; it is never created here), after a line end if the file did not
// end with one: afterwards the file holds all of it or
// none of it (a partial write is cut back). `durable`: fdatasync before
// and after, so that nothing written earlier can be lost while this text
// survives. Returns 0 or the errno of the failure (EINVAL: not a regular
// file).
int append_whole(const char* path, const std::string& text, bool durable);

// Replaces the whole file with `text`: a new file under a name no other
// instance uses, flushed to disk, then renamed over `path`. Returns 0 or
// the errno of the failure; the old file stays on failure.
int replace_whole(const char* path, const std::string& text);


// Flushes the entries (renames) of the folder that holds `path` to disk.
void sync_folder_holding(const std::string& path);

// fsync(2) of the open file `path`, told to the sync observer (below).
int sync_file(int fd, const char* path);

// A name of our own beside `path` for a new file that will replace it
// ("<path>.new-XXXXXX", made by mkstemp): the clean-up below knows it.
std::string temporary_name_for(const std::string& path);

// Removes what killed writes left behind: temporary files of this
// program's naming beside the folder's data files. Only while holding the
// folder lock.
void remove_leftover_temporaries(const DataFolder& folder);

// Set by a signal handler: reads of the data files give up.
extern std::atomic<bool> read_interrupted;

// Memory the system can give now (MemAvailable), in bytes.
std::uint64_t available_memory();

// The absolute path of the current folder.
std::string current_folder();

// Tests: told of each sync the writes above make, once it is made: which
// kind (fdatasync of a file, fsync of a file, fsync of its folder) and of
// what. nullptr: nobody is told.
enum class SyncKind { data, file, folder };
using SyncObserver = void (*)(SyncKind kind, const char* path);
void set_sync_observer(SyncObserver observer);
// The syncs, each told to the observer; 0 or -1 with errno, as the calls.
int synced(SyncKind kind, int fd, const char* path);

}  // namespace zud
