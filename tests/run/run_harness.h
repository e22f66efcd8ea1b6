// Runs a whole run on the test's thread over a candidate file in the
// current directory and records its events as they come.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "run/run.h"

namespace zud_test {

struct RunLog {
    // Each event's kind in order: 'f' factors, 'S' progress, 'P' checkpoint,
    // 'W' warning, and the final 's' stopped, 'C' done, 'E' error.
    std::string kinds;
    std::vector<zud::FactorRecord> factors;
    std::vector<std::size_t> batch_sizes;
    std::vector<zud::RunProgress> progress;
    std::vector<std::int64_t> checkpoints;
    std::vector<zud::RunWarning> warnings;
    std::int64_t stopped_at = -1;
    zud::RunError error{};
    char end() const { return kinds.empty() ? '\0' : kinds.back(); }
};

// `hook` sees each event's kind on the run's thread, with the run's
// controls (to stop it).
class RunCapture : public zud::RunEvents {
public:
    RunCapture(RunLog& log, std::function<void(char, zud::Run&)> hook) : log_(log), hook_(std::move(hook)) {}
    void attach(zud::Run& run) { run_ = &run; }

    void factors_recorded(const std::vector<zud::FactorRecord>& batch) override
    {
        log_.factors.insert(log_.factors.end(), batch.begin(), batch.end());
        log_.batch_sizes.push_back(batch.size());
        seen('f');
    }
    void progress(const zud::RunProgress& progress) override { log_.progress.push_back(progress), seen('S'); }
    void checkpoint_written(std::int64_t p) override { log_.checkpoints.push_back(p), seen('P'); }
    void warning(const zud::RunWarning& warning) override { log_.warnings.push_back(warning), seen('W'); }
    void stopped(std::int64_t p) override { log_.stopped_at = p, seen('s'); }
    void done() override { seen('C'); }
    void error(const zud::RunError& error) override { log_.error = error, seen('E'); }

private:
    void seen(char kind)
    {
        log_.kinds += kind;
        if (hook_)
            hook_(kind, *run_);
    }
    RunLog& log_;
    std::function<void(char, zud::Run&)> hook_;
    zud::Run* run_ = nullptr;
};

inline RunLog run_worker(zud::RunRecord& run, zud::RunSettings settings = {},
                         const std::function<void(char, zud::Run&)>& hook = {})
{
    RunLog log;
    RunCapture capture(log, hook);
    zud::Run controls(run, capture, settings);
    capture.attach(controls);
    controls.run_here();
    return log;
}

// "p | k*2^n+1"
inline std::string text_of(const zud::FactorRecord& f)
{
    return std::to_string(f.p) + " | " + std::to_string(f.k) + "*2^" + std::to_string(f.n) + "+1";
}

inline std::vector<std::string> texts_of(const std::vector<zud::FactorRecord>& factors)
{
    std::vector<std::string> texts;
    for (const zud::FactorRecord& f : factors)
        texts.push_back(text_of(f));
    return texts;
}

}  // namespace zud_test
