// Texts every front end shows alike.
#pragma once

#include <string>

#include "engine/search/instruction_set.h"

namespace zud {

// --version of both programs: the title, the instruction set in use, the licence.
std::string version_text(InstructionSet set);

}  // namespace zud
