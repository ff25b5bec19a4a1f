// The second copy, off the database's disk: the settings file's CopyTo.
#pragma once

#include <string>

#include "job/keep_rules.h"
#include "job/progress_text.h"
#include "platform/services.h"

namespace job {

// What the night brings to the far step.
struct FarNight {
  std::string databasePath;
  std::string dayCopy;  // the day's dated copy beside the database
  bool dayCopyChecked;  // checked this run, and found sound
  bool catchUp;         // also send the older copies the keep rules keep, and prune there
};

// Sends to `directory` each dated copy that it lacks, newest first: on a
// whole night the day's copy and the older ones that the keep rules keep
// beside the database, else the day's copy alone. Only sound copies go, and
// each is read back there before it takes its name. Then, on a whole night,
// deletes the copies there that the same rules do not keep, unless the
// settings say not to. Never creates the directory. Says in `lblOutput`
// what was sent, verified and deleted, and what failed and why; returns
// false when anything failed.
bool copyToFarPlace(platform::Services& services, ProgressText& lblOutput,
                    const std::string& directory, const FarNight& night, const KeepSettings& keep);

}  // namespace job
