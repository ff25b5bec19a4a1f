// The wait for a place that may stop answering, with a thread of the
// system's: the thread that is given up keeps running until it returns or
// the process ends, which ends it however it waits.
#include <memory>

#include "platform/answer_guard.h"
#include "platform/services-win32.h"

namespace platform {
namespace {

// What the caller and the work share; whichever of the two lets go last
// frees it, so that a work left behind never touches freed memory.
struct Shared {
  std::function<Outcome(const Answered&, Found&)> work;
  Outcome outcome;
  Found found;
  volatile LONG lastAnswer = 0;  // GetTickCount's low bits, as ticks wrap
  HANDLE done = nullptr;
  volatile LONG owners = 2;

  void release() {
    if (InterlockedDecrement(&owners) == 0) {
      CloseHandle(done);
      delete this;
    }
  }
};

DWORD WINAPI runWork(void* parameter) {
  auto* shared = static_cast<Shared*>(parameter);
  const Answered answered = [shared] {
    InterlockedExchange(&shared->lastAnswer, static_cast<LONG>(GetTickCount()));
  };
  shared->outcome = shared->work(answered, shared->found);
  SetEvent(shared->done);
  shared->release();
  return 0;
}

}  // namespace

Outcome whileAnswering(const std::function<Outcome(const Answered&, Found&)>& work, int seconds,
                       Found* found) {
  auto* shared = new Shared;
  shared->work = work;
  shared->lastAnswer = static_cast<LONG>(GetTickCount());
  shared->done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE thread = shared->done ? CreateThread(nullptr, 0, runWork, shared, 0, nullptr) : nullptr;
  if (thread == nullptr) {
    // No thread to wait on: the work runs here, unguarded.
    Outcome outcome = shared->work([] {}, shared->found);
    if (found) *found = shared->found;
    if (shared->done) CloseHandle(shared->done);
    delete shared;
    return outcome;
  }
  CloseHandle(thread);
  const DWORD limit = static_cast<DWORD>(seconds) * 1000;
  for (;;) {
    if (WaitForSingleObject(shared->done, 1000) == WAIT_OBJECT_0) {
      Outcome outcome = shared->outcome;
      if (found) *found = shared->found;
      shared->release();
      return outcome;
    }
    const DWORD silent = GetTickCount() - static_cast<DWORD>(shared->lastAnswer);
    if (silent >= limit) {
      shared->release();
      Outcome given{false, noAnswerReason(seconds)};
      given.noAnswer = true;
      return given;
    }
  }
}

}  // namespace platform
