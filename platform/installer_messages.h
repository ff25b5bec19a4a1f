// Gathering the ODBC installer's error messages after a failed request.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// What the installer reported about a failed request.
struct InstallerErrors {
  std::string text;                  // the messages, joined
  std::vector<std::uint32_t> codes;  // the error code of each report, in order
};

// The installer keeps up to eight messages, and a driver's own may follow the
// installer's, so all of them are joined. `installerError` is the installer's
// SQLInstallerError, or null where it has none; `Code` is the type of its
// error code on this system.
template <typename Code, typename ErrorFunction>
InstallerErrors installerErrors(ErrorFunction installerError) {
  InstallerErrors errors;
  for (std::uint16_t index = 1; installerError != nullptr && index <= 8; ++index) {
    char message[1024] = {};
    Code code = 0;
    std::uint16_t length = 0;
    const std::int16_t result = installerError(index, &code, message, sizeof message, &length);
    if (result != 0 && result != 1) break;  // SQL_SUCCESS(_WITH_INFO) carry a message
    errors.codes.push_back(static_cast<std::uint32_t>(code));
    if (message[0] == '\0') continue;
    errors.text += (errors.text.empty() ? "" : "; ") + std::string(message);
  }
  if (errors.text.empty()) errors.text = "the ODBC installer reported failure";
  return errors;
}

}  // namespace platform
