// Gathering the ODBC installer's error messages after a failed request.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// SQL_SUCCESS and SQL_SUCCESS_WITH_INFO, the results that carry a message.
inline bool returnedMessage(std::int16_t result) { return result == 0 || result == 1; }

// The installer keeps up to eight messages, and a driver's own may follow the
// installer's, so all of them are joined. `readMessage(index, buffer, size)`
// fills the buffer with message `index` (from 1) and tells whether there was
// one.
template <typename ReadMessage>
std::string installerMessages(ReadMessage readMessage) {
  std::string messages;
  for (std::uint16_t index = 1; index <= 8; ++index) {
    char message[1024] = {};
    if (!readMessage(index, message, static_cast<std::uint16_t>(sizeof message))) break;
    if (message[0] == '\0') continue;
    messages += (messages.empty() ? "" : "; ") + std::string(message);
  }
  return messages.empty() ? "the ODBC installer reported failure" : messages;
}

}  // namespace platform
