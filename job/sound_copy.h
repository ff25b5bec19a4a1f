// Whether a file on disk is a sound Access database, read back once.
#pragma once

#include <string>

#include "platform/services.h"

namespace job {

// Why the file at `path` is no sound Access database, or the empty text when
// it is one. A file that cannot be read proves nothing, so that is a reason
// too.
std::string whyNotSound(platform::Services& services, const std::string& path);

}  // namespace job
