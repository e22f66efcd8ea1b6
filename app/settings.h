// The profile (section "params": "priority", "factor", "statusval") and the
// rules for the values read from it and entered in the alpha dialog.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "run/priority.h"

namespace zud {

class Profile {
public:
    virtual ~Profile() = default;
    virtual std::string get_string(const std::string& key, const std::string& fallback) = 0;
    virtual int get_int(const std::string& key, int fallback) = 0;
    virtual void set_string(const std::string& key, const std::string& value) = 0;
    virtual void set_int(const std::string& key, int value) = 0;
    // Writes pending changes; false when the file could not be written.
    virtual bool save() = 0;
};

// $XDG_CONFIG_HOME, else ~/.config.
std::string config_folder();
// "zudsieve.ini" in the configuration folder.
std::string profile_path();

// A plain INI file with the one section "params", read and written by the
// window and the console alike; other sections and keys of the file are
// kept, and a save writes only the values set since the last one. Values
// are escaped ('\\', '"') and quoted (',', ';', '=') as the window's earlier
// toolkit profile wrote them; files in that form read the same.
std::unique_ptr<Profile> open_ini_profile(const std::string& path);

// Values as read at start-up.
int status_choice_from_profile(Profile& profile);      // 0..2, else 0
double alpha_from_profile(Profile& profile);           // atof; outside 0.1..10 gives 2.5
PriorityClass priority_from_profile(Profile& profile); // 'H' high, 'I' idle, else normal

// 1 .. processors; missing or out of range: every processor.
int workers_from_profile(Profile& profile, int processors);

// Values as written when the window goes.
void save_settings(Profile& profile, double alpha, int status_choice, PriorityClass cls);

// "%.3f"
std::string format_alpha(double alpha);

// The window's place and size, kept under "window" as "x y width height",
// with " max" when maximised (the size is then the one it returns to).
struct Placement {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool maximized = false;
};
std::string format_placement(const Placement& placement);
// Nothing for a malformed entry or a size below 50 x 50.
std::optional<Placement> parse_placement(const std::string& text);

// The alpha dialog's OK: a decimal number filling the whole text (no
// trailing blank), 0.01 to 9.99. The text is cut at 1023 characters.
std::optional<double> accept_alpha(const std::string& text);

}  // namespace zud
