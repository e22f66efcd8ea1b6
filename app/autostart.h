// Options > "Start with the session": an XDG autostart entry for the
// program in the user's configuration folder, there while the item is
// ticked and gone when it is not.
#pragma once

#include <string>

namespace zud {

// "autostart/zudsieve.desktop" in $XDG_CONFIG_HOME, else ~/.config.
std::string autostart_path();
bool autostart_enabled();
// Writes the entry (starting `program`, a full path) or removes it;
// empty when done, else why not.
std::string set_autostart(bool enabled, const std::string& program);
// The desktop entry's text.
std::string autostart_entry(const std::string& program);

}  // namespace zud
