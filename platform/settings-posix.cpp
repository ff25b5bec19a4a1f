// Reading the settings file, which the system gives no function for.
#include <fcntl.h>
#include <unistd.h>

#include "platform/profile_text.h"
#include "platform/services-posix.h"

namespace platform::posix {
namespace {

// A settings file is a few lines; anything far larger is not one, and is
// read as unreadable rather than held in memory whole.
constexpr std::size_t kLargestSettingsFile = 16 * 1024 * 1024;

// Reads to the end of the file, going on after short reads; empty when a
// read fails or more than `limit` bytes come.
std::string readAll(int fd, std::size_t limit) {
  std::string content;
  char chunk[65536];
  for (;;) {
    const ssize_t got = retryAfterSignal(-1, read, fd, chunk, sizeof chunk);
    if (got < 0 || content.size() + static_cast<std::size_t>(got) > limit) return "";
    if (got == 0) return content;
    content.append(chunk, static_cast<std::size_t>(got));
  }
}

}  // namespace

std::string PosixServices::readSetting(const std::string& section, const std::string& key,
                                       const std::string& defaultText, std::size_t bufferSize,
                                       const std::string& path) {
  // Opened without blocking, so that a FIFO under the name cannot hang a run;
  // what cannot be read reads as empty.
  FileDescriptor file(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  struct stat status {};
  const bool readable = file.valid() && fstat(file.get(), &status) == 0 &&
                        S_ISREG(status.st_mode) &&
                        static_cast<std::size_t>(status.st_size) <= kLargestSettingsFile;
  const std::string content = readable ? readAll(file.get(), kLargestSettingsFile) : "";
  return profileValue(content, section, key, defaultText, bufferSize);
}

}  // namespace platform::posix
