// Deleting files the way a Windows program expects: a read-only file or one
// that another program has in use stays where it is.
//
// "In use" is the kernel's word alone: a write lease, granted only while no
// other open of the file exists on this machine, whoever holds it, under
// whatever root and in whatever namespace (Samba's smbd serving an office
// PC among them). The name goes while the lease is held, so nobody opens
// the file in between. Nothing here looks at what other processes hold
// open, so a dead network or FUSE mount elsewhere cannot hang a run.
//
// Leases go only to the file's owner or a holder of CAP_LEASE, on file
// systems that have them. For a lock file, which decides whether the
// database may be touched, anything short of the lease keeps it. An old
// copy the kernel cannot answer for goes as it always has: a deleted file
// stays readable to whoever has it open, so a holder missed loses nothing.
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <map>
#include <string_view>

#include "platform/path_text.h"
#include "platform/services-posix.h"

namespace platform::posix {
namespace {

Outcome failed(int error) { return {false, errnoText(error)}; }

// Why a file is not one that Windows would delete, a regular file its owner
// may write; 0 when it is.
int undeletable(const struct stat& status) {
  if (S_ISDIR(status.st_mode)) return EISDIR;
  if (!S_ISREG(status.st_mode)) return EINVAL;
  return (status.st_mode & S_IWUSR) == 0 ? EACCES : 0;  // read-only
}

// Whether the file lies on a network file system whose client refuses a
// write lease with EAGAIN, as for a file in use, whenever the server has not
// delegated the file to it (NFS 4, SMB): there the refusal says nothing.
bool leasesNeedDelegation(int fd) {
  struct statfs system {};
  const auto type = fstatfs(fd, &system) == 0 ? static_cast<unsigned long>(system.f_type) : 0;
  return type == NFS_SUPER_MAGIC || type == CIFS_SUPER_MAGIC || type == SMB2_SUPER_MAGIC;
}

// Deletes `name` within `directory` (a descriptor, or AT_FDCWD for a
// path) unless it is read-only or in use. `strict`: only the lease proves
// that it is not in use.
Outcome deleteIfUnused(int directory, const char* name, bool strict) {
  struct stat listed {
  }, opened{};
  if (fstatat(directory, name, &listed, AT_SYMLINK_NOFOLLOW) != 0) return failed(errno);
  if (const int error = undeletable(listed)) return failed(error);
  // Without blocking: a lease someone else holds fails the open at once.
  FileDescriptor file(
      openat(directory, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (file.valid() && (fstat(file.get(), &opened) != 0 || !sameFile(listed, opened))) {
    return failed(EAGAIN);  // replaced meanwhile: the next run judges the new file
  }
  const int refused = !file.valid()                                 ? errno
                      : fcntl(file.get(), F_SETLEASE, F_WRLCK) != 0 ? errno
                                                                    : 0;
  if (refused == EAGAIN && (strict || !file.valid() || !leasesNeedDelegation(file.get()))) {
    return {false, "in use by another process"};
  }
  if (refused != 0 && strict) return failed(refused);
  if (unlinkat(directory, name, 0) != 0) return failed(errno);
  return {true, ""};  // the lease ends with the descriptor
}

}  // namespace

Outcome PosixServices::deleteUnused(const std::string& path) {
  return deleteIfUnused(AT_FDCWD, path.c_str(), true);
}

std::vector<Outcome> PosixServices::deleteFiles(const std::vector<std::string>& paths) {
  // Each directory is opened once, so that a look-up or an unlink searches
  // it alone instead of walking the whole path again, a cost that rm,
  // working in the directory, does not pay. A path that ends in a
  // separator, or whose directory cannot be opened, is used whole, and its
  // look-up then says why it fails.
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
