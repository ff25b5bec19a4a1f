// SHA-256 by the system's own means: OpenSSL's libcrypto on Linux, BCrypt
// on Windows. The far place's records carry it, and anyone checks them with
// the system's own tools, so the program reckons it with no code of its own.
// Private to platform/.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "platform/services.h"

namespace platform {

class Sha256 {
 public:
  // Raises StepFailure when the system has no SHA-256 to give.
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void add(const unsigned char* data, std::size_t size);
  // The digest of everything added, as 64 lowercase hex digits, as
  // sha256sum writes it; called once, at the end.
  std::string hex();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Lowercase hex digits of the bytes.
std::string hexDigits(const unsigned char* bytes, std::size_t size);

// The SHA-256 of a file, read through the services' readSequentially.
Outcome digestByReading(Services& services, const std::string& path, std::string& sha256);

}  // namespace platform
