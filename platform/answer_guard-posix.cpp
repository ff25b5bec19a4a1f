// The wait for a place that may stop answering, with a process of its own
// for the work. A thread would not do: a thread waiting on some file systems
// (FUSE, NFS mounted "hard" and without "intr" on old kernels) cannot be
// ended, and the program could not end either, nor report its status. A
// child process that waits so is left behind, and the program ends.
//
// The child tells of its progress through a pipe: a byte each time the place
// answers, then its outcome and what it found.
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

#include "platform/answer_guard.h"
#include "platform/services-posix.h"

namespace platform {
namespace {

constexpr char kAnswered = '.';
constexpr char kDone = '!';

// The outcome and what was found, as the child writes them after kDone:
// ok, noAnswer, the reason's length and the reason, then what was found.
std::string encode(const Outcome& outcome, const Found& found) {
  const std::string length = std::to_string(outcome.reason.size());
  return std::string(1, outcome.ok ? '1' : '0') + (outcome.noAnswer ? '1' : '0') + length + ':' +
         outcome.reason + found;
}

bool decode(const std::string& text, Outcome& outcome, Found& found) {
  const std::size_t colon = text.find(':');
  if (text.size() < 3 || colon == std::string::npos) return false;
  const std::size_t length = std::stoul(text.substr(2, colon - 2));
  if (colon + 1 + length > text.size()) return false;
  outcome = {text[0] == '1', text.substr(colon + 1, length)};
  outcome.noAnswer = text[1] == '1';
  found = text.substr(colon + 1 + length);
  return true;
}

[[noreturn]] void runChild(int out, const std::function<Outcome(const Answered&, Found&)>& work) {
  // A byte each half second at most: the wait is minutes long, and a byte
  // for each piece of a copy's read-back (16,384 a GiB) woke the waiting
  // program as often, which cost a second of a loaded machine's two cores.
  using Clock = std::chrono::steady_clock;
  Clock::time_point last{};
  const Answered answered = [out, &last] {
    const Clock::time_point now = Clock::now();
    if (now - last < std::chrono::milliseconds(500)) return;
    last = now;
    posix::writeAll(out, &kAnswered, 1);
  };
  Found found;
  Outcome outcome{false, "the far step failed"};
  try {
    outcome = work(answered, found);
  } catch (const std::exception& error) {
    outcome = {false, error.what()};
  }
  const std::string result = kDone + encode(outcome, found);
  posix::writeAll(out, result.data(), result.size());
  _exit(0);
}

}  // namespace

Outcome whileAnswering(const std::function<Outcome(const Answered&, Found&)>& work, int seconds,
                       Found* found) {
  int channel[2];
  if (pipe2(channel, O_CLOEXEC) != 0) return {false, posix::errnoText(errno)};
  const pid_t child = fork();
  if (child < 0) {
    const int error = errno;
    close(channel[0]);
    close(channel[1]);
    return {false, posix::errnoText(error)};
  }
  if (child == 0) {
    close(channel[0]);
    runChild(channel[1], work);
  }
  close(channel[1]);
  posix::FileDescriptor in(channel[0]);
  using Clock = std::chrono::steady_clock;
  auto silentUntil = Clock::now() + std::chrono::seconds(seconds);
  std::string result;
  bool done = false, silent = false;
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(silentUntil - Clock::now());
    pollfd wait{in.get(), POLLIN, 0};
    const int ready = left.count() <= 0 ? 0 : poll(&wait, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0) silent = true;
    if (ready <= 0) break;
    char piece[4096];
    const ssize_t got = posix::retryAfterSignal(-1, read, in.get(), piece, sizeof piece);
    if (got <= 0) break;  // the child has ended
    for (ssize_t i = 0; i < got; ++i) {
      if (done) {
        result += piece[i];
      } else if (piece[i] == kDone) {
        done = true;
      } else {
        silentUntil = Clock::now() + std::chrono::seconds(seconds);
      }
    }
  }
  Outcome outcome;
  Found carried;
  if (!silent && done && decode(result, outcome, carried)) {
    posix::retryAfterSignal(-1, waitpid, child, nullptr, 0);
    if (found) *found = carried;
    return outcome;
  }
  // Whatever a silent child waits on, it waits alone: it is reaped here if
  // the kill ended it at once, else by the system once the program ends.
  kill(child, SIGKILL);
  posix::retryAfterSignal(-1, waitpid, child, nullptr, WNOHANG);
  if (!silent) return {false, "the far step ended without an answer"};
  Outcome given{false, noAnswerReason(seconds)};
  given.noAnswer = true;
  return given;
}

}  // namespace platform
