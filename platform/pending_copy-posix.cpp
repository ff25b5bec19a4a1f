// The ways of naming a finished copy without replacing a file, and the
// clearing of temporaries killed runs left. Without unnamed files (vfat,
// exFAT, NTFS, many FUSE and network mounts) the data goes to a hidden
// temporary its run keeps locked; one that anybody can lock is a dead run's.
#include "platform/pending_copy-posix.h"

#include <fcntl.h>
#include <stdio.h>  // renameat2
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <iterator>
#include <string_view>
#include <thread>

#include "platform/path_text.h"

namespace platform::posix {
namespace {

// The temporaries' names begin with this; a dot hides them from listings.
constexpr std::string_view kTemporaryPrefix = ".muTesselCopy-";

// Whether `name` in `directory` (or AT_FDCWD) is still the file open as `fd`.
bool stillNamed(int directory, const char* name, int fd) {
  struct stat named = {}, open = {};
  return fstatat(directory, name, &named, AT_SYMLINK_NOFOLLOW) == 0 && fstat(fd, &open) == 0 &&
         sameFile(named, open);
}

// Each step returns 0 or the errno of its failure.
int openUnnamed(const std::string& directory, FileDescriptor& fd, std::string&) {
  fd.reset(open(directory.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
  return fd.valid() ? 0 : errno;
}

int openNamed(const std::string& directory, FileDescriptor& fd, std::string& temporary) {
  for (int attempt = 0; attempt < 5; ++attempt) {
    std::string path = directory + "/" + std::string(kTemporaryPrefix) + "XXXXXX";
    fd.reset(mkostemp(path.data(), O_CLOEXEC));
    if (!fd.valid()) return errno;
    // A run clearing dead temporaries may take and remove this one before
    // it is locked: then start over. Where the file system has no locks it
    // goes unlocked, and other runs, unable to lock it either, leave it.
    const bool locked = flock(fd.get(), LOCK_EX | LOCK_NB) == 0;
    if (!locked && errno == EWOULDBLOCK) continue;
    if (locked && !stillNamed(AT_FDCWD, path.c_str(), fd.get())) continue;
    temporary = path;
    return 0;
  }
  fd.reset();
  return EAGAIN;
}

// 0 when a call succeeded, else its errno.
int errorOf(int status) { return status == 0 ? 0 : errno; }

int linkUnnamed(const PendingCopy& copy, const std::string& target) {
  const std::string self = "/proc/self/fd/" + std::to_string(copy.fd());
  return errorOf(linkat(AT_FDCWD, self.c_str(), AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW));
}

int linkTemporary(const PendingCopy& copy, const std::string& target) {
  // Should the unlink fail, the temporary is one more name of the copy,
  // which the next run clears.
  const int error = errorOf(link(copy.temporary().c_str(), target.c_str()));
  if (error == 0) unlink(copy.temporary().c_str());
  return error;
}

int renameNoReplace(const PendingCopy& copy, const std::string& target) {
  const char* from = copy.temporary().c_str();
  return errorOf(renameat2(AT_FDCWD, from, AT_FDCWD, target.c_str(), RENAME_NOREPLACE));
}

// A plain rename replaces, so every run checks that the name is free and
// renames under the directory's lock. Another program, or a run on another
// machine, that creates the dated name in between loses its file to the copy.
int renameUnderLock(const PendingCopy& copy, const std::string& target) {
  FileDescriptor dir(openDirectoryFile(directoryOf(target)));
  if (!dir.valid()) return errno;
  // Waits a few seconds at most: its holders hold it for two system calls.
  for (int attempt = 0; retryAfterSignal(-1, flock, dir.get(), LOCK_EX | LOCK_NB) != 0; ++attempt) {
    if (errno != EWOULDBLOCK || attempt == 500) return errno;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  struct stat existing {};
  if (lstat(target.c_str(), &existing) == 0) return EEXIST;
  if (errno != ENOENT) return errno;
  return errorOf(rename(copy.temporary().c_str(), target.c_str()));
}

// Where the data goes, how it is named, and the errors of either step by
// which the file system says it lacks this way, so that the next takes over.
struct Way {
  int (*open)(const std::string& directory, FileDescriptor& fd, std::string& temporary);
  int (*name)(const PendingCopy& copy, const std::string& target);
  std::array<int, 3> unsupported;
};

// In the order tried, each with the file systems that it serves.
constexpr Way kWays[] = {
    {openUnnamed, linkUnnamed, {EOPNOTSUPP, EISDIR, EINVAL}},    // ext4, XFS, btrfs, tmpfs
    {openNamed, linkTemporary, {EPERM, EOPNOTSUPP, ENOSYS}},     // NTFS through ntfs-3g
    {openNamed, renameNoReplace, {EINVAL, EOPNOTSUPP, ENOSYS}},  // Linux's vfat and exfat
    {openNamed, renameUnderLock, {}},                            // exFAT through exfat-fuse
};

bool unsupported(const Way& way, int error) {
  const auto& errors = way.unsupported;
  return error != 0 && std::find(errors.begin(), errors.end(), error) != errors.end();
}

}  // namespace

PendingCopy::PendingCopy(const std::string& directory, std::size_t firstWay) {
  int error = EOPNOTSUPP;
  for (opened_ = firstWay; opened_ < std::size(kWays); ++opened_) {
    error = kWays[opened_].open(directory, fd_, temporary_);
    if (!unsupported(kWays[opened_], error)) break;
  }
  if (error != 0) failWith(error);
}

PendingCopy::~PendingCopy() {
  if (!temporary_.empty()) unlink(temporary_.c_str());
}

void PendingCopy::nameAs(const std::string& target) {
  int error = EOPNOTSUPP;
  // The ways that name the same kind of file as the one the data is in.
  for (std::size_t way = opened_; way < std::size(kWays) && kWays[way].open == kWays[opened_].open;
       ++way) {
    error = kWays[way].name(*this, target);
    if (!unsupported(kWays[way], error)) break;
  }
  if (error != 0) failWith(error);
  temporary_.clear();
}

void clearDeadTemporaries(const std::string& directory) {
  DirectoryStream stream = openDirectory(directory);
  if (!stream) return;  // the copy itself reports why
  const int dir = dirfd(stream.get());
  while (dirent* entry = readdir(stream.get())) {
    if (std::string_view(entry->d_name).rfind(kTemporaryPrefix, 0) != 0) continue;
    const int flags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
    FileDescriptor fd(openat(dir, entry->d_name, O_RDWR | flags));
    if (!fd.valid() && errno == EACCES) fd.reset(openat(dir, entry->d_name, O_RDONLY | flags));
    struct stat status {};
    if (!fd.valid() || fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) continue;
    if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0) continue;  // a live run's, or no locks here
    if (stillNamed(dir, entry->d_name, fd.get())) unlinkat(dir, entry->d_name, 0);
  }
}

}  // namespace platform::posix
