// What the POSIX services share: the start of a run, the program's own
// location, and the small helpers of services-posix.h.
#include "platform/services-posix.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <filesystem>

#include "platform/path_text.h"

namespace platform {

namespace posix {

PosixServices::PosixServices() {
  std::setlocale(LC_TIME, "");
  // A file-size limit or a closed standard error must fail a write with
  // EFBIG or EPIPE, which the run reports, not kill it without a log block.
  signal(SIGXFSZ, SIG_IGN);
  signal(SIGPIPE, SIG_IGN);
  // Tells that a lease the run holds is being broken; by default, ends the run.
  signal(SIGIO, SIG_IGN);
  std::error_code error;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) locationError_ = "cannot find the program's own file: " + error.message();
  if (!error) location_ = locationOf(program.string());
}

ProgramLocation PosixServices::programLocation() {
  if (!locationError_.empty()) throw RunTimeError(kPathFileAccessError, locationError_);
  return location_;
}

int writeAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = retryAfterSignal(-1, write, fd, data, size);
    if (written < 0) return errno;
    if (written == 0) return ENOSPC;
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return 0;
}

void FileDescriptor::reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

}  // namespace posix

std::unique_ptr<Services> systemServices() { return std::make_unique<posix::PosixServices>(); }

}  // namespace platform
