// The sieve-depth estimates.
#include "run/sieve_depth.h"

#include <cmath>

namespace zud {

namespace {

constexpr std::int64_t kHighestP = std::int64_t{1} << 62;

// Below 3 the logarithms say nothing useful (ln 2 < 1, ln 1 = 0).
double log_of(std::int64_t p)
{
    return std::log(static_cast<double>(p < 3 ? 3 : p));
}

}  // namespace

double factor_probability(std::int64_t p1, std::int64_t p2)
{
    if (p2 <= p1)
        return 0;
    return 1 - log_of(p1) / log_of(p2);
}

double expected_factors(double candidates, std::int64_t p1, std::int64_t p2)
{
    return candidates * factor_probability(p1, p2);
}

double expected_survivors(double candidates, std::int64_t p1, std::int64_t p)
{
    return candidates - expected_factors(candidates, p1, p);
}

double primes_between(std::int64_t p1, std::int64_t p2)
{
    if (p2 <= p1)
        return 0;
    // Simpson's rule on 1 / ln t in the variable ln t, where the integrand
    // t / ln t is smooth: exact enough for any range below 2^62.
    const double a = log_of(p1);
    const double b = log_of(p2);
    const int steps = 64;
    const double h = (b - a) / steps;
    double sum = 0;
    for (int i = 0; i <= steps; ++i) {
        const double u = a + i * h;
        const double weight = (i == 0 || i == steps) ? 1 : (i % 2 == 1 ? 4 : 2);
        sum += weight * std::exp(u) / u;
    }
    return sum * h / 3;
}

double seconds_per_factor(double core_seconds_per_prime, double survivors, std::int64_t p)
{
    if (survivors <= 0)
        return HUGE_VAL;
    return core_seconds_per_prime * static_cast<double>(p) / survivors;
}

std::int64_t depth_where_factor_takes(double seconds, double core_seconds_per_prime, double candidates,
                                      std::int64_t p1)
{
    auto cost = [&](std::int64_t p) {
        return seconds_per_factor(core_seconds_per_prime, expected_survivors(candidates, p1, p), p);
    };
    if (cost(p1) >= seconds)
        return p1;
    if (cost(kHighestP) < seconds)
        return kHighestP;
    // The cost grows with p: bisect on ln p.
    double lo = std::log(static_cast<double>(p1 < 1 ? 1 : p1));
    double hi = std::log(static_cast<double>(kHighestP));
    for (int i = 0; i < 100; ++i) {
        const double mid = (lo + hi) / 2;
        if (cost(static_cast<std::int64_t>(std::exp(mid))) < seconds)
            lo = mid;
        else
            hi = mid;
    }
    return static_cast<std::int64_t>(std::exp(hi));
}

double core_seconds_per_prime(double p_per_second, std::int64_t p, int workers)
{
    if (p_per_second <= 0)
        return 0;
    return (workers < 1 ? 1 : workers) * log_of(p) / p_per_second;
}

double range_seconds(double core_seconds_per_prime, std::int64_t p1, std::int64_t p2, int workers)
{
    return primes_between(p1, p2) * core_seconds_per_prime / (workers < 1 ? 1 : workers);
}

}  // namespace zud
