// The maintenance run and how it ended.
#pragma once

#include "job/progress_text.h"
#include "platform/services.h"

namespace job {

// How a run of the job ended, for the program's exit status.
enum class JobResult {
  kDone,             // copied, repaired and cleaned up
  kDoneButNoDriver,  // copied and cleaned up; no driver on this machine could repair
  kAlreadyBackedUp,  // the day's copy was there already: nothing to do
  kStopped,          // a check ended the run early; the log says which
  kFailed,           // a step failed; the log has the failure line
};

// The maintenance run: finds the database through the settings file, leaves
// it alone while it is in use, makes the day's dated copy, asks the Access
// driver to repair the database in place, and deletes the oldest copies.
// Every step reports through `lblOutput`; failures end the job with one
// line and never reach the caller.
JobResult fncBackupAndRepair(platform::Services& services, ProgressText& lblOutput);

}  // namespace job
