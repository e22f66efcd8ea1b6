// The window logic over fake parts, in a temporary directory, with the
// run's events delivered on the test's thread.
#pragma once

#include <chrono>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>

#include "run/event_queue.h"
#include "scripted_box.h"
#include "temp_dir.h"
#include "app/main_window.h"

namespace zud_test {

class FakeView : public zud::WindowView {
public:
    void log_appended(const std::string& text) override { log += text; }
    void log_cut_front(const std::string& removed) override { log.erase(0, removed.size()); }
    void log_replaced(const std::string& text) override { log = text; }
    void log_scroll_to_end() override { ++scrolls; }
    void focus_log() override {}
    void show_status_line(const std::string& text) override { status_line = text; }
    void show_range_line(const std::string& text) override { range_line = text; }
    void set_start_caption(const std::string& text) override { caption = text; }
    void show_priority_class(zud::PriorityClass cls) override { radio = cls; }
    void show_thread_priority(zud::ThreadPriority priority) override { check_mark = priority; }
    bool window_visible() const override { return visible; }
    void show_window() override { visible = true; }
    void hide_window() override { visible = false; }
    void close_window() override { closed = true; }
    void show_progress(int value) override { permille = value; }
    void show_workers(int value) override { workers = value; }
    std::string placement() const override { return place; }
    bool announces_completion() const override { return announces; }
    void show_pause(bool enabled, bool paused) override { pause_enabled = enabled, pause_shown = paused; }
    void show_folder(const std::string& folder) override { this->folder = folder; }

    std::string log, status_line, range_line, caption = "&Start", place, folder;
    bool pause_enabled = false, pause_shown = false;
    int permille = -1, workers = 0;
    bool visible = true, closed = false, announces = false;
    int scrolls = 0;
    zud::PriorityClass radio = zud::PriorityClass::normal;
    zud::ThreadPriority check_mark = zud::ThreadPriority::normal;
};

class FakeTray : public zud::Tray {
public:
    bool available() const override { return present; }
    void add(const std::string& tip) override { added = true, tooltip = tip; }
    void modify(const std::string& tip) override { tooltip = tip; }
    void remove() override { added = false; }
    void notify(const std::string& title, const std::string& text) override
    {
        notices.push_back(title + ": " + text);
        std::ifstream file("ZudStatus.dat", std::ios::binary);
        status_at_notice.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
    void mark(zud::TrayMark state) override { marks.push_back(state); }
    bool present = true, added = false;
    std::string tooltip, status_at_notice;
    std::vector<std::string> notices;
    std::vector<zud::TrayMark> marks;
};

class FakeClipboard : public zud::Clipboard {
public:
    bool available() const override { return present; }
    void copy(const std::string& text) override { copied = text; }
    bool present = true;
    std::string copied;
};

class ScriptedRange : public zud::RangeDialog {
public:
    bool run(std::int64_t& pmin, std::int64_t& pmax) override
    {
        ++runs;
        if (!accept)
            return false;
        pmin = lower;
        pmax = upper;
        return true;
    }
    bool accept = true;
    std::int64_t lower = 0, upper = 0;
    int runs = 0;
};

class MemoryProfile : public zud::Profile {
public:
    std::string get_string(const std::string& key, const std::string& fallback) override
    {
        auto it = values.find(key);
        return it == values.end() ? fallback : it->second;
    }
    int get_int(const std::string& key, int fallback) override
    {
        auto it = values.find(key);
        return it == values.end() ? fallback : std::atoi(it->second.c_str());
    }
    void set_string(const std::string& key, const std::string& value) override { values[key] = value; }
    void set_int(const std::string& key, int value) override { values[key] = std::to_string(value); }
    bool save() override { return ++saves, true; }
    std::map<std::string, std::string> values;
    int saves = 0;
};

class CountingCursor : public zud::WaitCursor {
public:
    void begin() override { ++depth; }
    void end() override { --depth; }
    int depth = 0;
};

// The thread id a fake run reports: run i (from 1) is kFakeWorkerTid + i.
constexpr pid_t kFakeWorkerTid = 900000;

class WindowTest : public TempDirTest {
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        write_file("Zud.dat", test_data("small_Zud.dat"));
    }
    void TearDown() override
    {
        drain();
        zud::set_file_opener(nullptr);
        TempDirTest::TearDown();
    }

    // Builds the logic; a run works on a thread of its own and its events
    // wait for the test's thread.
    zud::MainWindowLogic& window()
    {
        if (!logic) {
            zud::WindowServices services{&view,     &box,    &cursor,  &tray, &clipboard, &range,
                                         &profile,  [this] { return clock_ms; },
                                         &events,   {},      set_nice};
            services.start_run = [this](zud::Run& run) {
                ++workers_started;
                started_nices.push_back(run.nice());
                active = &run;
                if (fake_worker) {   // the test plays the run's events itself
                    run.add_thread(kFakeWorkerTid + workers_started);
                    return;
                }
                run.start();
            };
            logic = std::make_unique<zud::MainWindowLogic>(services);
        }
        return *logic;
    }

    // Delivers events until the run is over (or the window is gone).
    void serve_until_idle()
    {
        while (logic->running() && !logic->destroyed())
            events.deliver(spy, std::chrono::milliseconds(20));
    }

    // A run the window left behind (an exit during a run) is stopped; the
    // logic waits for it when it goes.
    void drain()
    {
        if (logic && logic->running() && !fake_worker && active != nullptr)
            active->stop();
        logic.reset();
    }

    // Hands each event to the logic, then to after_event.
    class Spy : public zud::RunEvents {
    public:
        explicit Spy(WindowTest& test) : test_(test) {}
        void factors_recorded(const std::vector<zud::FactorRecord>& b) override { pass('f', [&] { test_.logic->factors_recorded(b); }); }
        void progress(const zud::RunProgress& p) override { pass('S', [&] { test_.logic->progress(p); }); }
        void checkpoint_written(std::int64_t p) override { pass('P', [&] { test_.logic->checkpoint_written(p); }); }
        void warning(const zud::RunWarning& w) override { pass('W', [&] { test_.logic->warning(w); }); }
        void stopped(std::int64_t p) override
        {
            test_.stopped_at = p;
            pass('s', [&] { test_.logic->stopped(p); });
        }
        void done() override { pass('C', [&] { test_.logic->done(); }); }
        void error(const zud::RunError& e) override { pass('E', [&] { test_.logic->error(e); }); }

    private:
        template <typename F>
        void pass(char kind, F handle)
        {
            handle();
            if (test_.after_event)
                test_.after_event(kind);
        }
        WindowTest& test_;
    };

    FakeView view;
    ScriptedBox box;
    CountingCursor cursor;
    FakeTray tray;
    FakeClipboard clipboard;
    ScriptedRange range;
    MemoryProfile profile;
    std::int32_t clock_ms = 0;
    zud::EventQueue events;
    std::unique_ptr<zud::MainWindowLogic> logic;
    zud::Run* active = nullptr;   // the last run started
    std::function<void(char kind)> after_event;   // after the logic handled it
    Spy spy{*this};
    bool fake_worker = false;
    int workers_started = 0;
    std::int64_t stopped_at = -1;   // of the last stopped event delivered
    std::vector<int> started_nices;   // the nice value each run was started at
    zud::NiceSetter set_nice = nullptr;
};

}  // namespace zud_test
