// A failure raised by a platform or text operation. It carries the number
// and description by which the program's error handlers tell failures apart.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace platform {

// The numbers the program raises and recognises.
enum ErrorNumber : std::int32_t {
  kInvalidProcedureCall = 5,
  kOutOfMemory = 7,
  kSubscriptOutOfRange = 9,
  kInternalError = 51,
  kBadFileNameOrNumber = 52,
  kFileNotFound = 53,
  kPathFileAccessError = 75,
  kEntryPointNotFound = 453,
  kUnspecifiedFailure = -2147467259,  // 0x80004005
};

class RunTimeError : public std::runtime_error {
 public:
  RunTimeError(std::int32_t number, const std::string& description)
      : std::runtime_error(description), number_(number) {}

  std::int32_t number() const { return number_; }
  std::string description() const { return what(); }

 private:
  std::int32_t number_;
};

}  // namespace platform
