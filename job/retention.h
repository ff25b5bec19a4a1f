// The job's last phase: keeping the seven newest dated copies.
#pragma once

#include <string>

#include "job/progress_text.h"
#include "platform/services.h"

namespace job {

// How many dated copies a run leaves.
constexpr std::size_t kCopiesKept = 7;

// The job's last phase: deletes the oldest dated copies beside the database
// until kCopiesKept are left. `newCopy`, the copy this run has just made,
// counts as one of them and is never deleted, even when a clock set wrong
// dates it before the others. When it is not sound (`newCopySound` false),
// the newest dated copy that is sound is never deleted either, however old.
// Raises RunTimeError 5 when the database path is too short to hold the
// expected file name.
void cleanupOldBackups(platform::Services& services, ProgressText& lblOutput,
                       const std::string& databasePath, const std::string& newCopy,
                       bool newCopySound);

}  // namespace job
