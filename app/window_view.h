// What the window logic needs of a front end (the Qt window, the console,
// a test): the controls it writes to, the tray icon, the clipboard and the
// range dialog. Message boxes and the wait cursor are in message_box.h.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "run/priority.h"

namespace zud {

class WindowView {
public:
    virtual ~WindowView() = default;
    // The log pane: text is appended at the end (it may begin with "\r\n"),
    // the oldest characters cut, or the whole text replaced.
    virtual void log_appended(const std::string& text) = 0;
    virtual void log_cut_front(const std::string& removed) = 0;
    virtual void log_replaced(const std::string& text) = 0;
    virtual void log_scroll_to_end() = 0;
    virtual void focus_log() = 0;

    virtual void show_status_line(const std::string& text) = 0;
    virtual void show_range_line(const std::string& text) = 0;
    virtual void set_start_caption(const std::string& caption) = 0;   // "&Start" or "&Stop"
    virtual void show_priority_class(PriorityClass cls) = 0;          // the radio buttons
    virtual void show_thread_priority(ThreadPriority priority) = 0;   // the menu's check marks

    virtual bool window_visible() const = 0;
    virtual void show_window() = 0;   // shown and brought to the foreground
    virtual void hide_window() = 0;
    // The window goes; the front end ends its loop.
    virtual void close_window() = 0;

    // Share of the range done, 0 .. 1000 (the progress bar).
    virtual void show_progress(int permille) { (void)permille; }
    virtual void show_workers(int workers) { (void)workers; }   // the Workers menu
    // The Pause/Resume button: usable while a run goes, "Resume" while paused.
    virtual void show_pause(bool enabled, bool paused) { (void)enabled, (void)paused; }
    // What the run's range should give ("About 35 factors expected; ...").
    virtual void show_estimate(const std::string& text) { (void)text; }
    // The folder the program works in (the window's title names it).
    virtual void show_folder(const std::string& folder) { (void)folder; }
    // Where the window is, for the profile ("x y width height [max]");
    // empty when the front end has no window.
    virtual std::string placement() const { return {}; }
    // True when the front end tells of a completed range by itself (a log
    // line, a notice) rather than by a message box.
    virtual bool announces_completion() const { return false; }
    // False where no priority is shown (the console): nothing is said of one.
    virtual bool shows_priority() const { return true; }
};

// The small mark on the tray icon: how the sieve stands.
enum class TrayMark { none, running, paused, stopped, done };

class Tray {
public:
    virtual ~Tray() = default;
    virtual bool available() const = 0;
    virtual void add(const std::string& tooltip) = 0;
    virtual void modify(const std::string& tooltip) = 0;
    virtual void remove() = 0;
    // A desktop notification from the icon.
    virtual void notify(const std::string& title, const std::string& text) { (void)title, (void)text; }
    virtual void mark(TrayMark state) { (void)state; }
};

class Clipboard {
public:
    virtual ~Clipboard() = default;
    virtual bool available() const = 0;
    virtual void copy(const std::string& text) = 0;   // lines separated by "\n" or "\r\n"
};

// Modal; asks for the two ends in billions and confirms them. True with a
// confirmed range in pmin and pmax, false when cancelled.
class RangeDialog {
public:
    virtual ~RangeDialog() = default;
    virtual bool run(std::int64_t& pmin, std::int64_t& pmax) = 0;
    // What a range would give, for the dialog to show beside its fields and
    // under its confirmation; empty when there is nothing to say.
    using Estimate = std::function<std::string(std::int64_t pmin, std::int64_t pmax)>;
    virtual void set_estimate(Estimate estimate) { (void)estimate; }
};

}  // namespace zud
