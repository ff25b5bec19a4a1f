// What the POSIX services share: the start of a run, the program's own
// location, the errno text, the read and write loops, the file descriptor
// holder and the opening of directories.
#include "platform/services-posix.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstring>

#include "platform/path_text.h"

namespace platform {

namespace posix {
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

PosixServices::PosixServices() {
  std::setlocale(LC_TIME, "");
  // A file-size limit or a closed standard error must fail a write with
  // EFBIG or EPIPE, which the run reports, not kill it without a log block.
  signal(SIGXFSZ, SIG_IGN);
  signal(SIGPIPE, SIG_IGN);
  // The break of a lease the run holds for a moment, whose default action
  // would end the run.
  signal(SIGIO, SIG_IGN);
  try {
    location_ = locationOf(executablePath());
  } catch (const RunTimeError& error) {
    locationError_ = error.description();
  }
}

ProgramLocation PosixServices::programLocation() {
  if (!locationError_.empty()) throw RunTimeError(kPathFileAccessError, locationError_);
  return location_;
}

std::string errnoText(int error) { return std::strerror(error); }

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

std::optional<std::string> readAll(int fd, std::size_t limit) {
  std::string content;
  char chunk[65536];
  for (;;) {
    const ssize_t got = retryAfterSignal(-1, read, fd, chunk, sizeof chunk);
    if (got < 0 || content.size() + static_cast<std::size_t>(got) > limit) return std::nullopt;
    if (got == 0) return content;
    content.append(chunk, static_cast<std::size_t>(got));
  }
}

void FileDescriptor::reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

bool FileDescriptor::close() {
  const int fd = release();
  return fd < 0 || ::close(fd) == 0;
}

FileDescriptor openDirectoryFile(const std::string& path) {
  return FileDescriptor(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

DirectoryStream openDirectory(const std::string& path) {
  FileDescriptor directory = openDirectoryFile(path);
  DIR* stream = directory.valid() ? fdopendir(directory.get()) : nullptr;
  if (stream != nullptr) directory.release();
  return {stream, closedir};
}

}  // namespace posix

std::unique_ptr<Services> systemServices() { return std::make_unique<posix::PosixServices>(); }

}  // namespace platform
