// The window logic over fake parts, in a temporary directory, with the
// worker's messages served on the test's thread.
#pragma once

#include <chrono>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>

#include "engine/sieve.h"
#include "run/factor_check.h"
#include "run/message_queue.h"
#include "scripted_box.h"
#include "temp_dir.h"
#include "ui/main_window.h"

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
    void set_start_enabled(bool enabled) override { start_enabled = enabled; }
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

    std::string log, status_line, range_line, caption = "&Start", place;
    int permille = -1, workers = 0;
    bool start_enabled = true, visible = true, closed = false, announces = false;
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
        zud::reset_last_shown_factor_prime();
        zud::stop_flag = 0;
        write_file("Zud.dat", test_data("small_Zud.dat"));
    }
    void TearDown() override
    {
        drain();
        zud::set_message_sink(nullptr);
        zud::set_file_opener(nullptr);
        zud::set_nice_setter(nullptr);
        TempDirTest::TearDown();
    }

    // Builds the logic; the worker runs on a joined thread so that nothing
    // outlives the test.
    zud::MainWindowLogic& window()
    {
        if (!logic) {
            zud::WindowServices services{&view,  &box,    &cursor,  &tray, &clipboard, &range,
                                         &profile, [this] { return clock_ms; }, [] { return cmov; }, {}};
            services.start_worker = [this](zud::RunRecord& run, int nice, zud::WorkerInfo& info) {
                ++workers_started;
                started_nices.push_back(nice);
                if (fake_worker) {   // the test plays the worker's messages itself
                    info.add(kFakeWorkerTid + workers_started);
                    return;
                }
                join_worker();
                worker = std::thread(zud::worker_procedure, &run, nice, &info);
            };
            logic = std::make_unique<zud::MainWindowLogic>(services);
            sink = std::make_unique<zud::QueuedSink>([this](const std::string& text) {
                if (draining) {
                    drained_final = text.rfind("#s", 0) == 0 || text == "#CDone";
                    return;
                }
                messages.push_back(text);
                logic->handle_message(text);
                if (after_message)
                    after_message(text);
            });
            zud::set_message_sink(sink.get());
        }
        return *logic;
    }

    // Serves messages until the run is over (or the window is gone).
    void serve_until_idle()
    {
        while (logic->running() && !logic->destroyed())
            sink->serve_one(std::chrono::milliseconds(20));
        if (!logic->running())
            join_worker();
    }

    void join_worker()
    {
        if (worker.joinable())
            worker.join();
    }

    // A run the window left behind (an exit during a run) is stopped and
    // its messages dropped, inside the test's directory.
    void drain()
    {
        if (!worker.joinable())
            return;
        draining = true;
        zud::stop_flag = 1;
        while (!drained_final)
            sink->serve_one(std::chrono::milliseconds(20));
        worker.join();
    }

    FakeView view;
    ScriptedBox box;
    CountingCursor cursor;
    FakeTray tray;
    FakeClipboard clipboard;
    ScriptedRange range;
    MemoryProfile profile;
    std::int32_t clock_ms = 0;
    static inline bool cmov = true;
    std::unique_ptr<zud::MainWindowLogic> logic;
    std::unique_ptr<zud::QueuedSink> sink;
    std::thread worker;
    std::vector<std::string> messages;
    std::function<void(const std::string&)> after_message;
    bool fake_worker = false;
    int workers_started = 0;
    std::vector<int> started_nices;   // the nice value each run was started at

    bool draining = false;
    bool drained_final = false;
};

}  // namespace zud_test
