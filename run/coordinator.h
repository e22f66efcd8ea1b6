// The coordinator of a run: it starts the sieving workers, applies their
// chunks in ascending p, writes the status file and sends the window
// messages, the final one last.
#pragma once

#include "run/run_record.h"
#include "run/worker.h"

namespace zud {

// The whole range of `run`, on the calling thread; `nice` for every thread.
void run_coordinated(RunRecord& run, int nice, WorkerInfo* info);

}  // namespace zud
