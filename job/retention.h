// The job's last phase: deleting the dated copies that no keep rule keeps.
#pragma once

#include <string>

#include "job/keep_rules.h"
#include "job/progress_text.h"
#include "platform/services.h"

namespace job {

// The job's last phase: deletes the dated copies beside the database that
// none of `keep`'s rules keeps; by default the newest seven stay. Days,
// weeks and months come from the date in each copy's name. `newCopy`, the
// copy this run has just made, is one of the daily ones and is never
// deleted, even when a clock set wrong dates it before the others. When it
// is not sound (`newCopySound` false), the newest dated copy that is sound
// is never deleted either, however old. Settings refused (`keep.refusal`)
// delete nothing. Raises RunTimeError 5 when the database path is too short
// to hold the expected file name.
void cleanupOldBackups(platform::Services& services, ProgressText& lblOutput,
                       const std::string& databasePath, const std::string& newCopy,
                       bool newCopySound, const KeepSettings& keep = {});

}  // namespace job
