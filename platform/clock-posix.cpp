// The clock, and the locale's general date form for the log.
#include <langinfo.h>

#include <clocale>
#include <ctime>
#include <string_view>

#include "platform/date_form.h"
#include "platform/services-posix.h"

namespace platform::posix {
namespace {

// The C locale has no date form of its own that anyone reads ("12/08/26"):
// it gets ISO 8601 instead.
bool isCLocale() {
  const char* name = std::setlocale(LC_TIME, nullptr);
  const std::string_view view = name != nullptr ? name : "C";
  return view == "C" || view == "POSIX" || view.substr(0, 2) == "C.";
}

}  // namespace

LocalTime PosixServices::now() {
  std::time_t seconds = std::time(nullptr);
  std::tm local{};
  localtime_r(&seconds, &local);
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
          local.tm_hour,        local.tm_min,     local.tm_sec};
}

std::string PosixServices::generalDate(const LocalTime& time) {
  std::tm local{};
  local.tm_year = time.year - 1900;
  local.tm_mon = time.month - 1;
  local.tm_mday = time.day;
  local.tm_hour = time.hour;
  local.tm_min = time.minute;
  local.tm_sec = time.second;
  local.tm_isdst = -1;
  std::mktime(&local);  // fills in the weekday, which some locales' date form shows
  const std::string form = isCLocale()
                               ? "%Y-%m-%d %H:%M:%S"
                               : withFourDigitYears(nl_langinfo(D_FMT)) + " " + nl_langinfo(T_FMT);
  char text[128];
  return std::string(text, std::strftime(text, sizeof text, form.c_str(), &local));
}

}  // namespace platform::posix
