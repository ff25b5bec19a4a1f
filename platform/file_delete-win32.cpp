#include "platform/system-win32.h"

namespace platform::win32 {

// The system itself refuses a read-only file and one that another program
// holds open without delete sharing.
std::vector<bool> Win32Services::deleteFiles(const std::vector<std::string>& paths) {
  std::vector<bool> deleted;
  for (const std::string& path : paths) deleted.push_back(DeleteFileA(path.c_str()) != 0);
  return deleted;
}

}  // namespace platform::win32
