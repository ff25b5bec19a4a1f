// Gathering the ODBC installer's error messages after a failed request.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// The installer keeps up to eight messages, and a driver's own may follow the
// installer's, so all of them are joined. `installerError` is the installer's
// SQLInstallerError, or null where it has none; `Code` is the type of its
// error code on this system.
template <typename Code, typename ErrorFunction>
std::string installerMessages(ErrorFunction installerError) {
  std::string messages;
  for (std::uint16_t index = 1; installerError != nullptr && index <= 8; ++index) {
    char message[1024] = {};
    Code code = 0;
    std::uint16_t length = 0;
    const std::int16_t result = installerError(index, &code, message, sizeof message, &length);
    if (result != 0 && result != 1) break;  // SQL_SUCCESS(_WITH_INFO) carry a message
    if (message[0] == '\0') continue;
    messages += (messages.empty() ? "" : "; ") + std::string(message);
  }
  return messages.empty() ? "the ODBC installer reported failure" : messages;
}

}  // namespace platform
