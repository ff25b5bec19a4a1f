// Reading the settings file with the system's profile function.
#include <vector>

#include "platform/services-win32.h"

namespace platform::win32 {

std::string Win32Services::readSetting(const std::string& section, const std::string& key,
                                       const std::string& defaultText, std::size_t bufferSize,
                                       const std::string& path) {
  if (bufferSize == 0) return {};
  std::vector<char> buffer(bufferSize, '\0');
  DWORD count =
      GetPrivateProfileStringA(section.c_str(), key.c_str(), defaultText.c_str(), buffer.data(),
                               static_cast<DWORD>(bufferSize), path.c_str());
  return std::string(buffer.data(), count);
}

}  // namespace platform::win32
