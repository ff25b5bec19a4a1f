// Fuzzes the settings reader: whatever the file holds, the value fits the
// buffer, holds no NUL, and does not depend on how the lines end.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/profile_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The first byte picks the buffer size, small ones included.
  const std::size_t bufferSize = data[0] < 200 ? data[0] : 4096;
  const std::string content(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::string value = platform::profileValue(content, "settings", "Database", "", bufferSize);
  if (bufferSize > 0 && value.size() >= bufferSize) std::abort();
  if (bufferSize == 0 && !value.empty()) std::abort();
  if (value.find('\0') != std::string::npos) std::abort();

  std::string withCrLf;
  for (char c : content) {
    if (c == '\r') continue;  // lone CRs are line ends too; keep the test to LF
    withCrLf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  }
  // In UTF-16 a line end is two bytes; the rewrite above is for 8-bit text.
  const bool utf16 = content.rfind("\xFF\xFE", 0) == 0 || content.rfind("\xFE\xFF", 0) == 0;
  if (!utf16 && content.find('\r') == std::string::npos &&
      platform::profileValue(withCrLf, "settings", "Database", "", bufferSize) != value) {
    std::abort();
  }
  return 0;
}
