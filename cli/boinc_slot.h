// Whether this program was started by a BOINC client in its slot: then the
// BOINC application, a program of its own, takes over.
#pragma once

namespace zud {

// init_data.xml in the current folder with boinc_mmap_file beside it, or
// with a shared-memory key of the client's.
bool in_boinc_slot();

}  // namespace zud
