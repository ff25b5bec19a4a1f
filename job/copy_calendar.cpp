// Weeks and months from the date in a copy's name, never from file times,
// which a copy made again or moved does not keep.
#include "job/copy_calendar.h"

namespace job {
namespace {

bool isLeapYear(std::int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int daysInMonth(std::int64_t year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

// Days since 1970-01-01, a Thursday (H. Hinnant's days_from_civil).
std::int64_t daysSinceEpoch(std::int64_t year, int month, int day) {
  year -= month <= 2;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const std::int64_t yearOfEra = year - era * 400;
  const std::int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

std::int64_t floorDivide(std::int64_t a, std::int64_t b) {
  return a / b - (a % b != 0 && (a < 0) != (b < 0));
}

}  // namespace

std::optional<CalendarPeriods> calendarPeriods(std::string_view digits) {
  if (digits.size() != 8) return std::nullopt;
  std::int64_t number = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    number = number * 10 + (c - '0');
  }
  const std::int64_t year = number / 10000;
  const int month = static_cast<int>(number / 100 % 100);
  const int day = static_cast<int>(number % 100);
  if (month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month)) return std::nullopt;
  // Three days after a Thursday the week begins again on a Monday.
  const std::int64_t days = daysSinceEpoch(year, month, day);
  return CalendarPeriods{floorDivide(days + 3, 7), year * 12 + month - 1, days};
}

}  // namespace job
