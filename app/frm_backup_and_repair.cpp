// The run driver: the job, the report's last lines, the log, the exit status,
// and the night's word to those who watch it.
#include "app/frm_backup_and_repair.h"

#include <iostream>

#include "app/night_ping.h"
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

platform::NightEnd nightEndOf(int status) {
  switch (status) {
    case kExitDone:
      return platform::NightEnd::kDone;
    case kExitNoDriver:
      return platform::NightEnd::kNoDriver;
    case kExitLogNotWritten:
      return platform::NightEnd::kLogNotWritten;
  }
  return platform::NightEnd::kFailed;
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
  NightPing ping(services_);
  ping.begin();
  const job::JobResult result = job::fncBackupAndRepair(services_, lblOutput);
  int status = exitStatusOf(result);
  std::string logPath;
  try {
    const std::string endLine = "End at " + services_.generalDate(services_.now());
    for (const std::string& line : ping.takeLines()) lblOutput.appendLine(line);
    // The end ping goes before the log is written, so that its failure has
    // a line in the block; its body is the block as the log gets it, less
    // that line.
    ping.end(status == kExitStoppedOrFailed,
             lblOutput.caption() + endLine + "\r\n" + kSeparatorLine + "\r\n\r\n");
    for (const std::string& line : ping.takeLines()) lblOutput.appendLine(line);
    lblOutput.appendLine(endLine);
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
    status = kExitLogNotWritten;
    ping.end(true, lblOutput.caption());
  }
  services_.reportNight(nightEndOf(status), lblOutput.caption() + "\r\n");
  return status;
}

}  // namespace app
