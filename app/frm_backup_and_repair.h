// The program's one window. It is never shown: it holds the run's progress
// text in its label, and its load event is the whole run.
#pragma once

#include <string>

#include "job/progress_text.h"
#include "platform/services.h"

namespace app {

// The statuses a scheduler sees.
enum ExitStatus : int {
  kExitDone = 0,             // the run went through, or the day's copy was there already
  kExitStoppedOrFailed = 1,  // the log's last lines say why
  kExitLogNotWritten = 2,    // standard error says why
  // Copied and cleaned up, but no driver on this machine can repair; the
  // log's "Repair failed: " line says why.
  kExitNoDriver = 3,
};

class frmBackupAndRepair {
 public:
  explicit frmBackupAndRepair(platform::Services& services) : services_(services) {}

  // Runs the job once, between the pings that PingUrl asks for, closes the
  // report, appends it to the run log beside the program, tells the system
  // how the night ended, and returns the exit status.
  int Form_Load();

  job::ProgressText lblOutput;

 private:
  // The program's file name less its extension, for standard error.
  std::string calledName();

  platform::Services& services_;
};

}  // namespace app
