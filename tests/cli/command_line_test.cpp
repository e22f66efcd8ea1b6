// The command line, the range rules with their reasons, and the parts that
// answer for the command line and name the data folder.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "run/worker_count.h"
#include "scripted_box.h"
#include "temp_dir.h"
#include "cli/command_line.h"
#include "app/range_entry.h"
#include "app/window_fixture.h"

namespace {

using zud::CommandLine;

CommandLine parse(std::vector<std::string> args, int processors = 4)
{
    return zud::parse_command_line(args, processors);
}

TEST(CommandLine, options_and_the_folder)
{
    const CommandLine line = parse({"--console", "--workers", "3", "--range", "3e9", "4000000000", "--yes", "data"});
    EXPECT_EQ(line.action, CommandLine::Action::run);
    EXPECT_TRUE(line.console);
    EXPECT_EQ(line.folder, "data");
    EXPECT_TRUE(line.start.folder_given);
    EXPECT_EQ(line.start.workers, 3);
    EXPECT_TRUE(line.start.has_range);
    EXPECT_EQ(line.start.pmin, 3000000000);
    EXPECT_EQ(line.start.pmax, 4000000000);
    EXPECT_TRUE(line.start.yes);
    EXPECT_EQ(parse({}).start.workers, 0);
    EXPECT_EQ(parse({"--help", "--bogus"}).action, CommandLine::Action::help);
    EXPECT_EQ(parse({"--version"}).action, CommandLine::Action::version);
    EXPECT_EQ(parse({"-V"}).action, CommandLine::Action::version);
    EXPECT_EQ(parse({"-h"}).action, CommandLine::Action::help);
    // Values attached with '='; after "--" a folder may look like an option.
    const CommandLine attached = parse({"--workers=2", "--range=3e9", "4e9", "--", "-data"});
    EXPECT_EQ(attached.action, CommandLine::Action::run);
    EXPECT_EQ(attached.start.workers, 2);
    EXPECT_EQ(attached.start.pmax, 4000000000);
    EXPECT_EQ(attached.folder, "-data");
    EXPECT_EQ(parse({"--", "--help"}).folder, "--help");
    EXPECT_EQ(parse({"--stop-seconds=2.5"}).start.stop_seconds, 2.5);
}

TEST(CommandLine, refusals_say_what_was_wrong)
{
    const std::pair<std::vector<std::string>, std::string> refused[] = {
        {{"--bogus"}, "unknown option '--bogus'"},
        {{"-x"}, "unknown option '-x'"},
        {{"--console=yes"}, "the option '--console' takes no value"},
        {{"--", "a", "b"}, "only one folder may be given"},
        {{"--workers", "--", "2"}, "--workers needs a number from 1 to 4"},
        {{"a", "b"}, "only one folder may be given"},
        {{"--workers"}, "--workers needs a number from 1 to 4"},
        {{"--range", "1"}, "--range needs two values, FROM and TO"},
        {{"--range", "1e9x", "2e9"}, "--range: the lower end '1e9x' is refused: digits or an exponent form such as 3e9"},
        {{"--range", "1e9", "-2"}, "--range: the upper end '-2' is refused: digits or an exponent form such as 3e9"},
        {{"--range", "5e9", "5e9"}, "--range: the upper end is refused: more than the lower end"},
        {{"--range", "0", "0"}, "--range: the upper end is refused: more than 0"},
        {{"--range", "1e9", "5e18"}, "--range: the upper end is refused: at most 4,611,686,018 billion"},
        {{"--range", "3", "1e5", "--range", "0", "1e6"}, "--range may be given only once"},
        {{"--workers", "2", "--console", "--workers", "2"}, "--workers may be given only once"},
        {{"--stop-seconds", "0"}, "--stop-seconds needs a number of seconds above 0, the time one primality test takes"},
        {{"--stop-seconds", "1e3"}, "--stop-seconds needs a number of seconds above 0, the time one primality test takes"},
    };
    for (const auto& [args, error] : refused) {
        const CommandLine line = parse(args);
        EXPECT_EQ(line.action, CommandLine::Action::refused) << args[0];
        EXPECT_EQ(line.error, error);
    }
    EXPECT_NE(zud::help_text().find("--workers N"), std::string::npos);
    EXPECT_EQ(zud::usage_text().rfind("Usage: zudsieve", 0), 0u);
    // A worker count out of range is set aside for the Workers setting, with a word.
    for (const char* bad : {"5", "2x"}) {
        const CommandLine line = parse({"--workers", bad, "--console"});
        EXPECT_EQ(line.action, CommandLine::Action::run) << bad;
        EXPECT_TRUE(line.console);
        EXPECT_EQ(line.start.workers, 0);
        EXPECT_EQ(line.warning,
                  std::string("--workers needs a number from 1 to 4, not '") + bad + "': the Workers setting is used");
    }
    EXPECT_GE(zud::default_worker_count(), 1);
    // 0 workers: the OpenCL device alone (main sets it aside without a device).
    const CommandLine alone = parse({"--workers", "0", "--device", "1"});
    EXPECT_EQ(alone.action, CommandLine::Action::run);
    EXPECT_TRUE(alone.start.device_alone);
    EXPECT_EQ(alone.start.device, 1);
    EXPECT_EQ(alone.start.workers, 0);
    EXPECT_EQ(alone.warning, "");
    EXPECT_EQ(parse({"--device", "x"}).error,
              "--device needs the number of an OpenCL device, as --list-devices shows them");
    EXPECT_EQ(parse({"--list-devices"}).action, CommandLine::Action::list_devices);
}

TEST(PValue, digits_and_exponent_forms)
{
    std::int64_t v = 0;
    const std::pair<const char*, std::int64_t> good[] = {
        {"3e9", 3000000000},        {"1.5e12", 1500000000000}, {"1.5E+12", 1500000000000},
        {"3000000000", 3000000000}, {"0", 0},                  {"2.50e1", 25},
        {"9223372036854775807", INT64_MAX}};
    for (auto [text, value] : good) {
        ASSERT_TRUE(zud::parse_p_value(text, v)) << text;
        EXPECT_EQ(v, value) << text;
    }
    for (const char* bad : {"", "e9", "1.5", "1.25e1", "3e", "3e-2", "-3", "+3", " 3", "3 ", "1e19", "9223372036854775808",
                            "1e99999999999999999999", "0x10", "3e9x"})
        EXPECT_FALSE(zud::parse_p_value(bad, v)) << bad;
}

TEST(RangeEntry, a_refusal_carries_its_reason)
{
    const std::tuple<const char*, const char*, zud::RangeCheck::Verdict, const char*> cases[] = {
        {"-1", "5", zud::RangeCheck::Verdict::focus_lower, "at least 0"},
        {"99999999999", "5", zud::RangeCheck::Verdict::focus_lower, "at most 4,611,686,018 billion"},
        {"1", "0", zud::RangeCheck::Verdict::focus_upper, "more than 0"},
        {"10", "5", zud::RangeCheck::Verdict::focus_upper, "more than the lower end"},
        {"1", "4611686019", zud::RangeCheck::Verdict::focus_upper, "at most 4,611,686,018 billion"},
        {"1", "99999999999", zud::RangeCheck::Verdict::focus_upper, "at most 4,611,686,018 billion"},
        {"1", "4611686018", zud::RangeCheck::Verdict::confirm, ""},
    };
    for (auto [lower, upper, verdict, reason] : cases) {
        const zud::RangeCheck check = zud::check_range_entry(lower, upper);
        EXPECT_EQ(check.verdict, verdict) << lower << " " << upper;
        EXPECT_EQ(check.reason, reason) << lower << " " << upper;
    }
    // Only whole billions in digits: nothing typed is read as something else.
    const std::tuple<const char*, const char*> refused[] = {
        {"abc", "digits only (whole billions)"},   {"1.5", "whole billions only: no . or ,"},
        {"1,5", "whole billions only: no . or ,"}, {"1e3", "whole billions only: no exponent"},
        {"", "empty: type whole billions"},         {"  ", "empty: type whole billions"},
        {"+5", "digits only (whole billions)"},    {"5 0", "digits only (whole billions)"},
    };
    for (auto [entry, reason] : refused) {
        zud::RangeCheck check = zud::check_range_entry(entry, "5");
        EXPECT_EQ(check.verdict, zud::RangeCheck::Verdict::focus_lower) << entry;
        EXPECT_EQ(check.reason, reason) << entry;
        check = zud::check_range_entry("1", entry);
        EXPECT_EQ(check.verdict, zud::RangeCheck::Verdict::focus_upper) << entry;
        EXPECT_EQ(check.reason, reason) << entry;
    }
    // 0 only when typed, and its question says what it does to the files.
    const zud::RangeCheck zero = zud::check_range_entry(" 0 ", "2");
    EXPECT_EQ(zero.verdict, zud::RangeCheck::Verdict::confirm);
    EXPECT_EQ(zero.pmin, 0);
    EXPECT_NE(zero.question.find("creates a new 'Zud.dat' from scratch"), std::string::npos);
    EXPECT_EQ(zud::check_range_entry("1", "2").question.find("from scratch"), std::string::npos);
    // Plain p values need not be whole billions.
    const zud::RangeCheck check = zud::check_range_values(3001, 400000);
    EXPECT_EQ(check.verdict, zud::RangeCheck::Verdict::confirm);
    EXPECT_EQ(zud::check_range_values(1, 4611686018000000001).reason, "at most 4,611,686,018 billion");
}

class DataFolder : public zud_test::TempDirTest {
protected:
    struct Chooser : zud::FolderChooser {
        std::optional<std::string> choose(const std::string& start) override
        {
            asked_from = start;
            ++asked;
            return answer;
        }
        std::optional<std::string> answer;
        std::string asked_from;
        int asked = 0;
    };
    Chooser chooser;
    zud_test::MemoryProfile profile;
};

TEST_F(DataFolder, stays_remembers_asks_and_names_the_folder_in_messages)
{
    ::mkdir("empty", 0755);
    ::mkdir("data", 0755);
    write_file("data/Zud.dat", "x");
    const std::string data = dir_ + "/data";

    // Started in the data folder: stays, asks nothing.
    ASSERT_EQ(::chdir("data"), 0);
    EXPECT_EQ(zud::settle_data_folder(profile, &chooser).shown(), data);
    EXPECT_EQ(chooser.asked, 0);

    // Started elsewhere with nothing remembered: asks, goes there, remembers.
    ASSERT_EQ(::chdir("../empty"), 0);
    chooser.answer = data;
    const zud::DataFolder chosen = zud::settle_data_folder(profile, &chooser);
    EXPECT_EQ(chosen.shown(), data);
    EXPECT_EQ(chosen.candidate_file(), data + "/Zud.dat");
    EXPECT_EQ(chooser.asked, 1);
    EXPECT_EQ(chooser.asked_from, dir_ + "/empty");
    EXPECT_EQ(zud::current_folder(), dir_ + "/empty");   // the program never changes its folder
    EXPECT_EQ(profile.values["folder"], data);
    EXPECT_EQ(profile.saves, 1);

    // Next time it goes there without asking.
    EXPECT_EQ(zud::settle_data_folder(profile, &chooser).shown(), data);
    EXPECT_EQ(chooser.asked, 1);

    // A cancelled chooser, or none (the console), stays where it was.
    profile.values.clear();
    chooser.answer.reset();
    EXPECT_EQ(zud::settle_data_folder(profile, &chooser).shown(), dir_ + "/empty");
    EXPECT_EQ(zud::settle_data_folder(profile, nullptr).shown(), dir_ + "/empty");
    EXPECT_EQ(chooser.asked, 2);

    // Messages naming a data file name the folder: in place of "the current
    // directory", else on a line of its own.
    zud_test::ScriptedBox inner;
    zud::FolderNamingBox box(inner);
    box.warn("The file 'Zud.dat' cannot be found in the current directory!");
    box.warn("The file 'ZudStatus.dat' could not be written (No space left on device)!");
    box.inform("This software requires the CMOV instructions, found on PII and later processors. Sorry.");
    EXPECT_EQ(inner.shown[0].text, "The file 'Zud.dat' cannot be found in the folder '" + dir_ + "/empty'!");
    EXPECT_EQ(inner.shown[1].text.substr(inner.shown[1].text.size() - dir_.size() - 11), "!\r\n\r\n" + dir_ + "/empty");
    EXPECT_EQ(inner.shown[2].text, "This software requires the CMOV instructions, found on PII and later processors. Sorry.");
}

TEST(AnswerHandedOver, answers_the_first_completed_results_question_only)
{
    const std::string question = "There is a complete set of results in the file 'ZudStatus.dat' - have these been "
                                 "sent to the Zud team?";
    zud_test::ScriptedBox inner;
    std::string noted;
    zud::AnswerHandedOver box(inner, true, [&](const std::string& text) { noted = text; });
    EXPECT_EQ(box.show("Stop?", zud::BoxIcon::question, zud::BoxButtons::yes_no, zud::BoxAnswer::no), zud::BoxAnswer::no);
    // Its words alone are not the question.
    EXPECT_EQ(box.show(question, zud::BoxIcon::question, zud::BoxButtons::yes_no, zud::BoxAnswer::no),
              zud::BoxAnswer::no);
    const auto ask = [&](zud::MessageBox& asked) {
        return asked.ask(zud::BoxQuestion::results_handed_over, question, zud::BoxIcon::question,
                         zud::BoxButtons::yes_no, zud::BoxAnswer::no);
    };
    EXPECT_EQ(ask(box), zud::BoxAnswer::yes);
    EXPECT_EQ(noted, question);
    EXPECT_EQ(ask(box), zud::BoxAnswer::no);
    EXPECT_EQ(inner.shown.size(), 3u);
    zud::AnswerHandedOver off(inner, false);
    EXPECT_EQ(ask(off), zud::BoxAnswer::no);
    // Under the box that names the folder, it is told the question as shown.
    zud::AnswerHandedOver again(inner, true, [&](const std::string& text) { noted = text; });
    zud::FolderNamingBox naming(again);
    EXPECT_EQ(ask(naming), zud::BoxAnswer::yes);
    EXPECT_EQ(noted.compare(0, question.size() + 4, question + "\r\n\r\n"), 0) << noted;
    EXPECT_GT(noted.size(), question.size() + 4);
    EXPECT_EQ(inner.shown.size(), 4u);
}

TEST(PresetRange, the_first_asking_run_takes_the_command_line_range)
{
    zud_test::ScriptedRange dialog;
    dialog.lower = 1;
    dialog.upper = 2;
    zud::StartOptions options;
    options.has_range = true;
    options.pmin = 3001;
    options.pmax = 400000;
    zud::PresetRange range(dialog, options);
    std::int64_t pmin = 0, pmax = 0;
    EXPECT_TRUE(range.run(pmin, pmax));
    EXPECT_EQ(pmin, 3001);
    EXPECT_EQ(pmax, 400000);
    EXPECT_EQ(dialog.runs, 0);
    EXPECT_TRUE(range.run(pmin, pmax));
    EXPECT_EQ(pmax, 2);
    EXPECT_EQ(dialog.runs, 1);
}

TEST(Placement, written_and_read_back)
{
    EXPECT_EQ(zud::format_placement({10, -20, 640, 480, false}), "10 -20 640 480");
    EXPECT_EQ(zud::format_placement({1, 2, 300, 200, true}), "1 2 300 200 max");
    const auto back = zud::parse_placement("1 2 300 200 max");
    ASSERT_TRUE(back);
    EXPECT_TRUE(back->maximized);
    EXPECT_EQ(back->width, 300);
    for (const char* bad : {"", "1 2 3", "1 2 300 200 min", "1 2 300 200 max x", "1 2 10 200", "a b c d"})
        EXPECT_FALSE(zud::parse_placement(bad)) << bad;
}

}  // namespace
