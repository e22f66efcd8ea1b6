// Texts every front end shows alike.
#pragma once

#include <string>

namespace zud {

// --version of both programs: the title, the instruction set in use, the licence.
std::string version_text();

}  // namespace zud
