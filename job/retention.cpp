// Deleting the dated copies that the keep rules do not keep.
#include "job/retention.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "job/dated_copies.h"
#include "job/path_end.h"
#include "job/sound_copy.h"

namespace job {
namespace {

// The copies that no rule keeps, oldest first; of equal dates the one
// listed first counts as the older.
std::vector<std::string> notKept(const std::vector<DatedCopy>& copies, const std::string& directory,
                                 const std::string& newCopy, const KeepRules& rules) {
  const std::string newName = newCopy.substr(std::min(directory.size(), newCopy.size()));
  const std::vector<bool> kept = keptByRules(copies, newName, rules);
  std::vector<std::string> doomed;
  for (std::size_t i : oldestFirst(copies)) {
    if (!kept[i]) doomed.push_back(directory + copies[i].name);
  }
  return doomed;
}

// The newest of the copies, other than `newCopy`, that is a sound database;
// empty when none is. Each is read back in turn, newest first, until one
// passes.
std::string newestSound(platform::Services& services, std::vector<DatedCopy> copies,
                        const std::string& directory, const std::string& newCopy) {
  std::stable_sort(copies.begin(), copies.end(),
                   [](const DatedCopy& a, const DatedCopy& b) { return a.date > b.date; });
  for (const DatedCopy& copy : copies) {
    const std::string path = directory + copy.name;
    if (path != newCopy && whyNotSound(services, path).empty()) return path;
  }
  return "";
}

}  // namespace

void cleanupOldBackups(platform::Services& services, ProgressText& lblOutput,
                       const std::string& databasePath, const std::string& newCopy,
                       bool newCopySound, const KeepSettings& keep) {
  lblOutput.appendLine("Start cleanup old backups");
  // A value not allowed may have meant more copies than any rule keeps, so
  // none goes until the settings say what they mean.
  if (!keep.refusal.empty()) {
    lblOutput.appendLine(keep.refusal);
    return;
  }
  // The directory with its trailing separator, if the name is as expected.
  const std::string directory = withoutLast(databasePath, kDatabaseNameLength);
  std::vector<std::string> names =
      services.listDirectory(directory + kCopyPattern, platform::kListOrdinary);
  const std::vector<DatedCopy> copies = collectDatedCopies(names);
  std::vector<std::string> doomed = notKept(copies, directory, newCopy, keep.rules);
  // A damaged database is copied as faithfully as a sound one: after enough
  // damaged nights the copies the rules keep would leave none to restore.
  // The newest sound one stays and uses up its turn, as a copy that cannot
  // be deleted does, so the copies number at most one more than the rules
  // keep. On a sound night the new copy is that one, and it never goes.
  if (!newCopySound && !doomed.empty()) {
    const auto kept =
        std::find(doomed.begin(), doomed.end(), newestSound(services, copies, directory, newCopy));
    if (kept != doomed.end()) {
      lblOutput.appendLine("Kept " + kept->substr(directory.size()) + ": the newest sound backup");
      doomed.erase(kept);
    }
  }
  // A copy that cannot be deleted (read-only, in use) stays; the next run
  // tries again.
  if (!doomed.empty()) services.deleteFiles(doomed);
  lblOutput.appendLine("Cleanup of old backups finished");
}

}  // namespace job
