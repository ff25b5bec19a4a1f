// Fuzzes the check of an Access file, from the sound fixtures: whatever the
// bytes, it ends with a one-line verdict, and the same one however the
// reading cuts them into pieces.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "access/check.h"

namespace {

std::string verdict(const std::uint8_t* data, std::size_t size, std::size_t cut) {
  jet::Check check;
  if (check.feed(data, cut)) check.feed(data + cut, size - cut);
  check.revisitFrom(data, size);
  return check.finish();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string whole = verdict(data, size, size);
  if (whole.find_first_of("\r\n") != std::string::npos) std::abort();
  if (size > 0 && verdict(data, size, data[0] * size / 256) != whole) std::abort();
  return 0;
}
