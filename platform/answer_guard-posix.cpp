// The wait for a place that may stop answering, with a thread of the C++
// library; the thread that is given up is detached, and ends with the
// process.
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/answer_guard.h"

namespace platform {
namespace {

// What the caller and the work share, owned by both, so that a work left
// behind never touches freed memory.
struct Shared {
  std::mutex mutex;
  std::condition_variable changed;
  std::chrono::steady_clock::time_point lastAnswer = std::chrono::steady_clock::now();
  bool done = false;
  Outcome outcome;
};

}  // namespace

Outcome whileAnswering(std::function<Outcome(const Answered&)> work, int seconds) {
  const auto shared = std::make_shared<Shared>();
  std::thread worker([shared, work = std::move(work)] {
    const Answered answered = [&shared] {
      const std::lock_guard<std::mutex> lock(shared->mutex);
      shared->lastAnswer = std::chrono::steady_clock::now();
    };
    Outcome outcome = work(answered);
    const std::lock_guard<std::mutex> lock(shared->mutex);
    shared->outcome = std::move(outcome);
    shared->done = true;
    shared->changed.notify_all();
  });
  const auto limit = std::chrono::seconds(seconds);
  std::unique_lock<std::mutex> lock(shared->mutex);
  while (!shared->done) {
    const auto silentUntil = shared->lastAnswer + limit;
    if (std::chrono::steady_clock::now() >= silentUntil) {
      lock.unlock();
      worker.detach();
      Outcome given{false, noAnswerReason(seconds)};
      given.noAnswer = true;
      return given;
    }
    shared->changed.wait_until(lock, silentUntil);
  }
  lock.unlock();
  worker.join();
  return shared->outcome;
}

}  // namespace platform
