// How a night ended, told where cron and systemd look: standard error,
// which cron mails and the journal keeps under the service. Only a failed
// night writes there, so that a sound one leaves cron silent; a night whose
// log could not be written has said so already, in a line of its own.
#include <unistd.h>

#include "platform/services-posix.h"

namespace platform::posix {

void PosixServices::reportNight(NightEnd end, const std::string& report) {
  if (end != NightEnd::kFailed) return;
  // Lines end in LF alone here: the journal shows a line with a CR in it as
  // data, not as text.
  std::string text;
  for (char c : report) {
    if (c != '\r') text += c;
  }
  // A closed or full standard error is no concern of the night's.
  writeAll(STDERR_FILENO, text.data(), text.size());
}

}  // namespace platform::posix
