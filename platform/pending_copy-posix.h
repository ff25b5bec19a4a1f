// The file a copy's data goes to before it takes the target's name, and the
// clearing of the temporaries killed runs left. Private to platform/.
#pragma once

#include <cstddef>
#include <string>

#include "platform/services-posix.h"

namespace platform::posix {

// Written, flushed and checked before it is named; unless named, it goes.
class PendingCopy {
 public:
  // Opens one in `directory` by the first way, from `firstWay` in their
  // order on, that the file system offers.
  PendingCopy(const std::string& directory, std::size_t firstWay);
  ~PendingCopy();

  int fd() const { return fd_.get(); }
  // The hidden temporary's path; empty for an unnamed file and once named.
  const std::string& temporary() const { return temporary_; }

  // Names the copy by the first way, from the one it was opened by, that the
  // file system supports; fails when the name is taken.
  void nameAs(const std::string& target);

 private:
  std::size_t opened_;  // the way it was opened by
  FileDescriptor fd_;
  std::string temporary_;
};

// Removes the temporaries in `directory` whose lock nobody holds: a live run
// holds its own.
void clearDeadTemporaries(const std::string& directory);

}  // namespace platform::posix
