// Deleting the dated copies that the keep rules do not keep.
#include "job/retention.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "job/copy_calendar.h"
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
  // Nothing for digits that are no calendar date: such a copy counts for
  // KeepDaily alone.
  std::optional<CalendarPeriods> periods;
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
    copies.push_back({name, roundHalfEven(leadingNumber(date)), calendarPeriods(date)});
  }
  return copies;
}

// The rules that keep the newest copy of each of the newest periods that
// hold one.
struct PeriodRule {
  std::size_t KeepRules::*count;
  std::int64_t CalendarPeriods::*period;
};
constexpr PeriodRule kPeriodRules[] = {
    {&KeepRules::weekly, &CalendarPeriods::week},
    {&KeepRules::monthly, &CalendarPeriods::month},
};

// The copies that no rule keeps, oldest first; of equal dates the one
// listed first counts as the older.
std::vector<std::string> notKept(std::vector<DatedCopy> copies, const std::string& directory,
                                 const std::string& newCopy, const KeepRules& rules) {
  std::stable_sort(copies.begin(), copies.end(),
                   [](const DatedCopy& a, const DatedCopy& b) { return a.date < b.date; });
  std::vector<bool> kept(copies.size(), false);
  // The new copy is one of the daily ones, even when a clock set wrong
  // dates it before the others; then come the newest of the rest.
  std::size_t daily = rules.daily;
  auto isNew = [&](const DatedCopy& copy) { return directory + copy.name == newCopy; };
  const auto newOne = std::find_if(copies.begin(), copies.end(), isNew);
  if (newOne != copies.end() && daily > 0) {
    kept[static_cast<std::size_t>(newOne - copies.begin())] = true;
    --daily;
  }
  for (std::size_t i = copies.size(); i-- > 0 && daily > 0;) {
    if (!kept[i]) {
      kept[i] = true;
      --daily;
    }
  }
  // Calendar dates sort as their days do, so, newest first, the first copy
  // met of each period is that period's newest.
  for (const PeriodRule& rule : kPeriodRules) {
    std::size_t periods = 0;
    std::optional<std::int64_t> last;
    for (std::size_t i = copies.size(); i-- > 0 && periods < rules.*rule.count;) {
      if (!copies[i].periods || (*copies[i].periods).*rule.period == last) continue;
      last = (*copies[i].periods).*rule.period;
      kept[i] = true;
      ++periods;
    }
  }
  std::vector<std::string> doomed;
  for (std::size_t i = 0; i < copies.size(); ++i) {
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
