// The maintenance run, step by step, under one error handler.
#include "job/backup_and_repair.h"

#include <cstdio>
#include <new>

#include "job/exist_file.h"
#include "job/far_copy.h"
#include "job/keep_rules.h"
#include "job/path_end.h"
#include "job/repair_request.h"
#include "job/retention.h"
#include "job/settings_read.h"
#include "job/sound_copy.h"

namespace job {
namespace {

// The numbers the handler gives failures of its own kind, and those that it
// reads as a failed exclusive open, as the program has always logged them.
constexpr std::int32_t kOutOfMemory = 7;
constexpr std::int32_t kInternalError = 51;
constexpr std::int32_t kBadFileNameOrNumber = 52;
constexpr std::int32_t kUnspecifiedFailure = -2147467259;  // 0x80004005

std::string dateDigits(const platform::LocalTime& time) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%04d%02d%02d", time.year, time.month, time.day);
  return digits;
}

// The handler's one line for a run-time error.
std::string failureLine(std::int32_t number, const std::string& description) {
  if (number == kUnspecifiedFailure || number == kBadFileNameOrNumber) {
    return "Aanmaken bacup mislukt, exclusive open failed";
  }
  return "Fout:" + std::to_string(number) + " " + description;
}

// Whether the database may be touched: no lock file, or a lock file left
// behind by a program that has gone, which is deleted.
bool lockCheckPasses(platform::Services& services, ProgressText& lblOutput,
                     const std::string& lockPath) {
  if (!fncExistFile(services, lockPath)) {
    lblOutput.appendLine("No lockfile present");
    return true;
  }
  lblOutput.appendLine("Lockfile still present");
  const platform::Outcome deleted = services.deleteUnused(lockPath);
  if (!deleted.ok) {
    // Not "in use" but "cannot tell": someone must look, or the lock file
    // stays every night.
    if (deleted.useUnknown) lblOutput.appendLine("Lockfile kept: " + deleted.reason);
    return false;
  }
  lblOutput.appendLine("Lockfile deleted");
  return true;
}

JobResult runSteps(platform::Services& services, ProgressText& lblOutput) {
  const std::string iniPath = services.besideProgram(".ini");
  lblOutput.appendLine("Start at " + services.generalDate(services.now()));
  if (!fncExistFile(services, iniPath)) {
    lblOutput.appendLine("Inifile niet gevonden");
    return JobResult::kStopped;
  }
  const std::string databasePath = readSettingsKey(services, iniPath, "Database", "");
  if (!fncExistFile(services, databasePath)) {
    lblOutput.appendLine("Databasefile niet gevonden");
    return JobResult::kStopped;
  }
  lblOutput.appendLine("Databasefile = " + databasePath);
  // Read with the database's name, while the file is known to be there: a
  // settings file gone by the clean-up would read as the defaults, and
  // prune copies that its keys keep.
  const KeepSettings keep = readKeepSettings(services, iniPath);
  const std::string farPlace = readSettingsKey(services, iniPath, "CopyTo", "");
  const std::string basePath = withoutLast(databasePath, 4);
  if (!lockCheckPasses(services, lblOutput, basePath + ".ldb")) return JobResult::kStopped;

  // One reading of the clock names the copy for both the check and the copy,
  // so a run across midnight cannot check one day and copy to the next.
  const std::string datedCopy = basePath + dateDigits(services.now()) + ".mdb";
  if (fncExistFile(services, datedCopy)) {
    lblOutput.appendLine("backup already exists");
    // Run again by hand once a share is mended, the night still sends its
    // copy where that lacks it.
    if (!farPlace.empty() && !copyToFarPlace(services, lblOutput, farPlace,
                                             {databasePath, datedCopy, false, false}, keep)) {
      return JobResult::kFailed;
    }
    return JobResult::kAlreadyBackedUp;
  }
  lblOutput.appendLine("Start copy");
  // A lock file that appears meanwhile means that a program opened the
  // database during the copy; such a copy is not kept.
  platform::Outcome copy = services.copyFileNew(databasePath, datedCopy, basePath + ".ldb");
  if (!copy.ok) {
    // Without a whole copy the database is not touched.
    lblOutput.appendLine("Copy failed: " + copy.reason);
    return JobResult::kFailed;
  }
  lblOutput.appendLine("Copy performed");
  // The copy holds the database byte for byte, so its verdict is the
  // database's. A damaged copy is kept and the repair still asked for, since
  // compacting is how Access mends what it can; the night fails, so that
  // someone looks before the last sound copy would be gone.
  const CopyVerdict verdict = checkCopy(services, datedCopy);
  services.returnFreedMemory();
  const std::string& damage = verdict.damage;
  if (!damage.empty()) lblOutput.appendLine("Backup not sound: " + damage);
  const std::string ceiling = damage.empty() ? nearTheCeiling(verdict.bytes) : "";
  if (!ceiling.empty()) lblOutput.appendLine(ceiling);

  lblOutput.appendLine("Start compress and repair");
  platform::Outcome repair = requestRepair(services, databasePath);
  lblOutput.appendLine(repair.ok ? "Repair performed" : "Repair failed: " + repair.reason);
  // The day's copy is whole either way, so the old ones may go.
  cleanupOldBackups(services, lblOutput, databasePath, datedCopy, damage.empty(), keep);
  // Last, so that a slow share never holds up the database: only a sound
  // night sends anything there.
  bool farFailed = false;
  if (!farPlace.empty() && damage.empty()) {
    farFailed =
        !copyToFarPlace(services, lblOutput, farPlace, {databasePath, datedCopy, true, true}, keep);
  } else if (!farPlace.empty()) {
    lblOutput.appendLine("Nothing sent to " + farPlace + ": the backup is not sound");
  }
  // Settings refused leave every old copy, and someone must look.
  if (!damage.empty() || !keep.refusal.empty() || farFailed) return JobResult::kFailed;
  if (repair.ok) return JobResult::kDone;
  // A machine without a driver that can repair fails the same way every
  // night; that is told apart from a night that failed.
  return repair.driverMissing ? JobResult::kDoneButNoDriver : JobResult::kFailed;
}

}  // namespace

JobResult fncBackupAndRepair(platform::Services& services, ProgressText& lblOutput) {
  try {
    return runSteps(services, lblOutput);
  } catch (const platform::RunTimeError& error) {
    lblOutput.appendLine(failureLine(error.number(), error.description()));
  } catch (const std::bad_alloc&) {
    lblOutput.appendLine(failureLine(kOutOfMemory, "Out of memory"));
  } catch (const std::exception& error) {
    lblOutput.appendLine(failureLine(kInternalError, error.what()));
  }
  return JobResult::kFailed;
}

}  // namespace job
