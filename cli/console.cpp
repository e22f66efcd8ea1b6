// Console implementations of the window's parts and the serving loop.
#include "cli/console.h"

#include <atomic>
#include <csignal>
#include <signal.h>
#include <iostream>
#include <string>

#include <cstdlib>
#include <sys/ioctl.h>
#include <unistd.h>

#include "data/file_io.h"
#include "run/event_queue.h"
#include "app/main_window.h"
#include "app/range_entry.h"

namespace zud {

namespace {

std::atomic<int> g_interrupts{0};

extern "C" void on_interrupt(int)
{
    g_interrupts.fetch_add(1);
    read_interrupted.store(true);
}

std::string plain_lines(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
            out += text[i];
    return out;
}

// Standard output carries the results and the progress, standard error
// every diagnostic and question, so that `> file` keeps the first and the
// terminal still shows the second.
class ConsoleOutput {
public:
    ConsoleOutput(std::ostream& out, bool terminal) : out_(out), terminal_(terminal) {}

    // A whole line, after the updating status line has been wiped.
    void line(const std::string& text)
    {
        wipe_status();
        out_ << text << '\n' << std::flush;
    }
    // Factor lines, each with its line end: one write.
    void lines(const std::string& text)
    {
        wipe_status();
        out_.write(text.data(), static_cast<std::streamsize>(text.size()));
        out_.flush();
    }
    // A diagnostic or a question, on standard error.
    void diagnostic(const std::string& text, bool end_line = true)
    {
        wipe_status();
        std::cerr << text;
        if (end_line)
            std::cerr << '\n';
        std::cerr << std::flush;
    }
    // The status text, the rate and the share done with the time left: on a
    // terminal one updating line cut to its width, elsewhere a line when
    // the status changes, progress lines spaced.
    void status(const std::string& status, StatusKind kind, const std::string& rate, const std::string& remaining)
    {
        // Texts of a window that has not started anything yet.
        if (kind == StatusKind::reading)
            return;
        const bool progress = kind == StatusKind::progress;
        const std::string text = status + (progress ? " (" + remaining + ")" : "");
        if (terminal_) {
            std::string shown = text + "   " + rate;
            const std::size_t width = terminal_width();
            if (shown.size() >= width)
                shown.resize(width - 1);   // the last column would wrap on some terminals
            out_ << "\r\033[K" << shown << std::flush;
            status_shown_ = true;
        } else if (status != last_status_ && !(progress && too_soon())) {
            // A log shows the rate too, a line a minute: what an admin
            // reads off a run in a pipe.
            out_ << (progress && rate_due(rate) ? text + "   " + rate : text) << '\n' << std::flush;
            last_status_ = status;
        }
    }
    void wipe_status()
    {
        if (status_shown_)
            out_ << "\r\033[K" << std::flush;
        status_shown_ = false;
    }
    std::ostream& stream() { return out_; }

private:
    static std::size_t terminal_width()
    {
        winsize size{};
        if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col >= 20)
            return size.ws_col;
        const char* columns = std::getenv("COLUMNS");
        const int from_env = columns != nullptr ? std::atoi(columns) : 0;
        return from_env >= 20 ? static_cast<std::size_t>(from_env) : 80;
    }
    // Progress lines come every 65,536 of p; a log file needs one a few
    // seconds at most.
    bool too_soon()
    {
        const std::int32_t now = monotonic_ms();
        if (progress_printed_ && static_cast<std::int32_t>(static_cast<std::uint32_t>(now) - static_cast<std::uint32_t>(last_progress_ms_)) < 5000)
            return true;
        progress_printed_ = true;
        last_progress_ms_ = now;
        return false;
    }

    bool rate_due(const std::string& rate)
    {
        const std::int32_t now = monotonic_ms();
        if (rate.find("p/sec") == std::string::npos ||
            (rate_printed_ && static_cast<std::int32_t>(static_cast<std::uint32_t>(now) - static_cast<std::uint32_t>(last_rate_ms_)) < 60000))
            return false;
        rate_printed_ = true;
        last_rate_ms_ = now;
        return true;
    }

    std::ostream& out_;
    bool terminal_;
    bool status_shown_ = false;
    std::string last_status_;
    bool progress_printed_ = false;
    std::int32_t last_progress_ms_ = 0;
    bool rate_printed_ = false;
    std::int32_t last_rate_ms_ = 0;
};

class ConsoleView : public WindowView {
public:
    explicit ConsoleView(ConsoleOutput& out) : out_(out) {}
    // The log pane's text arrives as it enters the pane: a batch of factor
    // lines is one text, written with one write.
    void log_appended(const std::string& text) override
    {
        std::string lines = plain_lines(text.compare(0, 2, "\r\n") == 0 ? text.substr(2) : text);
        if (lines.empty())
            return;
        lines += '\n';
        out_.lines(lines);
    }
    void log_cut_front(const std::string&) override {}
    void log_replaced(const std::string& text) override
    {
        if (!text.empty())
            out_.line(plain_lines(text));
    }
    void log_scroll_to_end() override {}
    void focus_log() override {}
    void show_status_line(const std::string&) override {}
    void show_range_line(const std::string& text) override { out_.line(text); }
    void show_estimate(const std::string& text) override
    {
        if (!text.empty())
            out_.line(text);
    }
    void set_start_caption(const std::string&) override {}
    void show_priority_class(PriorityClass) override {}
    void show_thread_priority(ThreadPriority) override {}
    bool shows_priority() const override { return false; }
    bool window_visible() const override { return true; }
    void show_window() override {}
    void hide_window() override {}
    void close_window() override { closed = true; }

    bool closed = false;

private:
    ConsoleOutput& out_;
};

class ConsoleBox : public MessageBox {
public:
    ConsoleBox(std::istream& in, ConsoleOutput& out) : in_(in), out_(out) {}
    void alert(const std::string& text) override { out_.diagnostic(plain_lines(text)); }
    BoxAnswer show(const std::string& text, BoxIcon, BoxButtons buttons, BoxAnswer default_answer) override
    {
        out_.diagnostic(plain_lines(text));
        if (buttons == BoxButtons::ok)
            return BoxAnswer::ok;
        const bool yes_no = buttons == BoxButtons::yes_no;
        const BoxAnswer first = yes_no ? BoxAnswer::yes : BoxAnswer::ok;
        const BoxAnswer second = yes_no ? BoxAnswer::no : BoxAnswer::cancel;
        const std::string prompt = yes_no ? (default_answer == first ? "[Y/n] " : "[y/N] ")
                                          : (default_answer == first ? "[O/c] " : "[o/C] ");
        for (;;) {
            out_.diagnostic(prompt, false);
            std::string answer;
            if (!std::getline(in_, answer)) {
                const bool first_taken = default_answer == first;
                out_.diagnostic(std::string("(end of input: ") +
                                (yes_no ? (first_taken ? "Yes" : "No") : (first_taken ? "OK" : "Cancel")) +
                                " assumed)");
                return default_answer;
            }
            if (answer.empty())
                return default_answer;
            const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(answer[0])));
            if (c == (yes_no ? 'y' : 'o'))
                return first;
            if (c == (yes_no ? 'n' : 'c'))
                return second;
        }
    }

private:
    std::istream& in_;
    ConsoleOutput& out_;
};

class ConsoleRangeDialog : public RangeDialog {
public:
    ConsoleRangeDialog(std::istream& in, ConsoleOutput& out, MessageBox& box) : in_(in), out_(out), box_(box) {}
    bool run(std::int64_t& pmin, std::int64_t& pmax) override
    {
        out_.diagnostic("Enter the range of p....");
        std::string lower, upper;
        for (;;) {
            // The end of the input cancels: the dialog would otherwise ask forever.
            // Each end is checked as it is typed: a bad first end is not
            // left standing while the second is asked for.
            if (!ask_end("Sieve from p= (billion): ", "lower", lower) || !ask_end("to p= (billion): ", "upper", upper))
                return false;
            const RangeCheck check = check_range_entry(lower, upper);
            if (check.verdict == RangeCheck::Verdict::focus_lower) {
                out_.diagnostic("(the lower end is not accepted: " + check.reason + ")");
                continue;
            }
            if (check.verdict == RangeCheck::Verdict::focus_upper) {
                out_.diagnostic("(the upper end is not accepted: " + check.reason + ")");
                continue;
            }
            // The estimate goes under the question, a line of its own.
            const std::string estimate = estimate_ ? estimate_(check.pmin, check.pmax) : std::string();
            const std::string question = estimate.empty() ? check.question : check.question + "\n" + estimate;
            if (box_.show(question, BoxIcon::question, BoxButtons::yes_no, BoxAnswer::no) == BoxAnswer::yes) {
                pmin = check.pmin;
                pmax = check.pmax;
                return true;
            }
        }
    }
    void set_estimate(Estimate estimate) override { estimate_ = std::move(estimate); }

private:
    bool ask_end(const char* prompt, const char* which, std::string& answer)
    {
        for (;;) {
            if (!ask(prompt, answer))
                return false;
            std::int64_t billions = 0;
            std::string reason;
            if (parse_billions(answer, billions, reason))
                return true;
            out_.diagnostic(std::string("(the ") + which + " end is not accepted: " + reason + ")");
        }
    }
    bool ask(const char* prompt, std::string& answer)
    {
        out_.diagnostic(prompt, false);
        if (std::getline(in_, answer))
            return true;
        out_.diagnostic("(end of input: no range, nothing is sieved)");
        return false;
    }

    std::istream& in_;
    ConsoleOutput& out_;
    MessageBox& box_;
    Estimate estimate_;
};

class NoTray : public Tray {
public:
    bool available() const override { return false; }
    void add(const std::string&) override {}
    void modify(const std::string&) override {}
    void remove() override {}
};

class NoClipboard : public Clipboard {
public:
    bool available() const override { return false; }
    void copy(const std::string&) override {}
};

class NoCursor : public WaitCursor {
public:
    void begin() override {}
    void end() override {}
};

int exit_status(RunOutcome outcome)
{
    switch (outcome) {
    case RunOutcome::completed:
    case RunOutcome::stopped:
        return 0;
    case RunOutcome::verification_failed:
        return 2;
    default:
        return 1;
    }
}

}  // namespace

int run_console(std::istream& in, std::ostream& out, bool terminal, const StartOptions& options)
{
    ConsoleOutput output(out, terminal);
    ConsoleView view(output);
    ConsoleBox console_box(in, output);
    AnswerHandedOver answered(console_box, options.yes, [&output](const std::string& text) {
        output.diagnostic(plain_lines(text) + " Yes (--yes)");
    });
    auto profile = open_ini_profile(profile_path());
    const DataFolder folder = options.folder_given ? DataFolder(options.folder) : settle_data_folder(*profile, nullptr);
    FolderNamingBox box(answered, [&folder] { return folder.shown(); });
    ConsoleRangeDialog dialog(in, output, box);
    PresetRange range(dialog, options);
    NoTray tray;
    NoClipboard clipboard;
    NoCursor cursor;
    EventQueue events;
    WindowServices services{&view, &box,         &cursor, &tray, &clipboard, &range, profile.get(),
                            monotonic_ms, &events, {}, nullptr, options.instruction_set};
    MainWindowLogic logic(services);
    logic.override_workers(options.workers);
    logic.use_device(options.device, options.device_alone);
    logic.override_stop_seconds(options.stop_seconds);
    logic.set_folder(folder);
    // Nothing here copies the log: a little of it is enough.
    logic.set_log_limit(std::size_t{1} << 20);
    auto refresh = [&] {
        if (!view.closed)
            output.status(logic.display_text(1), logic.status_kind(), logic.display_text(0), logic.display_text(2));
    };
    g_interrupts.store(0);
    read_interrupted.store(false);
    // Without SA_RESTART: Ctrl+C at a question ends the read, which then
    // takes the cautious default. A closed terminal (SIGHUP) stops the run
    // like SIGTERM, so that its results are recorded; a closed output pipe
    // only ends the output, never the run.
    struct sigaction action {};
    action.sa_handler = on_interrupt;
    sigemptyset(&action.sa_mask);
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal_number, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    output.line(kProgramTitle);
    output.line("Data folder: " + folder.shown());
    logic.initialize();
    refresh();
    int interrupts_handled = 0;
    auto last_retry = std::chrono::steady_clock::now();
    while (logic.running() && !view.closed) {
        if (events.deliver(logic, std::chrono::milliseconds(100)))
            refresh();
        // Records that could not be written are tried again every second.
        if (logic.records_pending() && std::chrono::steady_clock::now() - last_retry >= std::chrono::seconds(1)) {
            last_retry = std::chrono::steady_clock::now();
            logic.retry_records();
            refresh();
        }
        const int interrupts = g_interrupts.load();
        if (interrupts <= interrupts_handled)
            continue;
        interrupts_handled = interrupts;
        if (interrupts == 1) {
            output.diagnostic("Stopping at the next prime...");
            logic.stop_confirmed();
        } else if (interrupts == 2) {
            output.diagnostic("Exiting after the results are recorded (Ctrl+C once more: at once)...");
            logic.exit_confirmed();
        } else {
            logic.exit_now();
        }
    }
    logic.close_request();   // no run is active now: saves the settings
    output.wipe_status();
    out << std::flush;
    return exit_status(logic.outcome());
}

}  // namespace zud
