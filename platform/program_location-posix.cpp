#include <unistd.h>

#include <cerrno>

#include "platform/system-posix.h"

namespace platform::posix {
namespace {

// The executable's own path, symbolic links resolved.
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

}  // namespace

ProgramLocation PosixServices::programLocation() {
  std::string path = executablePath();
  std::size_t slash = path.rfind('/');
  ProgramLocation location;
  location.directory = slash == 0 ? "/" : path.substr(0, slash);
  std::string file = path.substr(slash + 1);
  // A leading dot marks a hidden name, not an extension.
  std::size_t dot = file.rfind('.');
  location.name = (dot == std::string::npos || dot == 0) ? file : file.substr(0, dot);
  return location;
}

}  // namespace platform::posix
