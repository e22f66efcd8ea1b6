#include "app/texts.h"

#include "app/main_window.h"

namespace zud {

std::string version_text(InstructionSet set)
{
    return std::string(kProgramTitle) + "\ninstruction set: " + instruction_set_name(set) +
           "\n"
           "Licence: GPL-3.0-or-later <https://www.gnu.org/licenses/gpl-3.0.html>\n"
           "This is free software: you are free to change and redistribute it.\n"
           "There is NO WARRANTY, to the extent permitted by law.\n";
}

}  // namespace zud
