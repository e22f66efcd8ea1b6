// zudsieve --boinc: the task's inputs through the BOINC API, a run driven
// by the client's process control, checkpoints and progress reported back.
#include "boinc/boinc_frontend.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <pthread.h>
#include <string>
#include <sys/resource.h>

#include "app_ipc.h"
#include "boinc_api.h"
#include "diagnostics.h"
#include "data/file_io.h"
#include "run/run.h"
#include "boinc/boinc_events.h"
#include "boinc/boinc_task.h"

namespace zud {

namespace {

constexpr int kAbortedByClient = 194;      // the client's EXIT_ABORTED_BY_CLIENT
constexpr int kRetrySeconds = 600;         // after a full disk
constexpr int kCheckpointWaitMs = 5000;    // the longest we hold the client's messages back

[[noreturn]] void finish(TaskFault fault, const std::string& message)
{
    if (!message.empty())
        std::fprintf(stderr, "%s\n", message.c_str());
    std::fflush(stderr);
    boinc_finish(static_cast<int>(fault));
    std::_Exit(static_cast<int>(fault));   // boinc_finish does not return
}

[[noreturn]] void retry_later(const std::string& why)
{
    std::fprintf(stderr, "%s Trying again later.\n", why.c_str());
    std::fflush(stderr);
    boinc_temporary_exit(kRetrySeconds, why.c_str());
    std::_Exit(0);
}

// Plain exit: after a quit request (or the client's silence) the client
// restarts the task later from ZudStatus.dat.
[[noreturn]] void leave(int status)
{
    std::fflush(nullptr);
    std::_Exit(status);
}

std::string resolved(const char* name)
{
    std::string path;
    if (boinc_resolve_filename_s(name, path) != 0 || path.empty())
        path = name;
    return path;
}

// The API's timer signal belongs to the main thread: the run's threads
// inherit this mask from the thread that starts them.
void start_without_timer_signal(Run& run)
{
    sigset_t timer, previous;
    sigemptyset(&timer);
    sigaddset(&timer, SIGALRM);
    pthread_sigmask(SIG_BLOCK, &timer, &previous);
    run.start();
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

[[noreturn]] void record_end(Run& run, TaskEvents& events, bool full_disk, const std::string& full_disk_why)
{
    switch (events.wait_end(0)) {
    case TaskEvents::End::done: {
        const FileResult done = run.record_done();
        if (!done.ok)
            retry_later(done.message);
        boinc_fraction_done(1.0);
        finish(TaskFault::none, "");
    }
    case TaskEvents::End::stopped: {
        // A stop record that cannot be written loses nothing: the last line
        // in the file is a resume point of its own.
        const FileResult resume = run.record_stop(events.stopped_at());
        if (full_disk || !resume.ok)
            retry_later(full_disk ? full_disk_why : resume.message);
        leave(0);
    }
    case TaskEvents::End::error: {
        const RunError error = events.error_of();
        finish(task_error_fault(error), task_error_text(error));
    }
    case TaskEvents::End::running:
        break;
    }
    leave(0);
}

}  // namespace

void run_boinc(const std::vector<std::string>& args, InstructionSet instruction_set)
{
    // Our messages go to the slot's stderr.txt, which the client returns.
    boinc_init_diagnostics(BOINC_DIAG_REDIRECTSTDERR);
    BOINC_OPTIONS options;
    boinc_options_defaults(options);
    // We suspend, resume and stop the run ourselves: the library would stop
    // only the main thread.
    options.direct_process_action = 0;
    options.multi_thread = 1;
    const int init = boinc_init_options(&options);
    if (init != 0) {
        std::fprintf(stderr, "zudsieve: the BOINC runtime could not start (error %d)\n", init);
        leave(init);
    }
    const TaskArguments arguments = parse_task_arguments(args);
    if (!arguments.ok)
        finish(TaskFault::command_line, "zudsieve: " + arguments.error);

    // The client may keep the files anywhere (the project folder): each
    // one's backups and temporaries go beside it, and its renames are
    // synced in the folder that holds it.
    static const DataFolder folder = DataFolder::mapped(resolved("Zud.dat"), resolved("ZudStatus.dat"));
    const std::string range_path = resolved("range");

    APP_INIT_DATA init_data;
    boinc_get_init_data(init_data);

    static RunRecord record;
    const TaskStart start = prepare_task(folder, record, range_path.c_str());
    switch (start.kind) {
    case TaskStart::Kind::finished:
        boinc_fraction_done(1.0);
        finish(TaskFault::none, "");
    case TaskStart::Kind::temporary:
        retry_later(start.message);
    case TaskStart::Kind::fault:
        finish(start.fault, start.message);
    case TaskStart::Kind::run:
        break;
    }

    static TaskEvents events(record.pmin);
    RunSettings settings;
    settings.workers = task_threads(arguments.threads, init_data.ncpus);
    settings.instruction_set = instruction_set;
    // The client has set our priority; the run's threads keep it.
    settings.nice = getpriority(PRIO_PROCESS, 0);
    settings.folder = folder;
    static Run run(record, events, settings);
    start_without_timer_signal(run);

    bool paused = false;
    bool stopping = false;
    bool full_disk = false;
    std::string full_disk_why;
    bool checkpointing = false;
    auto checkpoint_asked = std::chrono::steady_clock::now();
    while (events.wait_end(100) == TaskEvents::End::running) {
        BOINC_STATUS status;
        boinc_get_status(&status);
        if (status.abort_request) {
            std::fprintf(stderr, "Aborted by the client.\n");
            leave(kAbortedByClient);
        }
        if ((status.quit_request || status.no_heartbeat) && !stopping) {
            std::fprintf(stderr, status.quit_request ? "Stopping: the client asked us to quit.\n"
                                                     : "Stopping: no heartbeat from the client.\n");
            run.stop();
            stopping = true;
        }
        if (!stopping && !full_disk && events.status_unwritable(full_disk_why)) {
            full_disk = true;
            run.stop();
            stopping = true;
        }
        if ((status.suspended != 0) != paused) {
            paused = !paused;
            if (paused)
                run.pause();
            else
                run.resume();
        }
        boinc_fraction_done(task_fraction(start.range, events.resume_p()));
        // The client's messages wait while a checkpoint is under way, so
        // none is begun while paused and none is held for long.
        if (!checkpointing && !paused && !stopping && boinc_time_to_checkpoint()) {
            events.want_checkpoint();
            run.checkpoint_now();
            checkpointing = true;
            checkpoint_asked = std::chrono::steady_clock::now();
        }
        if (checkpointing &&
            (events.take_checkpoint() ||
             std::chrono::steady_clock::now() - checkpoint_asked > std::chrono::milliseconds(kCheckpointWaitMs))) {
            boinc_checkpoint_completed();
            checkpointing = false;
        }
    }
    run.wait();
    record_end(run, events, full_disk, full_disk_why);
}

}  // namespace zud
