// Sliding-window rates for the status line.
#include "app/rate_display.h"

#include <chrono>
#include <cmath>
#include <cstdio>

#include "app/range_entry.h"

namespace zud {

namespace {

// now - then on the wrapping 32-bit millisecond clock.
std::int32_t elapsed_ms(std::int32_t now, std::int32_t then)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(now) - static_cast<std::uint32_t>(then));
}

}  // namespace

int RateDisplay::Window::add(std::int32_t now, std::int64_t sample)
{
    int slot;
    int from;
    if (index == -1) {
        slot = 0;
        from = -1;
        index = -2;
    } else if (index < 0) {
        slot = -index - 1;
        from = 0;
        index = index - 1 == -101 ? 0 : index - 1;
    } else {
        slot = index;
        from = (index + 1) % 100;
        index = index + 1 == 100 ? 0 : index + 1;
    }
    time[slot] = now;
    value[slot] = sample;
    return from;
}

void RateDisplay::reset()
{
    p_window_.index = -1;
    factor_window_.index = -1;
}

void RateDisplay::on_progress(std::int64_t p, std::int32_t now_ms)
{
    const int from = p_window_.add(now_ms, p);
    if (from < 0) {
        p_rate_.clear();
        return;
    }
    const std::int32_t elapsed = elapsed_ms(now_ms, p_window_.time[from]);
    // Two messages within the same millisecond give no rate: keep the last one.
    if (elapsed <= 0)
        return;
    const double rate = static_cast<double>(p - p_window_.value[from]) * 1000.0 / elapsed;
    char text[64];
    std::snprintf(text, sizeof text, "%.0f p/sec", rate);
    // Grouped, as a reader takes in 14,998,455 at a glance.
    if (rate >= 0 && rate < 9e18)
        std::snprintf(text, sizeof text, "%s p/sec", with_commas(std::llround(rate)).c_str());
    p_rate_ = text;
}

void RateDisplay::on_factor(std::int32_t factor_count, std::int32_t kcount, std::int32_t now_ms)
{
    const int from = factor_window_.add(now_ms, factor_count);
    if (from < 0) {
        factor_rate_.clear();
        return;
    }
    const std::int32_t elapsed = elapsed_ms(now_ms, factor_window_.time[from]);
    const std::int64_t factors = factor_count - factor_window_.value[from];
    if (factors <= 0)
        return;
    const std::int64_t value = static_cast<std::int64_t>(elapsed) * kcount / (factors * 1000);
    char text[64];
    std::snprintf(text, sizeof text, "%lld sec/n/k", static_cast<long long>(value));
    factor_rate_ = text;
}

std::string RateDisplay::rate_text() const
{
    const char* separator = !p_rate_.empty() && !factor_rate_.empty() ? "; " : "";
    return "Rate: " + p_rate_ + separator + factor_rate_;
}

std::int32_t monotonic_ms()
{
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now().time_since_epoch())
                        .count();
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(ms));
}

}  // namespace zud
