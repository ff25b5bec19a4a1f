// Deleting files the way a Windows program expects: a read-only file or one
// that another program has in use stays where it is.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <utility>

#include "platform/system-posix.h"

namespace platform::posix {
namespace {

using FileIdentity = std::pair<dev_t, ino_t>;

// Whether another process holds a POSIX record lock (classic or open file
// description) on any part of the file: what file servers and Windows
// emulation take for files that Windows programs have open.
bool hasRecordLock(const std::string& path) {
  FileDescriptor file(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (!file.valid()) return false;
  struct flock probe {};
  probe.l_type = F_WRLCK;
  probe.l_whence = SEEK_SET;
  probe.l_start = 0;
  probe.l_len = 0;  // the whole file
  if (fcntl(file.get(), F_GETLK, &probe) != 0) return false;
  return probe.l_type != F_UNLCK;
}

bool isNumber(const char* name) {
  if (*name == '\0') return false;
  for (; *name != '\0'; ++name) {
    if (*name < '0' || *name > '9') return false;
  }
  return true;
}

// Of the given files, those that some other process holds open, as far as
// /proc lets this process see. One walk over all processes serves the batch.
std::set<FileIdentity> heldOpenByOthers(const std::set<FileIdentity>& wanted) {
  std::set<FileIdentity> held;
  if (wanted.empty()) return held;
  DIR* processes = opendir("/proc");
  if (processes == nullptr) return held;
  const std::string self = std::to_string(getpid());
  while (dirent* process = readdir(processes)) {
    if (!isNumber(process->d_name) || self == process->d_name) continue;
    const std::string fdDirectory = std::string("/proc/") + process->d_name + "/fd";
    DIR* descriptors = opendir(fdDirectory.c_str());
    if (descriptors == nullptr) continue;
    while (dirent* descriptor = readdir(descriptors)) {
      if (!isNumber(descriptor->d_name)) continue;
      struct stat status {};
      if (fstatat(dirfd(descriptors), descriptor->d_name, &status, 0) != 0) continue;
      FileIdentity identity{status.st_dev, status.st_ino};
      if (wanted.count(identity) != 0) held.insert(identity);
    }
    closedir(descriptors);
  }
  closedir(processes);
  return held;
}

}  // namespace

std::vector<bool> PosixServices::deleteFiles(const std::vector<std::string>& paths) {
  std::vector<bool> deleted(paths.size(), false);
  std::vector<std::pair<std::size_t, FileIdentity>> candidates;
  std::set<FileIdentity> identities;
  for (std::size_t i = 0; i < paths.size(); ++i) {
    struct stat status {};
    if (stat(paths[i].c_str(), &status) != 0 || S_ISDIR(status.st_mode)) continue;
    if ((status.st_mode & S_IWUSR) == 0) continue;  // read-only
    if (hasRecordLock(paths[i])) continue;
    FileIdentity identity{status.st_dev, status.st_ino};
    candidates.emplace_back(i, identity);
    identities.insert(identity);
  }
  const std::set<FileIdentity> held = heldOpenByOthers(identities);
  for (const auto& [index, identity] : candidates) {
    if (held.count(identity) != 0) continue;
    deleted[index] = unlink(paths[index].c_str()) == 0;
  }
  return deleted;
}

}  // namespace platform::posix
