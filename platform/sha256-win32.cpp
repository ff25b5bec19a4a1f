// SHA-256 through Windows' BCrypt.
#include "platform/services-win32.h"
// After windows.h, which it needs.
#include <bcrypt.h>

#include "platform/sha256.h"

namespace platform {

struct Sha256::State {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  ~State() {
    if (hash) BCryptDestroyHash(hash);
    if (algorithm) BCryptCloseAlgorithmProvider(algorithm, 0);
  }
};

namespace {
bool succeeded(NTSTATUS status) { return status >= 0; }
}  // namespace

Sha256::Sha256() : state_(std::make_unique<State>()) {
  if (!succeeded(
          BCryptOpenAlgorithmProvider(&state_->algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) ||
      !succeeded(BCryptCreateHash(state_->algorithm, &state_->hash, nullptr, 0, nullptr, 0, 0))) {
    failStep("BCrypt gives no SHA-256");
  }
}

Sha256::~Sha256() = default;

void Sha256::add(const unsigned char* data, std::size_t size) {
  // BCrypt takes at most a ULONG's worth of bytes a call.
  while (size > 0) {
    const ULONG step = size > 0x40000000 ? 0x40000000 : static_cast<ULONG>(size);
    if (!succeeded(BCryptHashData(state_->hash, const_cast<PUCHAR>(data), step, 0))) {
      failStep("BCrypt's SHA-256 failed");
    }
    data += step;
    size -= step;
  }
}

std::string Sha256::hex() {
  unsigned char digest[32];
  if (!succeeded(BCryptFinishHash(state_->hash, digest, sizeof digest, 0))) {
    failStep("BCrypt's SHA-256 failed");
  }
  return hexDigits(digest, sizeof digest);
}

}  // namespace platform
