// The program's own file, from /proc/self/exe.
#include <unistd.h>

#include <cerrno>

#include "platform/system-posix.h"

namespace platform::posix {

std::string executablePath() {
  std::string buffer(4096, '\0');
  for (;;) {
    ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) {
      throw RunTimeError(kPathFileAccessError,
                         "cannot find the program's own file: " + errnoText(errno));
    }
    if (static_cast<std::size_t>(length) < buffer.size()) return buffer.substr(0, length);
    buffer.resize(buffer.size() * 2);
  }
}

ProgramLocation PosixServices::programLocation() {
  if (!locationError_.empty()) throw RunTimeError(kPathFileAccessError, locationError_);
  return location_;
}

}  // namespace platform::posix
