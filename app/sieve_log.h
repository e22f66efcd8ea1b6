// The sieving's record on disk: "zudsieve.log" beside the status file, one
// dated line per event (start and resume point, pause, stop, workers,
// factors, progress once a minute, completion). Unlike the log pane it
// survives a restart of the program; it is kept to about a megabyte, with
// the previous megabyte as "zudsieve.log.1".
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "data/data_folder.h"

namespace zud {

constexpr std::int64_t kSieveLogLimit = 1 << 20;   // bytes before the file is rotated

// Where the folder's record is.
std::string sieve_log_path(const DataFolder& folder);

// Appends "YYYY-MM-DD HH:MM:SS text" (local time `when`) to the folder's
// record, line ends in `text` becoming blanks. The record is a help, not a
// result: a write that fails is let go.
void append_sieve_log(const DataFolder& folder, const std::string& text, std::time_t when = std::time(nullptr));

}  // namespace zud
