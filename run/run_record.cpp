#include "run/run_record.h"

#include <atomic>

namespace zud {

namespace {

std::atomic<RunRecord*> g_current{nullptr};

}  // namespace

RunRecord* current_run()
{
    return g_current.load();
}

void set_current_run(RunRecord* run)
{
    g_current.store(run);
}

}  // namespace zud
