// Calls to a place that may stop answering, such as a network mount whose
// server is gone: there a system call can wait for ever. Private to
// platform/.
#pragma once

#include <functional>

#include "platform/services.h"

namespace platform {

// Shows that the place answered: called by the work after each step that
// reached it.
using Answered = std::function<void()>;

// Runs `work` on a thread of its own and waits for as long as the place
// answers. Once `work` has not called its Answered for `seconds`, the wait
// is given up: the thread is left to the place, with everything it uses,
// and the outcome says that the place did not answer, with noAnswer set.
// `work` must hold copies of what it reads, since it may outlive the call.
Outcome whileAnswering(std::function<Outcome(const Answered&)> work, int seconds);

// The reason given when a place did not answer for that long.
std::string noAnswerReason(int seconds);

}  // namespace platform
