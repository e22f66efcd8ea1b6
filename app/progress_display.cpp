// Share done and time left.
#include "app/progress_display.h"
#include "app/range_entry.h"

#include <cstdio>
#include <cstring>

#include "data/file_io.h"
#include "data/parse.h"

namespace zud {

namespace {

constexpr std::int32_t kSampleSpacingMs = 1000;
constexpr std::int32_t kRateWindowMs = 5 * 60 * 1000;   // "the last few minutes"
constexpr std::int32_t kShortestSpanMs = 3000;            // less gives a jumpy estimate
// 0.372 is 0.37199999... in binary; rounding down must not show 37.1%.
constexpr double kRoundingSlack = 1e-7;

std::int32_t elapsed_ms(std::int32_t now, std::int32_t then)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(now) - static_cast<std::uint32_t>(then));
}

}  // namespace

void ProgressEstimate::start(std::int64_t range_start, std::int64_t pmax)
{
    start_ = range_start < pmax ? range_start : 0;
    pmax_ = pmax;
    p_ = range_start;
    samples_.clear();
}

void ProgressEstimate::on_progress(std::int64_t p, std::int32_t now_ms)
{
    if (p > p_)
        p_ = p;
    if (!samples_.empty() && elapsed_ms(now_ms, samples_.back().ms) < kSampleSpacingMs)
        return;
    samples_.push_back({now_ms, p_});
    while (samples_.size() > 2 && elapsed_ms(now_ms, samples_[1].ms) >= kRateWindowMs)
        samples_.pop_front();
}

void ProgressEstimate::complete()
{
    p_ = pmax_;
    samples_.clear();
}

double ProgressEstimate::share_done() const
{
    if (!active() || p_ <= start_)
        return 0;
    if (p_ >= pmax_)
        return 1;
    return static_cast<double>(p_ - start_) / static_cast<double>(pmax_ - start_);
}

int ProgressEstimate::permille() const
{
    return static_cast<int>(share_done() * 1000 + kRoundingSlack);
}

std::string ProgressEstimate::share_text() const
{
    // Rounded down, so that 100.0% means done.
    const double tenths = static_cast<double>(static_cast<std::int64_t>(share_done() * 1000 + kRoundingSlack)) / 10;
    char text[32];
    std::snprintf(text, sizeof text, "%.1f%% done", tenths);
    return text;
}

std::string ProgressEstimate::remaining_text() const
{
    const std::string share = share_text();
    if (samples_.size() < 2 || p_ >= pmax_)
        return share;
    const Sample& first = samples_.front();
    const Sample& last = samples_.back();
    const std::int32_t span = elapsed_ms(last.ms, first.ms);
    if (span < kShortestSpanMs || last.p <= first.p)
        return share;
    const double rate = static_cast<double>(last.p - first.p) * 1000.0 / span;
    return share + ", " + format_time_left(static_cast<double>(pmax_ - p_) / rate);
}

std::string format_time_left(double seconds)
{
    char text[64];
    const double minutes = seconds / 60;
    if (minutes < 1) {
        std::snprintf(text, sizeof text, "less than a minute left");
    } else if (minutes < 60) {
        std::snprintf(text, sizeof text, "about %d min left", static_cast<int>(minutes));
    } else if (minutes < 48 * 60) {
        const long whole = static_cast<long>(minutes);
        std::snprintf(text, sizeof text, "about %ld h %ld min left", whole / 60, whole % 60);
    } else if (minutes < 1e9) {
        const long hours = static_cast<long>(minutes / 60);
        std::snprintf(text, sizeof text, "about %s d %ld h left", with_commas(hours / 24).c_str(), hours % 24);
    } else {
        std::snprintf(text, sizeof text, "many years left");
    }
    return text;
}

std::int64_t recorded_range_start(const DataFolder& folder, std::int64_t fallback)
{
    std::FILE* file = open_file(folder.status_file().c_str(), "r");
    if (file == nullptr)
        return fallback;
    char line[256];
    std::int64_t found = fallback;
    while (std::fgets(line, sizeof line, file) != nullptr) {
        if (std::strncmp(line, "pmin=", 5) == 0) {
            found = parse_int64(line + 5);
            break;
        }
    }
    std::fclose(file);
    return found;
}

}  // namespace zud
