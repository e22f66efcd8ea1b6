// The preferences' rules and the machine's state as the system tells it.
#include "app/computing_prefs.h"

#include <cstdio>
#include <dirent.h>
#include <fstream>

namespace zud {

namespace {

std::string first_line(const std::string& path)
{
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

bool inside_window(int minute, int from, int until)
{
    if (from < 0 || until < 0 || from == until)
        return true;
    return from < until ? minute >= from && minute < until : minute >= from || minute < until;
}

}  // namespace

ComputingPrefs computing_prefs_from_profile(Profile& profile)
{
    ComputingPrefs prefs;
    prefs.suspend_on_battery = profile.get_int("suspend_on_battery", 0) == 1;
    prefs.from_minute = parse_minute(profile.get_string("run_from", ""));
    prefs.until_minute = parse_minute(profile.get_string("run_until", ""));
    if (prefs.from_minute < 0 || prefs.until_minute < 0)
        prefs.from_minute = prefs.until_minute = -1;
    return prefs;
}

void save_computing_prefs(Profile& profile, const ComputingPrefs& prefs)
{
    profile.set_int("suspend_on_battery", prefs.suspend_on_battery ? 1 : 0);
    profile.set_string("run_from", format_minute(prefs.from_minute));
    profile.set_string("run_until", format_minute(prefs.until_minute));
    profile.save();
}

bool on_battery_power(const std::string& supplies)
{
    DIR* dir = opendir(supplies.c_str());
    if (dir == nullptr)
        return false;
    bool mains_online = false;
    bool discharging = false;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        const std::string base = supplies + "/" + name + "/";
        const std::string type = first_line(base + "type");
        if (type == "Mains" && first_line(base + "online") == "1")
            mains_online = true;
        if (type == "Battery" && first_line(base + "status") == "Discharging")
            discharging = true;
    }
    closedir(dir);
    return discharging && !mains_online;
}

int local_minute_of_day(std::time_t now)
{
    std::tm local{};
    if (localtime_r(&now, &local) == nullptr)
        return 0;
    return local.tm_hour * 60 + local.tm_min;
}

MachineState machine_state_now()
{
    return {on_battery_power(), local_minute_of_day(std::time(nullptr))};
}

std::string suspension_reason(const ComputingPrefs& prefs, const MachineState& machine)
{
    if (prefs.suspend_on_battery && machine.on_battery)
        return "Suspended: computer on battery";
    if (!inside_window(machine.minute_of_day, prefs.from_minute, prefs.until_minute))
        return "Suspended: outside " + format_minute(prefs.from_minute) + " to " + format_minute(prefs.until_minute);
    return {};
}

std::string format_minute(int minute)
{
    if (minute < 0 || minute >= 24 * 60)
        return {};
    char text[8];
    std::snprintf(text, sizeof text, "%02d:%02d", minute / 60, minute % 60);
    return text;
}

int parse_minute(const std::string& text)
{
    int hours = 0;
    int minutes = 0;
    char end = 0;
    const std::string::size_type colon = text.find(':');
    if (colon == std::string::npos || colon == 0 || colon > 2 || text.size() != colon + 3)
        return -1;
    if (std::sscanf(text.c_str(), "%d:%d%c", &hours, &minutes, &end) != 2)
        return -1;
    if (hours < 0 || hours > 23 || minutes < 0 || minutes > 59)
        return -1;
    return hours * 60 + minutes;
}

}  // namespace zud
