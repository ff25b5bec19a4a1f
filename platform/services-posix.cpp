#include <unistd.h>

#include <cstring>

#include "platform/system-posix.h"

namespace platform {

namespace posix {

std::string errnoText(int error) { return std::strerror(error); }

void FileDescriptor::reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

bool FileDescriptor::close() {
  int fd = fd_;
  fd_ = -1;
  return fd < 0 || ::close(fd) == 0;
}

}  // namespace posix

std::unique_ptr<Services> systemServices() { return std::make_unique<posix::PosixServices>(); }

}  // namespace platform
