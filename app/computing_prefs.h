// When the sieve may use the computer, as a volunteer sets it: not while
// on battery, only between two times of day. A preference that says "not
// now" pauses the run exactly as Pause does, with the reason shown.
#pragma once

#include <ctime>
#include <string>

#include "app/settings.h"

namespace zud {

struct ComputingPrefs {
    bool suspend_on_battery = false;
    // Minutes after local midnight; both -1: at any time. A window that
    // ends before it begins runs across midnight (22:00 to 07:00).
    int from_minute = -1;
    int until_minute = -1;
};

// Profile keys "suspend_on_battery" (0/1), "run_from" and "run_until"
// ("HH:MM", empty for any time).
ComputingPrefs computing_prefs_from_profile(Profile& profile);
void save_computing_prefs(Profile& profile, const ComputingPrefs& prefs);

struct MachineState {
    bool on_battery = false;
    int minute_of_day = 0;
};

// From the kernel's power supplies: true when a battery discharges and no
// mains supply is online. No supplies (a desktop, a container): false.
bool on_battery_power(const std::string& supplies = "/sys/class/power_supply");
int local_minute_of_day(std::time_t now);
MachineState machine_state_now();

// Why the sieve must wait now ("Suspended: computer on battery"); empty
// when it may run.
std::string suspension_reason(const ComputingPrefs& prefs, const MachineState& machine);

// "07:30"; nothing for a text that is not a time of day.
std::string format_minute(int minute);
int parse_minute(const std::string& text);   // -1 when not "H:MM" or "HH:MM"

}  // namespace zud
