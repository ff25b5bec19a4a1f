// The calendar day, week and month that a copy's date digits fall in, for
// the rules that keep one copy a week or a month, and for the far copies'
// turns to be read back.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace job {

struct CalendarPeriods {
  std::int64_t week;   // counts weeks from Monday to Sunday; later weeks count higher
  std::int64_t month;  // counts months; later months count higher
  std::int64_t day;    // counts days from 1970-01-01
};

// The week and month of eight digits "YYYYMMDD" of the Gregorian calendar;
// nothing for any other text, such as "20261399".
std::optional<CalendarPeriods> calendarPeriods(std::string_view digits);

}  // namespace job
