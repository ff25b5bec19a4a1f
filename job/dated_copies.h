// The dated copies of the database, wherever they lie, and which of them the
// keep rules keep.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "job/copy_calendar.h"
#include "job/keep_rules.h"

namespace job {

// The database is expected to be named "muTesselDb.mdb": its dated copies
// then carry the eight date digits from the 11th character on.
constexpr std::size_t kDatabaseNameLength = 14;
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
std::vector<DatedCopy> collectDatedCopies(const std::vector<std::string>& names);

// Whether each copy is kept by the rules, in the order given. `newCopy`, a
// copy this run has just made, is one of the daily ones, even when a clock
// set wrong dates it before the others.
std::vector<bool> keptByRules(const std::vector<DatedCopy>& copies, const std::string& newCopy,
                              const KeepRules& rules);

// The copies' places, oldest first; of equal dates the one listed first
// counts as the older.
std::vector<std::size_t> oldestFirst(const std::vector<DatedCopy>& copies);

// The copies newest first: oldestFirst backwards.
std::vector<DatedCopy> newestFirst(const std::vector<DatedCopy>& copies);

}  // namespace job
