// Factors expected, the time a factor takes, and the kept rate.
#include "app/factor_cost.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "run/sieve_depth.h"
#include "app/range_entry.h"

namespace zud {

namespace {

// A run's own p-rate counts once it has sieved this long: its first seconds
// are set-up and the first chunks' start.
constexpr std::int32_t kMeasureMs = 30 * 1000;
// The observed time per factor counts from this many factors on (a count
// of m varies by about 1/sqrt(m)); the last this many make its window.
constexpr std::size_t kSteadyFactors = 30;
constexpr std::size_t kFactorWindow = 100;

std::int32_t elapsed_ms(std::int32_t now, std::int32_t then)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(now) - static_cast<std::uint32_t>(then));
}

std::string figure(double value)
{
    return with_commas(static_cast<std::int64_t>(std::llround(value)));
}

}  // namespace

std::string candidate_fingerprint(const CandidateSet& set)
{
    // FNV-1a over the k values and the range of n.
    std::uint64_t hash = 14695981039346656037ull;
    auto mix = [&hash](std::int64_t value) {
        for (int i = 0; i < 8; ++i) {
            hash ^= static_cast<std::uint64_t>(value >> (8 * i)) & 0xff;
            hash *= 1099511628211ull;
        }
    };
    mix(set.nmin);
    mix(set.nmax);
    for (std::int32_t k : set.k_values)
        mix(k);
    char text[17];
    std::snprintf(text, sizeof text, "%016" PRIx64, hash);
    return text;
}

double kept_rate(Profile& profile, const std::string& fingerprint)
{
    const std::string kept = profile.get_string("rate", "");
    const std::size_t blank = kept.find(' ');
    if (blank == std::string::npos || kept.compare(0, blank, fingerprint) != 0)
        return 0;
    const double rate = std::strtod(kept.c_str() + blank + 1, nullptr);
    return std::isfinite(rate) && rate > 0 ? rate : 0;
}

void keep_rate(Profile& profile, const std::string& fingerprint, double core_seconds_per_prime)
{
    if (!(core_seconds_per_prime > 0) || !std::isfinite(core_seconds_per_prime))
        return;
    char text[64];
    std::snprintf(text, sizeof text, " %.6g", core_seconds_per_prime);
    profile.set_string("rate", fingerprint + text);
    profile.save();
}

std::string duration_words(double seconds)
{
    char text[64];
    const double minutes = seconds / 60;
    if (minutes < 1)
        return "less than a minute";
    if (minutes < 1.5)
        return "a minute";
    if (minutes < 90)
        std::snprintf(text, sizeof text, "%.0f minutes", minutes);
    else if (minutes < 48 * 60)
        std::snprintf(text, sizeof text, "%.0f hours", minutes / 60);
    else if (minutes < 730 * 24 * 60)
        return figure(minutes / (24 * 60)) + " days";
    else
        return figure(minutes / (365.25 * 24 * 60)) + " years";
    return text;
}

std::string rounded_seconds(double seconds)
{
    if (seconds < 100)
        return figure(seconds);
    const double scale = std::pow(10.0, std::floor(std::log10(seconds)) - 1);
    return figure(std::round(seconds / scale) * scale);
}

std::string range_estimate_text(double candidates, std::int64_t p1, std::int64_t p2, double core_seconds_per_prime,
                                int workers)
{
    if (p1 <= 0 || p2 <= p1)
        return {};
    const double expected = expected_factors(candidates, p1, p2);
    std::string text = "About " + figure(expected) + (std::llround(expected) == 1 ? " factor" : " factors") +
                       " expected";
    if (core_seconds_per_prime > 0)
        text += "; about " + duration_words(range_seconds(core_seconds_per_prime, p1, p2, workers)) + " with " +
                std::to_string(workers) + (workers == 1 ? " worker" : " workers");
    return text;
}

void FactorCost::start(double candidates, std::int64_t p1, int workers, double kept_core_seconds_per_prime,
                       std::int32_t now_ms)
{
    candidates_ = candidates;
    p1_ = p1;
    p_ = p1;
    workers_ = workers < 1 ? 1 : workers;
    kept_ = kept_core_seconds_per_prime;
    measured_ = 0;
    start_ms_ = now_ms;
    found_ = 0;
    samples_.clear();
}

void FactorCost::on_progress(std::int64_t p, double p_per_second, std::int32_t now_ms)
{
    if (!active())
        return;
    if (p > p_)
        p_ = p;
    if (elapsed_ms(now_ms, start_ms_) >= kMeasureMs && p_per_second > 0)
        measured_ = core_seconds_per_prime(p_per_second, p_, workers_);
}

void FactorCost::on_factors(std::size_t count, std::int32_t now_ms)
{
    if (!active() || count == 0)
        return;
    found_ += static_cast<std::int64_t>(count);
    samples_.push_back({now_ms, found_});
    while (samples_.size() > 2 && found_ - samples_[1].found >= static_cast<std::int64_t>(kFactorWindow))
        samples_.pop_front();
}

double FactorCost::expected_seconds_per_factor() const
{
    return expected_seconds_per_factor_at(p_);
}

double FactorCost::expected_seconds_per_factor_at(std::int64_t p) const
{
    if (!active() || rate() <= 0)
        return 0;
    return zud::seconds_per_factor(rate(), expected_survivors(candidates_, p1_, p), p);
}

std::int64_t FactorCost::depth_where(double seconds) const
{
    if (!active() || rate() <= 0 || !(seconds > 0))
        return 0;
    return depth_where_factor_takes(seconds, rate(), candidates_, p1_);
}

double FactorCost::observed_seconds_per_factor() const
{
    if (samples_.size() < 2)
        return 0;
    const Sample& first = samples_.front();
    const Sample& last = samples_.back();
    const std::int64_t factors = last.found - first.found;
    if (factors < static_cast<std::int64_t>(kSteadyFactors))
        return 0;
    return workers_ * elapsed_ms(last.ms, first.ms) / 1000.0 / static_cast<double>(factors);
}

// The estimate rests on a rate over the whole run and a smooth formula;
// the factors found come one at a time, so their figure is steadier only
// when there is no rate to go by and many of them.
double FactorCost::seconds_per_factor() const
{
    const double expected = expected_seconds_per_factor();
    return expected > 0 ? expected : observed_seconds_per_factor();
}

double FactorCost::expected_so_far() const
{
    return active() ? expected_factors(candidates_, p1_, p_) : 0;
}

std::string FactorCost::status_text() const
{
    if (!active())
        return {};
    const double cost = seconds_per_factor();
    std::string text = cost > 0 ? "a factor about " + rounded_seconds(cost) + " s; " : std::string();
    // Below 10 a whole number would hide the start of a range.
    const double expected = expected_so_far();
    char few[32];
    std::snprintf(few, sizeof few, "%.1f", expected);
    return text + figure(static_cast<double>(found_)) + " found, " + (expected < 10 ? std::string(few) : figure(expected)) +
           " expected";
}

bool FactorCost::past(double seconds) const
{
    const double expected = expected_seconds_per_factor();
    return seconds > 0 && expected > seconds;
}

std::string FactorCost::stop_text(std::int64_t resume_p, double seconds) const
{
    return "Stopped at p=" + with_commas(resume_p) + ": a factor now takes about " +
           rounded_seconds(expected_seconds_per_factor_at(resume_p)) + " s, longer than the " + rounded_seconds(seconds) +
           " s a test takes.";
}

}  // namespace zud
