// Deleting files the way a Windows program expects: a read-only file or one
// that another program has in use stays where it is.
//
// Two strengths of "in use". For a lock file, which decides whether the
// database may be touched, only the kernel's word that nobody has it open
// will do: a write lease. For old copies, one look at the other processes'
// open files and record locks serves the whole batch; a holder missed there
// costs nothing, since a deleted file stays readable to whoever has it open.
// Neither follows another process's open file into its file system, so a
// dead network or FUSE mount elsewhere cannot hang a run.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string_view>
#include <utility>

#include "platform/path_text.h"
#include "platform/system-posix.h"

namespace platform::posix {
namespace {

using FileIdentity = std::pair<dev_t, ino_t>;

Outcome failed(int error) { return {false, errnoText(error)}; }

// A regular file that its owner may write: what Windows would delete. Read
// without following a link.
Outcome deletable(const struct stat& status) {
  if (S_ISDIR(status.st_mode)) return failed(EISDIR);
  if (!S_ISREG(status.st_mode)) return failed(EINVAL);
  if ((status.st_mode & S_IWUSR) == 0) return failed(EACCES);  // read-only
  return {true, ""};
}

bool isNumber(const char* name) {
  return *name != '\0' && std::strspn(name, "0123456789") == std::strlen(name);
}

// The whole of a small file under /proc, or nothing when it cannot be read:
// `name` within the directory open as `directory` (AT_FDCWD for a path).
std::string procText(int directory, const char* name) {
  FileDescriptor file(openat(directory, name, O_RDONLY | O_CLOEXEC));
  std::optional<std::string> text;
  if (file.valid()) text = readAll(file.get(), 64 << 20);
  return text.value_or("");
}

// The device of each mount in a mountinfo file, by mount id.
std::map<unsigned long, dev_t> mountDevices(const std::string& mountinfo) {
  std::map<unsigned long, dev_t> devices;
  std::istringstream mounts(procText(AT_FDCWD, mountinfo.c_str()));
  for (std::string line; std::getline(mounts, line);) {
    unsigned long id = 0, parent = 0;
    unsigned major = 0, minor = 0;
    if (std::sscanf(line.c_str(), "%lu %lu %u:%u", &id, &parent, &major, &minor) == 4) {
      devices[id] = makedev(major, minor);
    }
  }
  return devices;
}

// The device behind a mount id as a process sees it, its mount namespace's
// table read the first time it is needed. The kernel's own mounts for pipes,
// sockets and the like are in no table: a file there is no copy of ours.
class MountDevices {
 public:
  MountDevices() : own_(mountDevices("/proc/self/mountinfo")) {}

  std::optional<dev_t> of(const std::string& process, unsigned long mount) {
    if (auto found = own_.find(mount); found != own_.end()) return found->second;
    const std::string proc = "/proc/" + process;
    char name[64] = {};
    ssize_t length = readlink((proc + "/ns/mnt").c_str(), name, sizeof name - 1);
    auto [table, added] = others_.try_emplace(length > 0 ? std::string(name) : proc);
    if (added) table->second = mountDevices(proc + "/mountinfo");
    if (auto found = table->second.find(mount); found != table->second.end()) return found->second;
    return std::nullopt;
  }

 private:
  std::map<unsigned long, dev_t> own_;
  std::map<std::string, std::map<unsigned long, dev_t>> others_;  // by mount namespace
};

// The files that some process holds a record lock on, from /proc/locks:
// "1: POSIX  ADVISORY  WRITE 1234 08:01:5678 0 EOF", the device in hex. No
// other field holds two colons.
std::set<FileIdentity> lockedFiles() {
  std::set<FileIdentity> locked;
  std::istringstream fields(procText(AT_FDCWD, "/proc/locks"));
  for (std::string field; fields >> field;) {
    unsigned major = 0, minor = 0;
    unsigned long inode = 0;
    if (std::sscanf(field.c_str(), "%x:%x:%lu", &major, &minor, &inode) == 3) {
      locked.insert({makedev(major, minor), static_cast<ino_t>(inode)});
    }
  }
  return locked;
}

// The mount and inode of an open file, from /proc/<pid>/fdinfo/<fd>, which
// the kernel writes without asking the file's own file system.
bool openFileIdentity(int fdinfoDirectory, const char* fd, unsigned long& mount, ino_t& inode) {
  const std::string text = procText(fdinfoDirectory, fd);
  const char* mountLine = std::strstr(text.c_str(), "mnt_id:");
  const char* inodeLine = std::strstr(text.c_str(), "ino:");
  unsigned long number = 0;
  if (mountLine == nullptr || inodeLine == nullptr ||
      std::sscanf(mountLine, "mnt_id: %lu", &mount) != 1 ||
      std::sscanf(inodeLine, "ino: %lu", &number) != 1) {
    return false;
  }
  inode = static_cast<ino_t>(number);
  return true;
}

// Of the wanted files, those that another process holds open or locked, as
// far as this process can see.
std::set<FileIdentity> heldByOthers(const std::set<FileIdentity>& wanted) {
  std::set<FileIdentity> held;
  if (wanted.empty()) return held;  // no walk of every process for nothing
  for (const FileIdentity& identity : lockedFiles()) {
    if (wanted.count(identity) != 0) held.insert(identity);
  }
  std::multimap<ino_t, FileIdentity> byInode;
  for (const FileIdentity& identity : wanted) byInode.emplace(identity.second, identity);
  MountDevices devices;
  DirectoryStream processes = openDirectory("/proc");
  if (!processes) return held;
  const std::string self = std::to_string(getpid());
  while (dirent* process = readdir(processes.get())) {
    if (!isNumber(process->d_name) || self == process->d_name) continue;
    DirectoryStream descriptors =
        openDirectory(std::string("/proc/") + process->d_name + "/fdinfo");
    if (!descriptors) continue;
    while (dirent* descriptor = readdir(descriptors.get())) {
      unsigned long mount = 0;
      ino_t inode = 0;
      if (!isNumber(descriptor->d_name) ||
          !openFileIdentity(dirfd(descriptors.get()), descriptor->d_name, mount, inode)) {
        continue;
      }
      auto [first, last] = byInode.equal_range(inode);
      if (first == last) continue;
      const std::optional<dev_t> device = devices.of(process->d_name, mount);
      for (auto it = first; device && it != last; ++it) {
        if (*device == it->second.first) held.insert(it->second);
      }
    }
  }
  return held;
}

// Unlinks `path` while it still names the file held open as `file`.
Outcome unlinkHeld(const std::string& path, int file) {
  struct stat held {
  }, named{};
  if (fstat(file, &held) != 0 || lstat(path.c_str(), &named) != 0) return failed(errno);
  if (held.st_dev != named.st_dev || held.st_ino != named.st_ino) return failed(EAGAIN);
  if (unlink(path.c_str()) != 0) return failed(errno);
  return {true, ""};
}

// A file of a batch as a name in its directory. Each directory of the batch
// is opened once, so that a look-up or an unlink searches that directory
// alone instead of walking the whole path again, a cost that rm, working in
// the directory, does not pay. A path that ends in a separator, or
// whose directory cannot be opened, is used whole, and its look-up then says
// why it fails.
struct NameInDirectory {
  int directory;
  const char* name;  // within the path, which outlives it
};

class BatchDirectories {
 public:
  // The path must outlive what is returned.
  NameInDirectory locate(const std::string& path) {
    const std::string_view name = lastComponent(path);
    if (name.empty()) return {AT_FDCWD, path.c_str()};
    auto [entry, added] = opened_.try_emplace(std::string(directoryPrefix(path)));
    if (added) {
      entry->second.reset(open(directoryOf(path).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    }
    if (!entry->second.valid()) return {AT_FDCWD, path.c_str()};
    return {entry->second.get(), name.data()};
  }

 private:
  std::map<std::string, FileDescriptor> opened_;  // by the paths' directory part
};

}  // namespace

Outcome PosixServices::deleteUnused(const std::string& path) {
  // Without blocking: a lease someone else holds fails the open at once.
  FileDescriptor file(
      open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY));
  if (!file.valid()) return failed(errno);
  struct stat status {};
  if (fstat(file.get(), &status) != 0) return failed(errno);
  Outcome allowed = deletable(status);
  if (!allowed.ok) return allowed;
  // Granted only while no other open of the file exists anywhere on this
  // kernel, and only to the file's owner or a holder of CAP_LEASE; refused
  // (EAGAIN, EACCES, EINVAL on file systems without leases) it is no proof.
  if (fcntl(file.get(), F_SETLEASE, F_WRLCK) != 0) return failed(errno);
  Outcome deleted = unlinkHeld(path, file.get());
  fcntl(file.get(), F_SETLEASE, F_UNLCK);
  return deleted;
}

std::vector<Outcome> PosixServices::deleteFiles(const std::vector<std::string>& paths) {
  std::vector<Outcome> outcomes;
  std::vector<NameInDirectory> names;
  std::vector<FileIdentity> identities;
  std::set<FileIdentity> candidates;
  BatchDirectories directories;
  for (const std::string& path : paths) {
    names.push_back(directories.locate(path));
    struct stat status {};
    const bool found =
        fstatat(names.back().directory, names.back().name, &status, AT_SYMLINK_NOFOLLOW) == 0;
    outcomes.push_back(found ? deletable(status) : failed(errno));
    identities.push_back({status.st_dev, status.st_ino});
    if (outcomes.back().ok) candidates.insert(identities.back());
  }
  const std::set<FileIdentity> held = heldByOthers(candidates);
  for (std::size_t i = 0; i < paths.size(); ++i) {
    if (!outcomes[i].ok) continue;
    if (held.count(identities[i]) != 0) {
      outcomes[i] = {false, "in use by another process"};
    } else if (unlinkat(names[i].directory, names[i].name, 0) != 0) {
      outcomes[i] = failed(errno);
    }
  }
  return outcomes;
}

}  // namespace platform::posix
