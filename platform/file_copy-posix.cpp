// A copy that is either whole under the target's name or not there at all.
//
// The data goes into an unnamed file in the target's directory, is flushed
// to disk, and only then gets its name; linking fails when the name is
// taken, so an existing file is never replaced. A failure or a kill part way
// leaves nothing behind, and no space stays held.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/path_text.h"
#include "platform/system-posix.h"

namespace platform::posix {
namespace {

struct Failure {
  int error;
};

[[noreturn]] void fail(int error) { throw Failure{error}; }

// The file the data is written to before it gets the target's name: unnamed
// where the file system allows it, else under a hidden temporary name that
// the listing leaves out.
class PendingFile {
 public:
  explicit PendingFile(const std::string& directory) {
    fd_.reset(open(directory.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
    if (fd_.valid()) return;
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) fail(errno);
    std::string name = directory + "/.muTesselCopy-XXXXXX";
    fd_.reset(mkostemp(name.data(), O_CLOEXEC));
    if (!fd_.valid()) fail(errno);
    temporaryName_ = name;
  }

  ~PendingFile() {
    if (!temporaryName_.empty()) unlink(temporaryName_.c_str());
  }

  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  int fd() const { return fd_.get(); }

  // Gives the file its name; fails when the name is already taken.
  void linkAs(const std::string& target) {
    if (temporaryName_.empty()) {
      std::string self = "/proc/self/fd/" + std::to_string(fd_.get());
      if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW) != 0) {
        fail(errno);
      }
      return;
    }
    if (link(temporaryName_.c_str(), target.c_str()) != 0) fail(errno);
  }

 private:
  FileDescriptor fd_;
  std::string temporaryName_;
};

void writeAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t written = write(fd, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) fail(errno);
    if (written == 0) fail(ENOSPC);
    data += written;
    size -= static_cast<std::size_t>(written);
  }
}

void copyByReadAndWrite(int from, int to) {
  char buffer[1 << 16];
  for (;;) {
    ssize_t got = read(from, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) fail(errno);
    if (got == 0) return;
    writeAll(to, buffer, static_cast<std::size_t>(got));
  }
}

// The kernel copies without passing the data through this process, and on
// file systems that can, shares the blocks; where it cannot, plain reads and
// writes take over.
void copyContents(int from, int to) {
  bool copiedAny = false;
  for (;;) {
    ssize_t copied = copy_file_range(from, nullptr, to, nullptr, 1 << 30, 0);
    if (copied == 0) return;
    if (copied > 0) {
      copiedAny = true;
      continue;
    }
    if (errno == EINTR) continue;
    bool unsupported = errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP ||
                       errno == EINVAL || errno == EBADF;
    if (copiedAny || !unsupported) fail(errno);
    copyByReadAndWrite(from, to);
    return;
  }
}

void keepModeAndTimes(int to, const struct stat& source) {
  if (fchmod(to, source.st_mode & 0777) != 0) fail(errno);
  const struct timespec times[2] = {source.st_atim, source.st_mtim};
  if (futimens(to, times) != 0) fail(errno);
}

void syncDirectory(const std::string& directory) {
  FileDescriptor dir(open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir.valid() || fsync(dir.get()) != 0) fail(errno);
}

void copyNew(const std::string& source, const std::string& target) {
  FileDescriptor from(open(source.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (!from.valid()) fail(errno);
  struct stat status {};
  if (fstat(from.get(), &status) != 0) fail(errno);
  if (!S_ISREG(status.st_mode)) fail(S_ISDIR(status.st_mode) ? EISDIR : EINVAL);
  struct stat existing {};
  if (lstat(target.c_str(), &existing) == 0) fail(EEXIST);

  const std::string directory = directoryOf(target);
  PendingFile pending(directory);
  copyContents(from.get(), pending.fd());
  keepModeAndTimes(pending.fd(), status);
  if (fsync(pending.fd()) != 0) fail(errno);
  pending.linkAs(target);
  try {
    syncDirectory(directory);
  } catch (const Failure&) {
    // The name may not survive a crash; a copy that is not known to be on
    // disk is no copy.
    unlink(target.c_str());
    throw;
  }
}

}  // namespace

Outcome PosixServices::copyFileNew(const std::string& source, const std::string& target) {
  try {
    copyNew(source, target);
    return {true, ""};
  } catch (const Failure& failure) {
    return {false, errnoText(failure.error)};
  }
}

}  // namespace platform::posix
