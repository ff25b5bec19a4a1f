// The ways of giving a finished copy its name without ever replacing a file,
// one for each kind of file system, and the clearing of the temporaries that
// killed runs left behind.
//
// Every way writes the data to a file that no listing of the copies shows,
// and only names it once it is whole and flushed. Where the file system has
// no unnamed files (exFAT, NTFS, many FUSE and network mounts), the data goes
// to a hidden temporary that the run holds an exclusive lock on for its whole
// life; a temporary whose lock anybody can take belongs to a run that died.
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/file_copy-posix.h"

namespace platform::posix {
namespace {

bool sameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether `name` in `directory` (a descriptor) is still the file open as `fd`.
bool stillNamed(int directory, const char* name, int fd) {
  struct stat named {
  }, open{};
  return fstatat(directory, name, &named, AT_SYMLINK_NOFOLLOW) == 0 && fstat(fd, &open) == 0 &&
         sameFile(named, open);
}

// The errors by which each way says that the file system does not offer it.
bool unnamedFilesUnsupported(int error) {
  return error == EOPNOTSUPP || error == EISDIR || error == EINVAL;
}
bool linksUnsupported(int error) {
  return error == EPERM || error == EOPNOTSUPP || error == ENOSYS;
}
bool noReplaceUnsupported(int error) {
  return error == EINVAL || error == EOPNOTSUPP || error == ENOSYS;
}

// Takes the directory's exclusive lock, which the runs that copy by plain
// rename hold while they check and take the name. Waits a few seconds at
// most: its holders hold it for two system calls.
void lockDirectory(int directory) {
  for (int attempt = 0; flock(directory, LOCK_EX | LOCK_NB) != 0; ++attempt) {
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK || attempt == 500) failWith(errno);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace

[[noreturn]] void failWith(int error) { failStep(errnoText(error)); }

PendingCopy::PendingCopy(const std::string& directory, CopyWay firstWay)
    : directory_(directory), way_(firstWay) {
  if (way_ == CopyWay::kUnnamedFile) {
    fd_.reset(open(directory.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
    if (fd_.valid()) return;
    if (!unnamedFilesUnsupported(errno)) failWith(errno);
    way_ = CopyWay::kLink;
  }
  openNamedTemporary();
}

PendingCopy::~PendingCopy() {
  if (!temporary_.empty()) unlink(temporary_.c_str());
}

void PendingCopy::openNamedTemporary() {
  FileDescriptor dir(open(directory_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir.valid()) failWith(errno);
  for (int attempt = 0; attempt < 5; ++attempt) {
    std::string path = directory_ + "/" + kTemporaryPrefix + "XXXXXX";
    fd_.reset(mkostemp(path.data(), O_CLOEXEC));
    if (!fd_.valid()) failWith(errno);
    const char* name = path.c_str() + directory_.size() + 1;
    // Another run that clears dead temporaries may have taken this one in
    // the moment before the lock; it then removes it, and this run starts
    // over. Where the file system has no locks, the temporary goes unlocked,
    // and the other runs leave it alone, for they cannot lock it either.
    const bool locked = flock(fd_.get(), LOCK_EX | LOCK_NB) == 0;
    if (!locked && errno == EWOULDBLOCK) continue;
    if (locked && !stillNamed(dir.get(), name, fd_.get())) continue;
    temporary_ = path;
    return;
  }
  fd_.reset();
  failWith(EAGAIN);
}

void PendingCopy::nameAs(const std::string& target) {
  if (way_ == CopyWay::kUnnamedFile) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd_.get());
    if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW) != 0) {
      failWith(errno);
    }
    return;
  }
  if (way_ == CopyWay::kLink) {
    if (link(temporary_.c_str(), target.c_str()) == 0) {
      // Should the unlink fail, the temporary is one more name of the copy,
      // which the next run clears.
      unlink(temporary_.c_str());
      temporary_.clear();
      return;
    }
    if (!linksUnsupported(errno)) failWith(errno);
    way_ = CopyWay::kRenameNoReplace;
  }
  if (way_ == CopyWay::kRenameNoReplace) {
    if (renameat2(AT_FDCWD, temporary_.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
      temporary_.clear();
      return;
    }
    if (!noReplaceUnsupported(errno)) failWith(errno);
    way_ = CopyWay::kRename;
  }
  // The last way: a plain rename, which would replace a file under the
  // target's name. The check that the name is free and the rename happen
  // under the directory's lock, which every run of this program takes for
  // them, so that two runs never both find the name free. Other programs do
  // not take that lock: one that creates a file under the dated name between
  // the check and the rename, or a run of this program on another machine
  // sharing the directory, loses its file to this copy.
  FileDescriptor dir(open(directory_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir.valid()) failWith(errno);
  lockDirectory(dir.get());
  struct stat existing {};
  if (lstat(target.c_str(), &existing) == 0) failWith(EEXIST);
  if (errno != ENOENT) failWith(errno);
  if (rename(temporary_.c_str(), target.c_str()) != 0) failWith(errno);
  temporary_.clear();
}

void clearDeadTemporaries(const std::string& directory) {
  DirectoryStream stream = openDirectory(directory);
  if (!stream) return;  // the copy itself reports why
  DIR* listing = stream.get();
  const std::size_t prefixLength = std::strlen(kTemporaryPrefix);
  while (dirent* entry = readdir(listing)) {
    if (std::strncmp(entry->d_name, kTemporaryPrefix, prefixLength) != 0) continue;
    const int flags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
    FileDescriptor fd(openat(dirfd(listing), entry->d_name, O_RDWR | flags));
    if (!fd.valid() && errno == EACCES)
      fd.reset(openat(dirfd(listing), entry->d_name, O_RDONLY | flags));
    struct stat status {};
    if (!fd.valid() || fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) continue;
    if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0) continue;  // a live run's, or no locks here
    if (stillNamed(dirfd(listing), entry->d_name, fd.get())) {
      unlinkat(dirfd(listing), entry->d_name, 0);
    }
  }
}

}  // namespace platform::posix
