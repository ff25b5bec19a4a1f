// Deleting as a Windows program expects: a read-only file, or one another
// program has in use, stays. "In use" is the kernel's word: it grants a write
// lease only while nobody else on this machine has the file open (smbd
// serving an office PC among them); the name goes while the lease is held.
// Leases go only to the owner or a holder of CAP_LEASE, on file systems that
// have them. A lock file, which decides whether the database is touched,
// stays on anything short of the lease, and on file systems whose leases do
// not see every opener (file_systems-posix.cpp says which do); an old copy
// the kernel cannot answer for goes, since a deleted file stays readable to
// whoever has it open.
#include <fcntl.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <map>

#include "platform/file_systems-posix.h"
#include "platform/path_text.h"
#include "platform/services-posix.h"

namespace platform::posix {
namespace {

Outcome failed(int error) { return {false, errnoText(error)}; }

// Why Windows would not delete the file (only a regular file its owner may
// write goes); 0 when it would.
int undeletable(const struct stat& status) {
  if (S_ISDIR(status.st_mode)) return EISDIR;
  if (!S_ISREG(status.st_mode)) return EINVAL;
  return (status.st_mode & S_IWUSR) == 0 ? EACCES : 0;
}

Outcome inUse() { return {false, "in use by another process"}; }

// Empty when a lease on the open file `fd`, whose status is `opened`, shows
// whether it is in use; otherwise the file system it cannot, for the log.
std::string whereLeasesAreBlind(int fd, const struct stat& opened) {
  const unsigned long type = fileSystemType(fd);
  const FileSystem* system = knownFileSystem(type);
  if (system == nullptr) {
    char unknown[32];
    std::snprintf(unknown, sizeof unknown, "file system 0x%lx", type);
    return unknown;
  }
  if (system->lease != Lease::kSeesAllOnDisk) {
    return system->lease == Lease::kBlind ? system->name : "";
  }
  // A FUSE file system on a block device (ntfs-3g, exfat-fuse) has that
  // device's number; others an anonymous one, whose major is 0.
  return major(opened.st_dev) != 0 ? "" : "FUSE without a local disk";
}

// Deletes `name` in `directory` (a descriptor, or AT_FDCWD) unless read-only
// or in use. `strict`: only the lease proves that it is not in use.
Outcome deleteIfUnused(int directory, const char* name, bool strict) {
  struct stat listed = {}, opened = {};
  if (fstatat(directory, name, &listed, AT_SYMLINK_NOFOLLOW) != 0) return failed(errno);
  if (const int error = undeletable(listed)) return failed(error);
  // Without blocking: a lease someone else holds fails the open at once.
  FileDescriptor file(
      openat(directory, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (file.valid() && (fstat(file.get(), &opened) != 0 || !sameFile(listed, opened))) {
    return failed(EAGAIN);  // replaced meanwhile: the next run judges the new file
  }
  if (strict && file.valid()) {
    const std::string blind = whereLeasesAreBlind(file.get(), opened);
    if (!blind.empty()) {
      return {false, "whether it is in use cannot be told on " + blind, false, true};
    }
  }
  const int refused = file.valid() && fcntl(file.get(), F_SETLEASE, F_WRLCK) == 0 ? 0 : errno;
  if (refused == EAGAIN &&
      (strict || !file.valid() || !leasesNeedDelegation(fileSystemType(file.get())))) {
    return inUse();
  }
  if (refused != 0 && strict) return failed(refused);
  if (unlinkat(directory, name, 0) != 0) return failed(errno);
  // A program that opened the file after the lease was granted has waited
  // in the lease break, and now has the file without its name: the lease is
  // then no longer a write lease, and the file was in use after all.
  if (strict && fcntl(file.get(), F_GETLEASE) != F_WRLCK) return inUse();
  return {true, ""};  // the lease ends with the descriptor
}

}  // namespace

Outcome PosixServices::deleteUnused(const std::string& path) {
  return deleteIfUnused(AT_FDCWD, path.c_str(), true);
}

std::vector<Outcome> PosixServices::deleteFiles(const std::vector<std::string>& paths) {
  // Each directory is opened once, so that a look-up searches it alone, as
  // rm's do, instead of walking the whole path again. A path that ends in a
  // separator, or whose directory cannot be opened, is used whole.
  std::map<std::string, FileDescriptor> directories;  // by the paths' directory part
  std::vector<Outcome> outcomes;
  for (const std::string& path : paths) {
    const std::string_view name = lastComponent(path);
    auto [entry, added] = directories.try_emplace(std::string(directoryPrefix(path)));
    if (added) entry->second.reset(openDirectoryFile(directoryOf(path)));
    const bool within = !name.empty() && entry->second.valid();
    outcomes.push_back(deleteIfUnused(within ? entry->second.get() : AT_FDCWD,
                                      within ? name.data() : path.c_str(), false));
  }
  return outcomes;
}

}  // namespace platform::posix
