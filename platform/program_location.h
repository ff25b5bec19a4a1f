// Where a program lives and what it is called, from its own file's path.
#pragma once

#include <string>

#include "platform/services.h"

namespace platform {

// The directory of `executablePath` (the root keeps its separator: "/" or
// "C:\") and the file's name less its extension. A name without a dot, or
// whose only dot leads it, is taken whole.
ProgramLocation locationOf(const std::string& executablePath);

}  // namespace platform
