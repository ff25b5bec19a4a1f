// The locale's short-date form with the year always in four digits.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// A strftime date form with every two-digit year ("%y", also inside "%D")
// made a four-digit one; order and separators stay the locale's. A log
// kept for years must not read "08/12/26".
std::string withFourDigitYears(std::string_view dateForm);

}  // namespace platform
