// The computing preferences: their rules on stand-in machines (a power
// supply folder, a time of day), and a real run paused and resumed by them
// with the reason shown.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "app/computing_prefs.h"
#include "app/window_fixture.h"

namespace {

class ComputingPrefs : public zud_test::WindowTest {
protected:
    void supply(const std::string& name, const std::string& type, const std::string& file, const std::string& value)
    {
        ::mkdir("supplies", 0755);
        ::mkdir(("supplies/" + name).c_str(), 0755);
        write_file("supplies/" + name + "/type", type + "\n");
        write_file("supplies/" + name + "/" + file, value + "\n");
    }
};

TEST_F(ComputingPrefs, battery_and_hours_of_the_day_on_stand_in_machines)
{
    EXPECT_FALSE(zud::on_battery_power("no-such-folder"));   // a desktop without supplies
    supply("BAT0", "Battery", "status", "Discharging");
    EXPECT_TRUE(zud::on_battery_power("supplies"));
    supply("AC", "Mains", "online", "1");
    EXPECT_FALSE(zud::on_battery_power("supplies"));
    supply("AC", "Mains", "online", "0");
    EXPECT_TRUE(zud::on_battery_power("supplies"));

    zud::ComputingPrefs prefs;
    EXPECT_EQ(zud::suspension_reason(prefs, {true, 12 * 60}), "");
    prefs.suspend_on_battery = true;
    EXPECT_EQ(zud::suspension_reason(prefs, {true, 12 * 60}), "Suspended: computer on battery");
    EXPECT_EQ(zud::suspension_reason(prefs, {false, 12 * 60}), "");
    // Overnight: 22:00 to 07:00.
    prefs.from_minute = zud::parse_minute("22:00");
    prefs.until_minute = zud::parse_minute("7:00");
    EXPECT_EQ(zud::suspension_reason(prefs, {false, 23 * 60}), "");
    EXPECT_EQ(zud::suspension_reason(prefs, {false, 6 * 60 + 59}), "");
    EXPECT_EQ(zud::suspension_reason(prefs, {false, 7 * 60}), "Suspended: outside 22:00 to 07:00");
    for (const char* bad : {"", "24:00", "7:60", "7", "07:0", "x7:00", "07:00 "})
        EXPECT_EQ(zud::parse_minute(bad), -1) << bad;

    // Kept in the profile, under their own keys.
    zud::save_computing_prefs(profile, prefs);
    EXPECT_EQ(profile.values["run_from"], "22:00");
    EXPECT_EQ(profile.values["run_until"], "07:00");
    EXPECT_EQ(profile.values["suspend_on_battery"], "1");
    const zud::ComputingPrefs read = zud::computing_prefs_from_profile(profile);
    EXPECT_EQ(read.from_minute, 22 * 60);
    EXPECT_EQ(read.until_minute, 7 * 60);
    EXPECT_TRUE(read.suspend_on_battery);
}

TEST_F(ComputingPrefs, a_real_run_waits_while_a_preference_says_so_and_the_user_may_overrule_it)
{
    range.lower = 3001;
    range.upper = 4000000000;
    window().initialize();
    while (logic->last_reported_p() == 0)
        events.deliver(spy, std::chrono::milliseconds(20));
    zud::ComputingPrefs prefs;
    prefs.suspend_on_battery = true;
    const std::string on_battery = zud::suspension_reason(prefs, {true, 600});

    logic->computing_state(on_battery);
    EXPECT_TRUE(active->paused());
    EXPECT_EQ(logic->display_text(1), "Suspended: computer on battery");
    EXPECT_EQ(tray.tooltip.substr(0, 40), "ZudSieve: Suspended: computer on battery");
    EXPECT_TRUE(view.pause_shown);
    EXPECT_NE(logic->log_text().find("Suspended: computer on battery, sieved up to p="), std::string::npos);
    // The threads do no work while suspended (what they had sent before
    // the pause is taken first).
    for (int i = 0; i < 50; ++i)
        events.deliver(spy, std::chrono::milliseconds(20));
    const std::int64_t held = logic->last_reported_p();
    for (int i = 0; i < 15; ++i)
        events.deliver(spy, std::chrono::milliseconds(20));
    EXPECT_EQ(logic->last_reported_p(), held);
    // Another reason while suspended: the displays tell the new one.
    zud::ComputingPrefs hours;
    hours.from_minute = 22 * 60;
    hours.until_minute = 7 * 60;
    logic->computing_state(zud::suspension_reason(hours, {false, 12 * 60}));
    EXPECT_TRUE(active->paused());
    EXPECT_EQ(logic->display_text(1), "Suspended: outside 22:00 to 07:00");

    // On mains again: the run goes on by itself.
    logic->computing_state(zud::suspension_reason(prefs, {false, 600}));
    EXPECT_FALSE(active->paused());
    EXPECT_EQ(logic->display_text(1).find("Suspended"), std::string::npos);
    while (logic->last_reported_p() == held)
        events.deliver(spy, std::chrono::milliseconds(20));

    // The user's Resume overrules the reason until it has gone; a run the
    // user paused is not resumed by the preferences.
    logic->computing_state(on_battery);
    ASSERT_TRUE(active->paused());
    logic->pause_resume();
    EXPECT_FALSE(active->paused());
    logic->computing_state(on_battery);
    EXPECT_FALSE(active->paused());
    logic->computing_state("");
    logic->pause_resume();
    ASSERT_TRUE(active->paused());
    logic->computing_state("");
    EXPECT_TRUE(active->paused());
    EXPECT_EQ(logic->display_text(1), "Paused");
    box.answers = {zud::BoxAnswer::ok};
    logic->start_stop();
    serve_until_idle();
}

}  // namespace
