// Whether a path names an existing file.
#pragma once

#include <string>

#include "platform/services.h"

namespace job {

// Whether the path names an existing file (hidden and system files
// included), as opposed to a directory or nothing. Every failure reads as a
// missing file; it never raises an error to its caller.
bool fncExistFile(platform::Services& services, const std::string& prmFileName);

}  // namespace job
