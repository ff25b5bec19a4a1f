// Reading the settings file, which the system gives no function for.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>

#include "platform/profile_text.h"
#include "platform/system-posix.h"

namespace platform::posix {
namespace {

// A settings file is a few lines; anything far larger is not one, and is
// read as unreadable rather than held in memory whole.
constexpr std::size_t kLargestSettingsFile = 16 * 1024 * 1024;

// The whole content of a regular file, or nothing when it cannot be read.
// Opened without blocking, so that a FIFO under the name cannot hang a run.
std::optional<std::string> readSmallFile(const std::string& path) {
  FileDescriptor file(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  struct stat status {};
  if (!file.valid() || fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode) ||
      static_cast<std::size_t>(status.st_size) > kLargestSettingsFile) {
    return std::nullopt;
  }
  return readAll(file.get(), kLargestSettingsFile);
}

}  // namespace

std::string PosixServices::readSetting(const std::string& section, const std::string& key,
                                       const std::string& defaultText, std::size_t bufferSize,
                                       const std::string& path) {
  std::optional<std::string> content = readSmallFile(path);
  return profileValue(content ? *content : std::string(), section, key, defaultText, bufferSize);
}

}  // namespace platform::posix
