// SHA-256 through OpenSSL's libcrypto, by its SHA256_* functions: the same
// code as its EVP interface's, without the configuration and providers that
// EVP loads first, which cost 2 MiB more at the night's peak for one digest.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/sha.h>

#include "platform/sha256.h"
#include "platform/step_failure.h"

namespace platform {

struct Sha256::State {
  SHA256_CTX context;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  if (SHA256_Init(&state_->context) != 1) failStep("libcrypto gives no SHA-256");
}

Sha256::~Sha256() = default;

void Sha256::add(const unsigned char* data, std::size_t size) {
  if (SHA256_Update(&state_->context, data, size) != 1) failStep("libcrypto's SHA-256 failed");
}

std::string Sha256::hex() {
  unsigned char digest[SHA256_DIGEST_LENGTH];
  if (SHA256_Final(digest, &state_->context) != 1) failStep("libcrypto's SHA-256 failed");
  return hexDigits(digest, sizeof digest);
}

}  // namespace platform
