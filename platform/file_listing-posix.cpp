// Directory listings and attributes in the terms of a Windows program.
#include <dirent.h>
#include <fnmatch.h>

#include "platform/path_text.h"
#include "platform/services-posix.h"

namespace platform::posix {
namespace {

// Names that begin with a dot are this system's hidden files.
bool isHiddenName(const std::string& name) {
  return !name.empty() && name[0] == '.' && name != "." && name != "..";
}

// Only "*" and "?" are wildcards: a "[" becomes a bracket expression that
// matches itself, and FNM_NOESCAPE keeps a backslash plain too.
std::string asFnmatchPattern(const std::string& wildcards) {
  std::string pattern;
  for (char c : wildcards) pattern += c == '[' ? std::string("[[]") : std::string(1, c);
  return pattern;
}

constexpr const char* kAccessError = "Path/File access error: ";

}  // namespace

std::vector<std::string> PosixServices::listDirectory(const std::string& pattern, int mask) {
  return listNames(pattern, mask);
}

std::vector<std::string> listNames(const std::string& pattern, int mask) {
  std::vector<std::string> names;
  const std::string last(lastComponent(pattern));
  if (last.empty()) return names;
  DirectoryStream directory = openDirectory(directoryOf(pattern));
  const int error = directory ? 0 : errno;
  if (error == ENOENT || error == ENOTDIR || error == ENAMETOOLONG || error == ELOOP) return names;
  // A directory that is there but cannot be read is no empty one: saying
  // "nothing found" would hide why, night after night.
  if (error != 0) raiseAccessError(error, kAccessError);
  const std::string matcher = asFnmatchPattern(last);
  const dirent* entry = nullptr;
  while ((errno = 0, entry = readdir(directory.get())) != nullptr) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    if (fnmatch(matcher.c_str(), name.c_str(), FNM_CASEFOLD | FNM_NOESCAPE) != 0) continue;
    if (isHiddenName(name) && (mask & kHidden) == 0) continue;
    // Links count as what they point to; only regular files are listed. The
    // entry's own type, where the file system gives one, spares a look-up.
    if (entry->d_type != DT_REG) {
      struct stat status {};
      if (fstatat(dirfd(directory.get()), name.c_str(), &status, 0) != 0) continue;
      if (!S_ISREG(status.st_mode)) continue;
    }
    names.push_back(name);
  }
  if (errno != 0) raiseAccessError(errno, kAccessError);
  return names;
}

std::optional<std::uint32_t> PosixServices::attributes(const std::string& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) return std::nullopt;
  std::uint32_t bits = S_ISDIR(status.st_mode) ? kDirectory : kArchive;
  if ((status.st_mode & S_IWUSR) == 0) bits |= kReadOnly;
  if (isHiddenName(std::string(lastComponent(path)))) bits |= kHidden;
  return bits;
}

}  // namespace platform::posix
