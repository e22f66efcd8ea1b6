#include "run/run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <set>
#include <thread>

#include "data/status_file.h"
#include "engine/support/prime_source.h"
#include "engine/sieve.h"
#include "dense_candidates.h"
#include "reference.h"
#include "run/chunk_scheduler.h"
#include "run/factor_check.h"
#include "run/progress.h"
#include "run_harness.h"
#include "status_lines.h"
#include "temp_dir.h"

namespace {

// Factor lines a whole run must write: each remaining (k, n) at the
// smallest prime of the range that divides k*2^n+1.
std::vector<std::string> expected_factor_lines(const zud::CandidateSet& set, std::int64_t pmin, std::int64_t pmax)
{
    std::vector<std::string> lines;
    zud::CandidateSet left = set;
    for (std::uint64_t p : zud_test::primes_below(static_cast<std::uint64_t>(pmax) + 1)) {
        if (static_cast<std::int64_t>(p) < pmin || p < 3)
            continue;
        std::vector<std::uint64_t> power(static_cast<std::size_t>(set.nmax) + 1);
        power[0] = 1 % p;
        for (std::size_t n = 1; n < power.size(); ++n)
            power[n] = power[n - 1] * 2 % p;
        std::vector<std::string> of_p;
        for (std::int32_t i = 0; i < set.kcount; ++i)
            for (std::int32_t n = set.nmin; n <= set.nmax; ++n)
                if (left.is_candidate(i, n) &&
                    (static_cast<std::uint64_t>(set.k_values[i]) % p * power[n] + 1) % p == 0) {
                    const auto d = static_cast<std::uint32_t>(n - set.nmin);
                    left.bitmap(i)[d / 32] &= ~(1u << (d % 32));
                    of_p.push_back(std::to_string(p) + " | " + std::to_string(set.k_values[i]) + "*2^" +
                                   std::to_string(n) + "+1");
                }
        lines.insert(lines.end(), of_p.begin(), of_p.end());
    }
    return lines;
}

std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

std::vector<std::string> sorted(std::vector<std::string> v)
{
    std::sort(v.begin(), v.end());
    return v;
}

class Worker : public zud_test::TempDirTest {
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        write_file("Zud.dat", test_data("small_Zud.dat"));
        ASSERT_TRUE(zud::read_candidate_file(zud::DataFolder(), run.candidates).ok);
        original = run.candidates;
    }
    void TearDown() override
    {
        zud::set_file_opener(nullptr);
        TempDirTest::TearDown();
    }
    zud::RunRecord run;
    zud::CandidateSet original;
};

TEST_F(Worker, a_whole_range_reports_its_events_and_writes_the_brute_force_factors)
{
    run.pmin = 3001;
    run.pmax = 400000;
    ASSERT_TRUE(zud::write_range_header(zud::DataFolder(), run.pmax, run.pmin).ok);
    const auto began = std::chrono::steady_clock::now();
    const zud_test::RunLog log = zud_test::run_worker(run);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();

    EXPECT_EQ(log.end(), 'C');
    EXPECT_EQ(log.kinds.find_first_not_of("fS"), log.kinds.size() - 1) << log.kinds;
    // Batches, not lines: about ten a second, besides those that precede a
    // progress event.
    EXPECT_LE(log.batch_sizes.size(), 10 * seconds + log.progress.size() + 2);
    EXPECT_LT(log.batch_sizes.size(), log.factors.size() / 4);
    // Progress names the resume point, once as it passes each multiple of
    // 65,536, and never beyond pmax.
    std::int64_t previous = run.pmin;
    for (const zud::RunProgress& progress : log.progress) {
        EXPECT_GT(progress.resume_p >> 16, previous >> 16);
        EXPECT_LE(progress.resume_p, run.pmax);
        EXPECT_GT(progress.share_done, 0.0);
        EXPECT_LE(progress.share_done, 1.0);
        EXPECT_GT(progress.p_per_second, 0.0);
        previous = progress.resume_p;
    }
    EXPECT_GE(log.progress.size(), 1u);
    EXPECT_LE(log.progress.size(), 6u);
    const auto expected = expected_factor_lines(original, run.pmin, run.pmax);
    EXPECT_GT(expected.size(), 50u);
    const auto factors = zud_test::texts_of(log.factors);
    EXPECT_EQ(sorted(factors), sorted(expected));
    const auto status = lines_of(read_file("ZudStatus.dat"));
    ASSERT_EQ(status.size(), expected.size() + 2);
    EXPECT_EQ(std::vector<std::string>(status.begin() + 2, status.end()), factors);
}

TEST_F(Worker, a_stop_ends_with_the_prime_not_sieved_and_a_restart_finds_the_rest)
{
    run.pmin = 3001;
    run.pmax = 400000;
    ASSERT_TRUE(zud::write_range_header(zud::DataFolder(), run.pmax, run.pmin).ok);
    const zud_test::RunLog first = zud_test::run_worker(run, {}, [](char kind, zud::Run& controls) {
        if (kind == 'f')   // the first factor line: a few chunks are done
            controls.stop();
    });
    ASSERT_EQ(first.end(), 's');
    const std::int64_t stopped_at = first.stopped_at;
    EXPECT_GT(stopped_at, 3001);
    EXPECT_LT(stopped_at, 400000);
    EXPECT_TRUE(zud_test::is_prime(static_cast<std::uint64_t>(stopped_at)));

    zud::RunRecord rest;
    ASSERT_TRUE(zud::read_candidate_file(zud::DataFolder(), rest.candidates).ok);
    rest.pmin = stopped_at;
    rest.pmax = run.pmax;
    zud_test::run_worker(rest);
    // The restart reads the same candidate file, so its part is that of a
    // fresh run from the stop.
    auto expected = expected_factor_lines(original, 3001, stopped_at - 1);
    const auto second = expected_factor_lines(original, stopped_at, 400000);
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_EQ(sorted(zud_test::factor_lines(read_file("ZudStatus.dat"))), sorted(expected));
}

int g_refused_opens = 0;

std::FILE* status_busy_for_a_while(const char* path, const char* mode)
{
    if (std::strcmp(path, "ZudStatus.dat") == 0 && mode[0] == 'a' && g_refused_opens < 2) {
        ++g_refused_opens;
        errno = EACCES;
        return nullptr;
    }
    return std::fopen(path, mode);
}

TEST_F(Worker, a_status_file_that_cannot_be_written_holds_the_run_says_so_once_and_loses_nothing)
{
    run.pmin = 3001;
    run.pmax = 60000;
    ASSERT_TRUE(zud::write_range_header(zud::DataFolder(), run.pmax, run.pmin).ok);
    g_refused_opens = 0;
    zud::set_file_opener(status_busy_for_a_while);
    const zud_test::RunLog log = zud_test::run_worker(run);
    zud::set_file_opener(nullptr);
    EXPECT_EQ(g_refused_opens, 2);
    ASSERT_EQ(log.warnings.size(), 1u);
    EXPECT_EQ(log.warnings[0].kind, zud::WarningKind::status_file_unwritable);
    EXPECT_EQ(log.warnings[0].file, "ZudStatus.dat");
    EXPECT_EQ(log.end(), 'C');
    EXPECT_EQ(sorted(zud_test::factor_lines(read_file("ZudStatus.dat"))),
              sorted(expected_factor_lines(original, 3001, 60000)));
}

TEST_F(Worker, a_stop_while_the_file_cannot_be_written_records_nothing_above_the_lost_lines)
{
    run.pmin = 3001;
    run.pmax = 400000;
    ASSERT_TRUE(zud::write_range_header(zud::DataFolder(), run.pmax, run.pmin).ok);
    g_refused_opens = -1000000;   // refused for good
    zud::set_file_opener(status_busy_for_a_while);
    const zud_test::RunLog log = zud_test::run_worker(run, {}, [](char kind, zud::Run& controls) {
        if (kind == 'W')
            controls.stop();
    });
    zud::set_file_opener(nullptr);
    EXPECT_EQ(read_file("ZudStatus.dat"), "pmax=400000\npmin=3001\n");
    ASSERT_EQ(log.end(), 's');
    EXPECT_TRUE(log.factors.empty());   // nothing is shown that is not written
    // The resume point is at or below the first factor not written.
    const auto expected = expected_factor_lines(original, 3001, 400000);
    ASSERT_FALSE(expected.empty());
    EXPECT_LE(log.stopped_at, std::stoll(expected.front()));
}

TEST_F(Worker, a_status_file_deleted_during_the_run_is_written_again_with_its_range_and_goes_on)
{
    run.pmin = 3001;
    run.pmax = 400000;
    ASSERT_TRUE(zud::write_range_header(zud::DataFolder(), run.pmax, run.pmin).ok);
    bool deleted = false;
    const zud_test::RunLog log = zud_test::run_worker(run, {}, [&deleted](char kind, zud::Run&) {
        if (!deleted && kind == 'f')
            deleted = std::remove("ZudStatus.dat") == 0;
    });
    ASSERT_TRUE(deleted);
    EXPECT_EQ(log.end(), 'C');
    ASSERT_EQ(log.warnings.size(), 1u);
    EXPECT_EQ(log.warnings[0].kind, zud::WarningKind::status_file_restored);
    // The header first, then every factor from where the new file begins.
    const std::string status = read_file("ZudStatus.dat");
    ASSERT_EQ(status.rfind("pmax=400000\npmin=", 0), 0u) << status.substr(0, 100);
    const std::int64_t from = std::stoll(status.substr(17));
    EXPECT_EQ(log.warnings[0].p, from);
    std::vector<std::string> expected;
    for (const std::string& line : expected_factor_lines(original, 3001, 400000))
        if (std::stoll(line) >= from)
            expected.push_back(line);
    EXPECT_FALSE(expected.empty());
    EXPECT_EQ(sorted(zud_test::factor_lines(status)), sorted(expected)) << status.substr(0, 60);
}

TEST_F(Worker, a_failed_set_up_is_an_error_with_the_engine_text)
{
    run.pmin = 5;
    run.pmax = 100;
    run.candidates.spacings[0] = 143;
    const zud_test::RunLog log = zud_test::run_worker(run);
    EXPECT_EQ(log.kinds, "E");
    EXPECT_EQ(log.error.kind, zud::RunErrorKind::engine_gave_up);
    EXPECT_EQ(log.error.text, "Cannot reduce gcd value of 143");
}

TEST(ProgressText, scales_and_cuts_the_figure)
{
    EXPECT_EQ(zud::progress_text(999983), "Sieved up to 999983");
    EXPECT_EQ(zud::progress_text(1000003), "Sieved up to 1000003 (1.0 million)");
    EXPECT_EQ(zud::progress_text(3100007), "Sieved up to 3100007 (3.1 million)");
    EXPECT_EQ(zud::progress_text(1299997), "Sieved up to 1299997 (1.2 million)");   // cut, not rounded
    EXPECT_EQ(zud::progress_text(1000000007), "Sieved up to 1000000007 (1.0 billion)");
    EXPECT_EQ(zud::progress_text(999999999989), "Sieved up to 999999999989 (999.9 billion)");
    EXPECT_EQ(zud::progress_text(1000000000039), "Sieved up to 1000000000039 (1.0 trillion)");
    EXPECT_EQ(zud::progress_text(281474976710597), "Sieved up to 281474976710597 (281.4 trillion)");
    EXPECT_EQ(zud::progress_text(4611686018427387847), "Sieved up to 4611686018427387847 (4611686.0 trillion)");
}

std::atomic<std::int64_t> g_now{1000000};

std::int64_t clock_of_long_hours()
{
    return g_now.fetch_add(4000);
}

TEST_F(Worker, checkpoints_never_pass_a_factor_that_is_not_yet_written)
{
    run.pmin = 3001;
    run.pmax = 400000;
    zud::RunSettings settings;
    settings.clock = clock_of_long_hours;   // every commit is an hour later
    ASSERT_TRUE(zud::write_range_header(zud::DataFolder(), run.pmax, run.pmin).ok);
    const zud_test::RunLog log = zud_test::run_worker(run, settings);
    std::int64_t written_up_to = 0;   // resume points must not pass later factor lines
    std::vector<std::int64_t> checkpoints;
    std::vector<std::string> factors;
    const auto lines = lines_of(read_file("ZudStatus.dat"));
    for (const std::string& line : std::vector<std::string>(lines.begin() + 2, lines.end())) {
        if (line.rfind("pmin=", 0) == 0) {
            checkpoints.push_back(std::stoll(line.substr(5)));
            EXPECT_GT(checkpoints.back(), written_up_to);
            continue;
        }
        const std::int64_t p = std::stoll(line);
        if (!checkpoints.empty()) {
            EXPECT_GE(p, checkpoints.back()) << line;
        }
        written_up_to = p;
        factors.push_back(line);
    }
    EXPECT_GE(checkpoints.size(), 2u);
    EXPECT_EQ(log.checkpoints, checkpoints);
    EXPECT_EQ(sorted(factors), sorted(expected_factor_lines(original, 3001, 400000)));
}

// A front end's checkpoint (a BOINC client's) is written at the next
// progress point, after every line below it, and told before the progress.
TEST_F(Worker, a_checkpoint_asked_for_comes_at_the_next_progress_after_the_lines_below_it)
{
    run.pmin = 3001;
    run.pmax = 400000;
    ASSERT_TRUE(zud::write_range_header(zud::DataFolder(), run.pmax, run.pmin).ok);
    bool asked = false;
    const zud_test::RunLog log = zud_test::run_worker(run, {}, [&asked](char kind, zud::Run& controls) {
        if (kind == 'f' && !asked) {
            asked = true;
            controls.checkpoint_now();
        }
    });
    ASSERT_EQ(log.end(), 'C');
    ASSERT_EQ(log.checkpoints.size(), 1u);
    const std::size_t told = log.kinds.find('P');
    ASSERT_LT(told + 1, log.kinds.size());
    EXPECT_EQ(log.kinds[told + 1], 'S');
    const std::int64_t at = log.checkpoints[0];
    EXPECT_EQ(std::count_if(log.progress.begin(), log.progress.end(),
                            [at](const zud::RunProgress& p) { return p.resume_p == at; }),
              1);
    const std::string text = read_file("ZudStatus.dat");
    const std::size_t line = text.find("pmin=" + std::to_string(at) + "\n");
    ASSERT_NE(line, std::string::npos) << text;
    for (const std::string& factor : zud_test::factor_lines(text.substr(0, line)))
        EXPECT_LT(std::stoll(factor), at);
    for (const std::string& factor : zud_test::factor_lines(text.substr(line)))
        EXPECT_GE(std::stoll(factor), at);
}

}  // namespace

namespace {

std::string dense_candidates()
{
    return zud_test::dense_candidates(3000);
}

class Workers : public zud_test::TempDirTest {
protected:
    // The status file's text after a run of [pmin, pmax] with `workers`
    // threads, stopped at the first factor line and resumed when `stop`.
    std::string status_of(const std::string& candidates, std::int64_t pmin, std::int64_t pmax, int workers,
                          bool stop)
    {
        write_file("ZudStatus.dat", "pmax=" + std::to_string(pmax) + "\npmin=" + std::to_string(pmin) + "\n");
        write_file("Zud.dat", candidates);
        zud::RunRecord run;
        EXPECT_TRUE(zud::read_candidate_file(zud::DataFolder(), run.candidates).ok);
        run.pmin = pmin;
        run.pmax = pmax;
        zud::RunSettings settings;
        settings.workers = workers;
        const zud_test::RunLog log = zud_test::run_worker(run, settings, [stop](char kind, zud::Run& controls) {
            if (stop && kind == 'f')
                controls.stop();
        });
        if (log.end() == 'C')
            return read_file("ZudStatus.dat");
        EXPECT_TRUE(stop);
        // A Start: the file's factors leave the candidates, the run resumes.
        zud::RunRecord rest;
        EXPECT_TRUE(zud::read_candidate_file(zud::DataFolder(), rest.candidates).ok);
        bool echo = false;
        const zud::StatusRead recorded = zud::read_status_file(zud::DataFolder(), echo, {});
        rest.candidates.remove(recorded.factors);
        rest.pmin = log.stopped_at;
        rest.pmax = pmax;
        EXPECT_EQ(zud_test::run_worker(rest, settings).end(), 'C');
        return read_file("ZudStatus.dat");
    }
};

// Stopped again and again, each time resumed from what the status file
// records: every prime is sieved once, and the factors are those of one
// whole run. With fifty k nearly every prime has a factor line, so a
// resume point one prime too high loses lines.
TEST_F(Workers, stops_resume_from_their_record_at_the_first_prime_not_sieved)
{
    const std::int64_t pmin = 3001, pmax = 100000;
    std::vector<int> ks;
    for (int k = 3; k < 203; k += 2)
        ks.push_back(k);
    const std::vector<std::string> whole =
        zud_test::factor_lines(status_of(zud_test::dense_candidates(4000, ks), pmin, pmax, 2, false));
    const auto below = [&whole](std::int64_t p) {
        std::vector<std::string> lines;
        for (const std::string& line : whole)
            if (std::stoll(line) < p)
                lines.push_back(line);
        return lines;
    };
    ASSERT_TRUE(zud::write_range_header(zud::DataFolder(), pmax, pmin).ok);
    zud::RunSettings settings;
    settings.workers = 2;
    for (int start = 0; start < 12; ++start) {
        zud::RunRecord run;
        ASSERT_TRUE(zud::read_candidate_file(zud::DataFolder(), run.candidates).ok);
        bool echo = false;
        const zud::StatusRead recorded = zud::read_status_file(zud::DataFolder(), echo, {});
        ASSERT_FALSE(recorded.unusable) << recorded.damage;
        if (recorded.completed)
            break;
        // The file holds exactly what one whole run finds below its resume point.
        EXPECT_EQ(zud_test::factor_lines(read_file("ZudStatus.dat")), below(recorded.pmin))
            << "resumed at " << recorded.pmin;
        run.candidates.remove(recorded.factors);
        run.pmin = recorded.pmin;
        run.pmax = pmax;
        // Every other run is stopped before it sieves a prime, the others
        // at their first factor lines: either way the record names the
        // first prime not sieved.
        zud_test::RunLog log;
        zud_test::RunCapture capture(log, [start](char kind, zud::Run& controls) {
            if (kind == 'f' && start < 10)
                controls.stop();
        });
        zud::Run controls(run, capture, settings);
        capture.attach(controls);
        if (start < 10 && start % 2 == 0)
            controls.stop();
        controls.run_here();
        if (log.end() == 's')
            ASSERT_TRUE(controls.record_stop(log.stopped_at).ok);
        else
            ASSERT_TRUE(controls.record_done().ok);
    }
    bool echo = false;
    EXPECT_TRUE(zud::read_status_file(zud::DataFolder(), echo, {}).completed);
    EXPECT_EQ(zud_test::factor_lines(read_file("ZudStatus.dat")), whole);
}

TEST_F(Workers, any_number_of_workers_writes_what_one_writes)
{
    const std::string small = test_data("small_Zud.dat");
    const std::string dense = dense_candidates();
    const std::string one_small = status_of(small, 3001, 2000000, 1, false);
    const std::string one_dense = status_of(dense, 3, 400000, 1, false);
    EXPECT_GT(lines_of(one_small).size(), 100u);
    EXPECT_GT(lines_of(one_dense).size(), 5000u);
    for (int workers : {1, 2, 3}) {
        EXPECT_EQ(status_of(small, 3001, 2000000, workers, false), one_small) << workers;
        EXPECT_EQ(status_of(dense, 3, 400000, workers, false), one_dense) << workers;
        EXPECT_EQ(status_of(small, 3001, 2000000, workers, true), one_small) << workers << " stopped";
        EXPECT_EQ(status_of(dense, 3, 400000, workers, true), one_dense) << workers << " stopped";
    }
}

TEST_F(Workers, an_initial_creation_leaves_the_same_candidates_with_any_number_of_workers)
{
    write_file("Zud.dat", dense_candidates());
    std::vector<std::uint32_t> bits[2];
    for (int workers : {1, 2}) {
        zud::RunRecord run;
        ASSERT_TRUE(zud::read_candidate_file(zud::DataFolder(), run.candidates).ok);
        run.candidates.fill_all();
        run.pmin = 0;
        run.pmax = 3000000;
        zud::RunSettings settings;
        settings.workers = workers;
        EXPECT_EQ(zud_test::run_worker(run, settings).end(), 'C');
        bits[workers - 1] = run.candidates.bits;
    }
    EXPECT_EQ(bits[0], bits[1]);
    EXPECT_LT(std::count(bits[0].begin(), bits[0].end(), 0u), static_cast<long>(bits[0].size()));
}

TEST_F(Workers, chunks_tile_the_range_exactly_once)
{
    for (int workers : {1, 2, 5, 8}) {
        for (std::int64_t pmax : {std::int64_t{10}, std::int64_t{4096}, std::int64_t{1} << 20}) {
            zud::ChunkScheduler scheduler(3, pmax, workers);
            std::int64_t expected_lo = 3, lo = 0, hi = 0;
            int chunks = 0;
            while (scheduler.next(lo, hi)) {
                EXPECT_EQ(lo, expected_lo);
                EXPECT_LE(lo, hi);
                expected_lo = hi + 1;
                scheduler.record(hi - lo + 1, 0.001 * (++chunks % 3));
            }
            EXPECT_EQ(expected_lo, pmax + 1);
        }
    }
    // A status file's pmax far beyond the primes: no end overflows.
    zud::ChunkScheduler scheduler((std::int64_t{1} << 62) - 100, INT64_MAX, 2);
    std::int64_t lo = 0, hi = 0, last = 0;
    while (scheduler.next(lo, hi)) {
        EXPECT_GT(hi, last);
        last = hi;
    }
    EXPECT_EQ(last, std::int64_t{1} << 62);
}

}  // namespace
