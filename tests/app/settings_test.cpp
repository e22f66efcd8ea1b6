#include "app/settings.h"

#include <gtest/gtest.h>

#include "temp_dir.h"
#include "app/range_entry.h"
#include "app/rate_display.h"

namespace {

TEST(AlphaDialog, accepts_and_rejects_the_documented_entries)
{
    for (const char* rejected : {"0.009", "10", "abc", "2.5x", "2.5 ", "", "9.991", "0x1p0", "inf", "nan", "."})
        EXPECT_FALSE(zud::accept_alpha(rejected).has_value()) << "'" << rejected << "'";
    EXPECT_EQ(zud::accept_alpha(" 2.5"), 2.5);
    EXPECT_EQ(zud::accept_alpha("0.01"), 0.01);
    EXPECT_EQ(zud::accept_alpha("9.99"), 9.99);
    EXPECT_EQ(zud::accept_alpha("1e0"), 1.0);
    EXPECT_EQ(zud::accept_alpha("+.5"), 0.5);
    // The field shows three decimals; OK without an edit keeps that value.
    EXPECT_EQ(zud::accept_alpha(zud::format_alpha(2.5004)), 2.5);
    EXPECT_EQ(zud::format_alpha(10), "10.000");
    EXPECT_FALSE(zud::accept_alpha(zud::format_alpha(10)).has_value());
}

class ProfileFile : public zud_test::TempDirTest {};

TEST_F(ProfileFile, values_and_their_validity)
{
    auto profile = zud::open_ini_profile(dir_ + "/cfg/zudsieve.ini");
    EXPECT_EQ(zud::alpha_from_profile(*profile), 2.5);
    EXPECT_EQ(zud::status_choice_from_profile(*profile), 0);
    EXPECT_EQ(zud::priority_from_profile(*profile), zud::PriorityClass::normal);
    const std::pair<const char*, double> alphas[] = {{"0.05", 2.5}, {"10.5", 2.5}, {"0.1", 0.1}, {"10", 10}, {"x", 2.5},
                                                   {"nan", 2.5}, {"inf", 2.5}, {"-nan", 2.5}};
    for (auto [text, alpha] : alphas) {
        profile->set_string("factor", text);
        EXPECT_EQ(zud::alpha_from_profile(*profile), alpha) << text;
    }
    const std::pair<const char*, zud::PriorityClass> priorities[] = {
        {"High", zud::PriorityClass::high}, {"high", zud::PriorityClass::normal}, {"Idle", zud::PriorityClass::idle}};
    for (auto [text, cls] : priorities) {
        profile->set_string("priority", text);
        EXPECT_EQ(zud::priority_from_profile(*profile), cls) << text;
    }
    for (int bad : {-1, 7}) {
        profile->set_int("statusval", bad);
        EXPECT_EQ(zud::status_choice_from_profile(*profile), 0);
    }
}

TEST_F(ProfileFile, saves_the_params_section_and_keeps_the_rest)
{
    write_file("zudsieve.ini", "[other]\nkey=value\n[params]\npriority=H\nfactor=1.000\n");
    auto profile = zud::open_ini_profile(dir_ + "/zudsieve.ini");
    EXPECT_EQ(zud::priority_from_profile(*profile), zud::PriorityClass::high);
    zud::save_settings(*profile, 2.5, 1, zud::PriorityClass::idle);
    const std::string text = read_file("zudsieve.ini");
    EXPECT_NE(text.find("[other]\nkey=value\n"), std::string::npos) << text;
    EXPECT_NE(text.find("factor=2.500\n"), std::string::npos) << text;
    EXPECT_NE(text.find("priority=I\n"), std::string::npos) << text;
    EXPECT_NE(text.find("statusval=1\n"), std::string::npos) << text;
    auto again = zud::open_ini_profile(dir_ + "/zudsieve.ini");
    EXPECT_EQ(zud::alpha_from_profile(*again), 2.5);
    EXPECT_EQ(zud::status_choice_from_profile(*again), 1);
}

// Window and console read and write the profile through one reader/writer;
// a profile the window wrote with its earlier toolkit reader/writer, or the
// console with its raw one, reads as it was meant.
TEST_F(ProfileFile, folder_paths_round_trip_and_both_earlier_forms_read_as_meant)
{
    const std::string paths[] = {"/home/a b/sieve", "/d/one,two;three", "/d/back\\slash\\", "/d/k=v", "/d/Zähler ∑ ü",
                                 " /d/blank at both ends ", "/d/\"quoted\"", "/d/\\\\two\\t", "@/d/at",
                                 "/d/tab\tab\t1", "/a b,c\\d=e/Zähler"};
    for (const std::string& path : paths) {
        auto writer = zud::open_ini_profile(dir_ + "/zudsieve.ini");
        writer->set_string("folder", path);
        writer->set_int("workers", 3);
        ASSERT_TRUE(writer->save());
        auto reader = zud::open_ini_profile(dir_ + "/zudsieve.ini");
        EXPECT_EQ(reader->get_string("folder", ""), path) << read_file("zudsieve.ini");
        EXPECT_EQ(reader->get_int("workers", 0), 3);
    }
    // Values that need nothing are written as they are, the rest as the
    // window's earlier profile wrote them, so that it can read them too.
    auto writer = zud::open_ini_profile(dir_ + "/zudsieve.ini");
    writer->set_string("folder", "/a b,c\\d=e/Zähler");
    writer->set_string("window", "10 20 300 200 max");
    writer->set_string("other", "C:\\dir\\sub");
    writer->save();
    EXPECT_EQ(read_file("zudsieve.ini"), "[params]\nfolder=\"/a b,c\\\\d=e/Zähler\"\nother=C:\\\\dir\\\\sub\n"
                                         "window=10 20 300 200 max\nworkers=3\n");

    // As the window wrote them (quoted, escaped, UTF-8, "@" doubled), and as
    // the console wrote them (as they are, a lone backslash included).
    write_file("zudsieve.ini", "[General]\nx=1\n\n[params]\n"
                               "folder=\"/home/a b/x,y\\\\z=w/Z\xc3\xa4hler \xe2\x88\x91\"\n"
                               "a=C:\\\\dir\\\\sub\nb=@@at\nc=\" lead\"\nd=\"q\\\"uote;semi\"\ne=\"tab\\there\"\n"
                               "f=/console/a,b\ng=/console/back\\slash\\d\nh=/x/\xc3\xbc\n");
    auto old = zud::open_ini_profile(dir_ + "/zudsieve.ini");
    EXPECT_EQ(old->get_string("folder", ""), "/home/a b/x,y\\z=w/Zähler ∑");
    EXPECT_EQ(old->get_string("a", ""), "C:\\dir\\sub");
    EXPECT_EQ(old->get_string("b", ""), "@at");
    EXPECT_EQ(old->get_string("c", ""), " lead");
    EXPECT_EQ(old->get_string("d", ""), "q\"uote;semi");
    EXPECT_EQ(old->get_string("e", ""), "tab\there");
    EXPECT_EQ(old->get_string("f", ""), "/console/a,b");
    EXPECT_EQ(old->get_string("g", ""), "/console/back\\slash\\d");
    EXPECT_EQ(old->get_string("h", ""), "/x/ü");
    old->save();
    EXPECT_EQ(read_file("zudsieve.ini").substr(0, 16), "[General]\nx=1\n\n[") << read_file("zudsieve.ini");

    // Open in the window and in a console at once: each writes its own
    // choices and keeps the other's.
    auto window = zud::open_ini_profile(dir_ + "/zudsieve.ini");
    auto console = zud::open_ini_profile(dir_ + "/zudsieve.ini");
    window->set_string("window", "1 2 300 400");
    ASSERT_TRUE(window->save());
    console->set_string("folder", "/new, folder");
    ASSERT_TRUE(console->save());
    window->set_int("start_hidden", 1);
    ASSERT_TRUE(window->save());
    auto both = zud::open_ini_profile(dir_ + "/zudsieve.ini");
    EXPECT_EQ(both->get_string("window", ""), "1 2 300 400");
    EXPECT_EQ(both->get_string("folder", ""), "/new, folder");
    EXPECT_EQ(both->get_int("start_hidden", 0), 1);
    EXPECT_EQ(both->get_string("a", ""), "C:\\dir\\sub");
}

TEST(RangeEntry, rejections_go_to_the_offending_field)
{
    using V = zud::RangeCheck::Verdict;
    const std::tuple<const char*, const char*, V> cases[] = {
        {"", "", V::focus_lower},         {"3", "3", V::focus_upper},
        {"10", "5", V::focus_upper},      {"-1", "5", V::focus_lower},
        {"99999999999", "5", V::focus_lower},   // times 10^9 overflows
        {"1", "99999999999", V::focus_upper},   {"1", "4611686019", V::focus_upper},
        {"1", "99999999999999999999999", V::focus_upper},
    };
    for (auto [lower, upper, verdict] : cases)
        EXPECT_EQ(zud::check_range_entry(lower, upper).verdict, verdict) << lower << " " << upper;
}

TEST(RangeEntry, confirmation_in_words)
{
    auto check = zud::check_range_entry("0", "1");
    ASSERT_EQ(check.verdict, zud::RangeCheck::Verdict::confirm);
    EXPECT_EQ(check.pmin, 0);
    EXPECT_EQ(check.pmax, 1000000000);
    EXPECT_EQ(check.question, "You are sieving from p=0 (0) to p=1000000000 (1 billion) - are you sure?\r\n\r\nA "
                              "lower end of 0 creates a new 'Zud.dat' from scratch, with every n of the range as a "
                              "candidate; the present 'Zud.dat' is kept as 'Zud.dat~'.");
    check = zud::check_range_entry("999", "12345");
    EXPECT_EQ(check.question,
              "You are sieving from p=999000000000 (999 billion) to p=12345000000000 (12.345 trillion) - are you sure?");
    EXPECT_EQ(zud::value_in_words(1000000000000), "1.000 trillion");
    EXPECT_EQ(zud::check_range_entry("5", "281474").verdict, zud::RangeCheck::Verdict::confirm);
}

TEST(RangeEntry, the_upper_end_reaches_4611686018_billion_and_not_one_more)
{
    auto check = zud::check_range_entry("281474", "4611686018");
    ASSERT_EQ(check.verdict, zud::RangeCheck::Verdict::confirm);
    EXPECT_EQ(check.pmax, 4611686018000000000);   // below 2^62 - 1 = 4611686018427387903
    EXPECT_EQ(check.question, "You are sieving from p=281474000000000 (281.474 trillion) to p=4611686018000000000 "
                              "(4611686.018 trillion) - are you sure?");
    EXPECT_EQ(zud::check_range_entry("281474", "4611686019").verdict, zud::RangeCheck::Verdict::focus_upper);
    EXPECT_EQ(zud::check_range_entry("4611686018", "4611686019").verdict, zud::RangeCheck::Verdict::focus_upper);
    EXPECT_EQ(zud::range_line(4611686017000000000, 4611686018000000000),
              "p=4,611,686,017,000,000,000 to p=4,611,686,018,000,000,000");
}

TEST(RangeLine, commas_every_three_digits)
{
    EXPECT_EQ(zud::range_line(1000000000, 2000000000), "p=1,000,000,000 to p=2,000,000,000");
    EXPECT_EQ(zud::range_line(999, 1000), "p=999 to p=1,000");
    EXPECT_EQ(zud::with_commas(0), "0");
}

TEST(RateDisplay, p_rate_and_factor_rate)
{
    zud::RateDisplay rate;
    rate.reset();
    rate.on_progress(1000000, 0);
    EXPECT_EQ(rate.rate_text(), "Rate: ");
    rate.on_progress(1065536, 2000);
    EXPECT_EQ(rate.rate_text(), "Rate: 32,768 p/sec");
    // 12 k values, 100 seconds between the first and the fifth factor line.
    for (int i = 0; i < 5; ++i)
        rate.on_factor(i, 12, 5000 + i * 25000);
    EXPECT_EQ(rate.rate_text(), "Rate: 32,768 p/sec; 300 sec/n/k");
    // A new run keeps the old texts until each window's first sample.
    rate.reset();
    rate.on_progress(2000000, 200000);
    EXPECT_EQ(rate.rate_text(), "Rate: 300 sec/n/k");
}

TEST(RateDisplay, the_same_clock_reading_twice_shows_no_nonsense)
{
    zud::RateDisplay rate;
    rate.reset();
    rate.on_progress(1000000, 500);
    rate.on_progress(1065536, 500);
    EXPECT_EQ(rate.rate_text(), "Rate: ");
    rate.on_progress(1131072, 1500);
    EXPECT_EQ(rate.rate_text(), "Rate: 131,072 p/sec");
    rate.on_progress(1196608, 1500);   // still measured from the first sample
    EXPECT_EQ(rate.rate_text(), "Rate: 196,608 p/sec");
}

TEST(RateDisplay, a_full_window_spans_the_last_99_intervals)
{
    zud::RateDisplay rate;
    rate.reset();
    // 1 p per ms for the first 100 samples, then 2 p per ms.
    std::int64_t p = 0;
    std::int32_t t = 0;
    for (int i = 0; i < 100; ++i, t += 1000, p += 1000)
        rate.on_progress(p, t);
    EXPECT_EQ(rate.rate_text(), "Rate: 1,000 p/sec");
    for (int i = 0; i < 100; ++i, t += 1000, p += 2000)
        rate.on_progress(p, t);
    EXPECT_EQ(rate.rate_text(), "Rate: 2,000 p/sec");
}

}  // namespace
