// Deleting the oldest dated copies until seven are left.
#include "job/retention.h"

#include <algorithm>
#include <vector>

#include "job/numeric_text.h"
#include "job/path_end.h"
#include "job/sound_copy.h"

namespace job {
namespace {

// The database is expected to be named "muTesselDb.mdb": its dated copies
// then carry the eight date digits from the 11th character on.
constexpr std::size_t kDatabaseNameLength = 14;
constexpr std::size_t kDatePosition = 10;  // counted from 0
constexpr std::size_t kDateLength = 8;
constexpr const char* kCopyPattern = "muTesselDb*.mdb";

struct DatedCopy {
  std::string name;
  std::int64_t date;
};

// The names that carry a date, with that date, in listing order. The live
// database, whose name is no longer than the expected 14 characters, never
// counts.
std::vector<DatedCopy> collectDatedCopies(const std::vector<std::string>& names) {
  std::vector<DatedCopy> copies;
  for (const std::string& name : names) {
    if (name.size() <= kDatabaseNameLength) continue;
    std::string date = name.substr(kDatePosition, kDateLength);
    if (!isNumeric(date)) continue;
    copies.push_back({name, roundHalfEven(leadingNumber(date))});
  }
  return copies;
}

// All but the newest kCopiesKept, oldest first; of equal dates the one
// listed first goes first. The new copy stays and takes one of the places.
std::vector<std::string> oldestBeyondKept(std::vector<DatedCopy> copies,
                                          const std::string& directory,
                                          const std::string& newCopy) {
  std::size_t kept = kCopiesKept;
  auto isNew = [&](const DatedCopy& copy) { return directory + copy.name == newCopy; };
  auto newOnes = std::remove_if(copies.begin(), copies.end(), isNew);
  if (newOnes != copies.end()) --kept;
  copies.erase(newOnes, copies.end());
  std::vector<std::string> doomed;
  if (copies.size() <= kept) return doomed;
  std::stable_sort(copies.begin(), copies.end(),
                   [](const DatedCopy& a, const DatedCopy& b) { return a.date < b.date; });
  for (std::size_t i = 0; i < copies.size() - kept; ++i) {
    doomed.push_back(directory + copies[i].name);
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
                       bool newCopySound) {
  lblOutput.appendLine("Start cleanup old backups");
  // The directory with its trailing separator, if the name is as expected.
  const std::string directory = withoutLast(databasePath, kDatabaseNameLength);
  std::vector<std::string> names =
      services.listDirectory(directory + kCopyPattern, platform::kListOrdinary);
  const std::vector<DatedCopy> copies = collectDatedCopies(names);
  std::vector<std::string> doomed = oldestBeyondKept(copies, directory, newCopy);
  // A damaged database is copied as faithfully as a sound one: after a week
  // of damaged nights the seven newest would leave no copy to restore. The
  // newest sound one stays and uses up its turn, as a copy that cannot be
  // deleted does, so the copies number at most one more than the seven. On
  // a sound night the new copy is that one, and it never goes.
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
