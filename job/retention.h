#pragma once

#include <string>

#include "job/progress_text.h"
#include "platform/services.h"

namespace job {

// How many dated copies a run leaves.
constexpr std::size_t kCopiesKept = 7;

// The job's last phase: deletes the oldest dated copies beside the database
// until kCopiesKept are left. Raises RunTimeError 5 when the database path
// is too short to hold the expected file name.
void cleanupOldBackups(platform::Services& services, ProgressText& lblOutput,
                       const std::string& databasePath);

}  // namespace job
