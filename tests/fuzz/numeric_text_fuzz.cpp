// Fuzzes the two readings of the date in a copy's name: the numeric test and
// the leading number, and the rounding of the latter.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "job/numeric_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const bool numeric = job::isNumeric(text);
  const double value = job::leadingNumber(text);
  if (std::isnan(value)) std::abort();

  // Plain digits always pass, and read as the number they spell.
  if (!text.empty() && text.size() <= 15 &&
      text.find_first_not_of("0123456789") == std::string::npos) {
    if (!numeric || value != static_cast<double>(std::stoll(text))) std::abort();
  }
  if (std::isfinite(value) && std::fabs(value) < 1e15) {
    const double rounded = static_cast<double>(job::roundHalfEven(value));
    if (std::fabs(rounded - value) > 0.5) std::abort();
  }
  return 0;
}
