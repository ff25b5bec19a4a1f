// Cutting the end off the database's path: its extension, for the names of
// its lock file and copies, and its whole name, for its directory.
#pragma once

#include <string>

#include "platform/services.h"

namespace job {

// The text less its last `count` characters; raises RunTimeError 5 when the
// text is shorter than that.
inline std::string withoutLast(const std::string& text, std::size_t count) {
  if (text.size() < count) {
    throw platform::RunTimeError(platform::kInvalidProcedureCall,
                                 "Invalid procedure call or argument");
  }
  return text.substr(0, text.size() - count);
}

}  // namespace job
