// What both systems' SHA-256 share: the hex form, and a file's digest.
#include "platform/sha256.h"

#include "platform/step_failure.h"

namespace platform {

std::string hexDigits(const unsigned char* bytes, std::size_t size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (std::size_t i = 0; i < size; ++i) {
    hex += kDigits[bytes[i] >> 4];
    hex += kDigits[bytes[i] & 15];
  }
  return hex;
}

Outcome digestByReading(Services& services, const std::string& path, std::string& sha256) {
  sha256.clear();
  std::string hex;
  Outcome read = outcomeOf([&] {
    Sha256 digest;
    const Outcome outcome =
        services.readSequentially(path, [&](const unsigned char* data, std::size_t size) {
          digest.add(data, size);
          return true;
        });
    if (!outcome.ok) failStep(outcome.reason);
    hex = digest.hex();
  });
  if (read.ok) sha256 = hex;
  return read;
}

}  // namespace platform
