#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/system-posix.h"

namespace platform::posix {
namespace {

[[noreturn]] void raiseAccessError(int error) {
  throw RunTimeError(kPathFileAccessError, errnoText(error));
}

}  // namespace

void PosixServices::appendText(const std::string& path, const std::string& text) {
  // Without blocking, so that a FIFO under the log's name fails at once
  // instead of waiting for a reader.
  FileDescriptor file(
      open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666));
  if (!file.valid()) raiseAccessError(errno);
  // One write, so that the blocks of two runs at the same moment never mix.
  const std::string block = text + "\r\n";
  std::size_t written = 0;
  while (written < block.size()) {
    ssize_t count = write(file.get(), block.data() + written, block.size() - written);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) raiseAccessError(errno);
    if (count == 0) raiseAccessError(ENOSPC);
    written += static_cast<std::size_t>(count);
  }
  if (!file.close()) raiseAccessError(errno);
}

}  // namespace platform::posix
