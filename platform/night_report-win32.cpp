// How a night ended, told to the Application event log, which monitoring
// agents read by source and level: one event a night, under the program's
// own source, whose texts are the message table in the program itself.
// Unregistered, the source still takes the event; Event Viewer then shows
// the report without the table's text. Nothing here may fail the night.
#include <algorithm>

#include "platform/night_events.h"
#include "platform/services-win32.h"

namespace platform::win32 {
namespace {

// The source an administrator registers under
// HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application (README.txt).
constexpr const char* kEventSource = "muTesselServerDbBackupandRepair";

// The longest string an event takes, in characters.
constexpr std::size_t kLongestString = 31839;

struct EventKind {
  WORD type;
  DWORD id;
};

EventKind kindOf(NightEnd end) {
  switch (end) {
    case NightEnd::kDone:
      return {EVENTLOG_INFORMATION_TYPE, kEventNightDone};
    case NightEnd::kNoDriver:
      return {EVENTLOG_WARNING_TYPE, kEventNoDriver};
    case NightEnd::kLogNotWritten:
      return {EVENTLOG_ERROR_TYPE, kEventLogNotWritten};
    case NightEnd::kFailed:
      break;
  }
  return {EVENTLOG_ERROR_TYPE, kEventNightFailed};
}

}  // namespace

void Win32Services::reportNight(NightEnd end, const std::string& report) {
  HANDLE source = RegisterEventSourceA(nullptr, kEventSource);
  if (source == nullptr) return;
  const std::string text = report.substr(0, std::min(report.size(), kLongestString));
  const char* strings[] = {text.c_str()};
  const EventKind kind = kindOf(end);
  ReportEventA(source, kind.type, 0, kind.id, nullptr, 1, 0, strings, nullptr);
  DeregisterEventSource(source);
}

}  // namespace platform::win32
