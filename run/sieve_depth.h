// How deep to sieve: the factors a range of p should give, what a factor
// costs at a given p, and where that cost passes the time of a primality
// test. Plain arithmetic on the candidate count, the depth and a rate, for
// the front ends before and during a run and for the project's tools.
#pragma once

#include <cstdint>

namespace zud {

// The chance that a candidate with no factor below p1 has one in [p1, p2].
//
// Source: Mertens' third theorem, prod over primes q <= x of (1 - 1/q) ~
// e^-gamma / ln x. A number with no factor below p1 escapes every prime of
// [p1, p2] with probability about prod_{p1 <= q <= p2} (1 - 1/q), which is
// the quotient of two such products: ln p1 / ln p2 (e^-gamma cancels). So
//     P(factor in [p1, p2]) ~ 1 - ln p1 / ln p2.
// The numbers k*2^n+1 are no random integers (a prime q divides one class
// of n modulo the order of 2), but over many primes the classes average out
// to the 1/q above; the tests hold the estimate against real ranges.
double factor_probability(std::int64_t p1, std::int64_t p2);

// The factors expected in [p1, p2] among `candidates` sieved to p1.
double expected_factors(double candidates, std::int64_t p1, std::int64_t p2);

// The candidates expected to be left at depth p of the `candidates` at p1.
double expected_survivors(double candidates, std::int64_t p1, std::int64_t p);

// The number of primes in [p1, p2], as the integral of dt / ln t.
double primes_between(std::int64_t p1, std::int64_t p2);

// The seconds of one core a factor costs at p, given the seconds of one core
// a prime costs and the candidates left there: a stretch dp holds
// dp / ln p primes and, by the density above, survivors * dp / (p ln p)
// factors, so a factor costs core_seconds_per_prime * p / survivors.
double seconds_per_factor(double core_seconds_per_prime, double survivors, std::int64_t p);

// The depth at which a factor costs `seconds` of one core, for candidates
// counted at p1; p1 when it costs that already, and at most 2^62.
std::int64_t depth_where_factor_takes(double seconds, double core_seconds_per_prime, double candidates,
                                      std::int64_t p1);

// The seconds of one core a prime costs, from a p-rate measured at p with
// `workers` threads (a p-rate is primes per second times ln p).
double core_seconds_per_prime(double p_per_second, std::int64_t p, int workers);

// The wall-clock seconds [p1, p2] takes with `workers` threads.
double range_seconds(double core_seconds_per_prime, std::int64_t p1, std::int64_t p2, int workers);

}  // namespace zud
