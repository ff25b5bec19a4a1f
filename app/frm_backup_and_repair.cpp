// The run driver: the job, the report's last lines, the log, the exit status.
#include "app/frm_backup_and_repair.h"

#include <iostream>

#include "job/backup_and_repair.h"

namespace app {
namespace {

const char* const kSeparatorLine = "_________________________________";
const char* const kProductName = "muTesselServerDbBackupandRepair";

int exitStatusOf(job::JobResult result) {
  switch (result) {
    case job::JobResult::kDone:
    case job::JobResult::kAlreadyBackedUp:
      return kExitDone;
    case job::JobResult::kDoneButNoDriver:
      return kExitNoDriver;
    case job::JobResult::kStopped:
    case job::JobResult::kFailed:
      break;
  }
  return kExitStoppedOrFailed;
}

}  // namespace

std::string frmBackupAndRepair::calledName() {
  try {
    return services_.programLocation().name;
  } catch (const platform::RunTimeError&) {
    return kProductName;  // the program cannot find its own file
  }
}

int frmBackupAndRepair::Form_Load() {
  const job::JobResult result = job::fncBackupAndRepair(services_, lblOutput);
  std::string logPath;
  try {
    lblOutput.appendLine("End at " + services_.generalDate(services_.now()));
    lblOutput.appendLine(kSeparatorLine);
    logPath = services_.besideProgram(".log");
    services_.appendText(logPath, lblOutput.caption());
  } catch (const std::exception& error) {
    // Nobody watches a scheduled run: the reason goes where the scheduler
    // keeps it, and the status says the log is incomplete.
    // Named as it was called: one machine may keep several copies of the
    // program, one a database, each under its own name.
    std::cerr << calledName() << ": cannot write the run log"
              << (logPath.empty() ? "" : " " + logPath) << ": " << error.what() << std::endl;
    return kExitLogNotWritten;
  }
  return exitStatusOf(result);
}

}  // namespace app
