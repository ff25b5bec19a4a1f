// How a service of many steps carries a failed step's reason to its edge,
// where it becomes the service's Outcome. Private to platform/: no
// StepFailure ever reaches a caller of the services.
#pragma once

#include <string>
#include <utility>

#include "platform/services.h"

namespace platform {

struct StepFailure {
  std::string reason;
};
[[noreturn]] inline void failStep(std::string reason) { throw StepFailure{std::move(reason)}; }

// The outcome of running `steps`, which raise StepFailure when one fails.
template <typename Steps>
Outcome outcomeOf(Steps steps) {
  try {
    steps();
    return {true, ""};
  } catch (const StepFailure& failure) {
    return {false, failure.reason};
  }
}

}  // namespace platform
