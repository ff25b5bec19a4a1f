// SHA-256 through OpenSSL's libcrypto.
#include <openssl/evp.h>

#include "platform/sha256.h"
#include "platform/step_failure.h"

namespace platform {

struct Sha256::State {
  EVP_MD_CTX* context = nullptr;
  ~State() { EVP_MD_CTX_free(context); }
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  state_->context = EVP_MD_CTX_new();
  if (state_->context == nullptr ||
      EVP_DigestInit_ex(state_->context, EVP_sha256(), nullptr) != 1) {
    failStep("libcrypto gives no SHA-256");
  }
}

Sha256::~Sha256() = default;

void Sha256::add(const unsigned char* data, std::size_t size) {
  if (EVP_DigestUpdate(state_->context, data, size) != 1) failStep("libcrypto's SHA-256 failed");
}

std::string Sha256::hex() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (EVP_DigestFinal_ex(state_->context, digest, &size) != 1) {
    failStep("libcrypto's SHA-256 failed");
  }
  return hexDigits(digest, size);
}

}  // namespace platform
