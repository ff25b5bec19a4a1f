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

}  // namespace

std::vector<std::string> Win32Services::listDirectory(const std::string& pattern, int mask) {
  std::vector<std::string> names;
  const std::string last(lastComponent(pattern));
  WIN32_FIND_DATAA entry{};
  Handle find(FindFirstFileA(pattern.c_str(), &entry), FindClose);
  if (!find.valid()) return names;
  do {
    if (wanted(entry, mask, last)) names.push_back(entry.cFileName);
  } while (FindNextFileA(find.get(), &entry));
  return names;
}

std::optional<std::uint32_t> Win32Services::attributes(const std::string& path) {
  DWORD bits = GetFileAttributesA(path.c_str());
  if (bits == INVALID_FILE_ATTRIBUTES) return std::nullopt;
  return bits;
}

}  // namespace platform::win32
