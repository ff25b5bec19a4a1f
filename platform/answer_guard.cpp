// What both systems' waits for a silent place say.
#include "platform/answer_guard.h"

namespace platform {

std::string noAnswerReason(int seconds) {
  return seconds % 60 == 0 ? "no answer for " + std::to_string(seconds / 60) + " minutes"
                           : "no answer for " + std::to_string(seconds) + " seconds";
}

Outcome listWhileAnswering(Lister list, const std::string& pattern, std::vector<std::string>& names,
                           int seconds) {
  Found listed;
  const Outcome outcome = whileAnswering(
      [&](const Answered&, Found& found) {
        try {
          // Each name ends in a NUL, which no name holds.
          for (const std::string& name : list(pattern, kListOrdinary)) found += name + '\0';
          return Outcome{true, ""};
        } catch (const RunTimeError& error) {
          return Outcome{false, error.description()};
        }
      },
      seconds, &listed);
  names.clear();
  for (std::size_t at = 0, end; (end = listed.find('\0', at)) != std::string::npos; at = end + 1) {
    names.push_back(listed.substr(at, end - at));
  }
  return outcome;
}

}  // namespace platform
