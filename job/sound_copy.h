// Whether a file on disk is a sound Access database, read back once.
#pragma once

#include <cstdint>
#include <string>

#include "platform/services.h"

namespace job {

struct CopyVerdict {
  std::string damage;       // empty when sound
  std::uint64_t bytes = 0;  // as read
};

// Reads the file at `path` once and checks its structure. A file that cannot
// be read proves nothing, so that is damage too.
CopyVerdict checkCopy(platform::Services& services, const std::string& path);

// Why the file at `path` is no sound Access database, or the empty text when
// it is one.
std::string whyNotSound(platform::Services& services, const std::string& path);

// For a database within a tenth of the 2 GiB an Access file can hold, the
// line that says so; otherwise the empty text. Past the limit Access can
// write no more, so an office needs to hear of it before.
std::string nearTheCeiling(std::uint64_t bytes);

}  // namespace job
