// How many old copies the clean-up keeps: the settings file's KeepDaily,
// KeepWeekly and KeepMonthly; and whether it prunes the far place too,
// CopyToPrune.
#pragma once

#include <cstddef>
#include <string>

#include "platform/services.h"

namespace job {

struct KeepRules {
  std::size_t daily = 7;    // the newest copies, the night's own among them
  std::size_t weekly = 0;   // the newest copy of each of the newest weeks (Monday to Sunday)
  std::size_t monthly = 0;  // the newest copy of each of the newest months
};

// The rules a settings file asks for. A value that is not allowed leaves
// the defaults in `rules` and says which key and value in `refusal`: the
// clean-up then deletes nothing, since it cannot tell what was meant.
struct KeepSettings {
  KeepRules rules;
  // Whether the far place's old copies are deleted by the same rules: not
  // where its share allows no delete, or someone else removes them.
  bool pruneFar = true;
  std::string refusal;  // the log line; empty when every value is allowed
};

// Reads the four keys from the settings file at `iniPath`; a missing key
// takes its default.
KeepSettings readKeepSettings(platform::Services& services, const std::string& iniPath);

}  // namespace job
