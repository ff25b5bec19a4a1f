// Which dated copies the keep rules keep.
#include "job/dated_copies.h"

#include <algorithm>

#include "job/numeric_text.h"

namespace job {
namespace {

constexpr std::size_t kDatePosition = 10;  // counted from 0
constexpr std::size_t kDateLength = 8;

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

}  // namespace

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

std::vector<std::size_t> oldestFirst(const std::vector<DatedCopy>& copies) {
  std::vector<std::size_t> order(copies.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return copies[a].date < copies[b].date; });
  return order;
}

std::vector<DatedCopy> newestFirst(const std::vector<DatedCopy>& copies) {
  const std::vector<std::size_t> order = oldestFirst(copies);
  std::vector<DatedCopy> sorted;
  for (auto i = order.rbegin(); i != order.rend(); ++i) sorted.push_back(copies[*i]);
  return sorted;
}

std::vector<bool> keptByRules(const std::vector<DatedCopy>& copies, const std::string& newCopy,
                              const KeepRules& rules) {
  const std::vector<std::size_t> order = oldestFirst(copies);
  std::vector<bool> kept(copies.size(), false);
  std::size_t daily = rules.daily;
  for (std::size_t i : order) {
    if (copies[i].name == newCopy && daily > 0) {
      kept[i] = true;
      --daily;
      break;
    }
  }
  for (std::size_t n = order.size(); n-- > 0 && daily > 0;) {
    if (!kept[order[n]]) {
      kept[order[n]] = true;
      --daily;
    }
  }
  // Calendar dates sort as their days do, so, newest first, the first copy
  // met of each period is that period's newest.
  for (const PeriodRule& rule : kPeriodRules) {
    std::size_t periods = 0;
    std::optional<std::int64_t> last;
    for (std::size_t n = order.size(); n-- > 0 && periods < rules.*rule.count;) {
      const DatedCopy& copy = copies[order[n]];
      if (!copy.periods || (*copy.periods).*rule.period == last) continue;
      last = (*copy.periods).*rule.period;
      kept[order[n]] = true;
      ++periods;
    }
  }
  return kept;
}

}  // namespace job
