// Calls to a place that may stop answering, such as a network mount whose
// server is gone: there a system call can wait for ever, and on some file
// systems no signal ends the wait. Private to platform/.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/services.h"

namespace platform {

// Shows that the place answered: called by the work after each step that
// reached it.
using Answered = std::function<void()>;

// What the work hands back besides its outcome, such as the names it found.
using Found = std::string;

// Runs `work` apart from the caller (on POSIX systems in a process of its
// own, on Windows on a thread of its own) and waits for as long as the place
// answers. Once `work` has not called its Answered for `seconds`, the wait
// is given up and the work is left to the place: the outcome says that the
// place did not answer, with noAnswer set. What the work puts in its Found
// reaches `found` when it finishes in time.
Outcome whileAnswering(const std::function<Outcome(const Answered&, Found&)>& work, int seconds,
                       Found* found = nullptr);

// The reason given when a place did not answer for that long.
std::string noAnswerReason(int seconds);

// Lists `pattern` with `list` (the system's listDirectory) while the place
// answers; a listing that raises fails with the error's description.
using Lister = std::vector<std::string> (*)(const std::string& pattern, int mask);
Outcome listWhileAnswering(Lister list, const std::string& pattern, std::vector<std::string>& names,
                           int seconds);

}  // namespace platform
