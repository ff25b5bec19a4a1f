// Appending the run's block to the log: whole, or not at all.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/services-posix.h"

namespace platform::posix {

void PosixServices::appendText(const std::string& path, const std::string& text) {
  // Without blocking, so that a FIFO under the log's name fails at once.
  FileDescriptor file(
      open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666));
  if (!file.valid()) raiseAccessError(errno);
  // One run at a time appends, so that two blocks never mix and a failed
  // append can be taken back without touching another run's block.
  if (flock(file.get(), LOCK_EX) != 0) raiseAccessError(errno);
  struct stat before {};
  if (fstat(file.get(), &before) != 0) raiseAccessError(errno);
  const std::string block = text + "\r\n";
  int error = writeAll(file.get(), block.data(), block.size());
  if (error == 0 && fdatasync(file.get()) != 0 && errno != EINVAL) error = errno;
  if (error != 0) {
    // A full disk must not leave half a block for later ones to start inside.
    if (S_ISREG(before.st_mode) && ftruncate(file.get(), before.st_size) != 0) {
      const std::string undo = "could not be taken back: " + errnoText(errno) + ")";
      throw RunTimeError(kPathFileAccessError, errnoText(error) + " (and the part written " + undo);
    }
    raiseAccessError(error);
  }
  if (close(file.release()) != 0) raiseAccessError(errno);  // a late write error shows here
}

}  // namespace platform::posix
