// What both systems' waits for a silent place say.
#include "platform/answer_guard.h"

namespace platform {

std::string noAnswerReason(int seconds) {
  return seconds % 60 == 0 ? "no answer for " + std::to_string(seconds / 60) + " minutes"
                           : "no answer for " + std::to_string(seconds) + " seconds";
}

}  // namespace platform
