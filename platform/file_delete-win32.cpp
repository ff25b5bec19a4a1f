// Deleting files; the system keeps those that are read-only or in use.
#include "platform/services-win32.h"

namespace platform::win32 {

// The system itself refuses a read-only file and one that another program
// holds open without delete sharing, whoever and wherever that program is.
Outcome Win32Services::deleteUnused(const std::string& path) {
  if (DeleteFileA(path.c_str())) return {true, ""};
  return {false, errorText(GetLastError())};
}

}  // namespace platform::win32
