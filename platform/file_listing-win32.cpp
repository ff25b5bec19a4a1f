// Directory listings and attributes through the Windows find functions.
#include "platform/path_text.h"
#include "platform/services-win32.h"
#include "platform/wildcard.h"

namespace platform::win32 {
namespace {

bool wanted(const WIN32_FIND_DATAA& entry, int mask, const std::string& pattern) {
  if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return false;
  DWORD special = entry.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  if ((special & ~static_cast<DWORD>(mask)) != 0) return false;
  // The system also matches the short 8.3 names, so "*.mdb" would list
  // "x.mdb_old"; under wildcards only the long name counts. A literal name
  // may be a short name, and is taken as the system found it.
  if (pattern.find_first_of("*?") == std::string::npos) return true;
  return matchesWildcards(pattern, entry.cFileName);
}

// Errors that say nothing of that name is there.
bool namesNothing(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
         error == ERROR_BAD_NETPATH || error == ERROR_BAD_NET_NAME || error == ERROR_NOT_READY ||
         error == ERROR_INVALID_DRIVE;
}

[[noreturn]] void raiseAccessError(DWORD error) {
  throw RunTimeError(kPathFileAccessError, "Path/File access error: " + errorText(error));
}

}  // namespace

std::vector<std::string> Win32Services::listDirectory(const std::string& pattern, int mask) {
  return listNames(pattern, mask);
}

std::vector<std::string> listNames(const std::string& pattern, int mask) {
  std::vector<std::string> names;
  const std::string last(lastComponent(pattern));
  WIN32_FIND_DATAA entry{};
  Handle find(FindFirstFileA(pattern.c_str(), &entry), FindClose);
  if (!find.valid()) {
    const DWORD error = GetLastError();
    // A folder that is there but cannot be read is no empty one.
    if (namesNothing(error) || error == ERROR_INVALID_NAME || error == ERROR_NO_MORE_FILES) {
      return names;
    }
    raiseAccessError(error);
  }
  do {
    if (wanted(entry, mask, last)) names.push_back(entry.cFileName);
  } while (FindNextFileA(find.get(), &entry));
  if (GetLastError() != ERROR_NO_MORE_FILES) raiseAccessError(GetLastError());
  return names;
}

std::optional<std::uint32_t> Win32Services::attributes(const std::string& path) {
  DWORD bits = GetFileAttributesA(path.c_str());
  if (bits == INVALID_FILE_ATTRIBUTES) return std::nullopt;
  return bits;
}

}  // namespace platform::win32
