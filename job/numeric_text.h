// The two ways the retention phase reads the date in a copy's name.
#pragma once

#include <cstdint>
#include <string_view>

namespace job {

// Whether the text is a plain decimal number: optional blanks and sign,
// digits with at most one decimal point, an optional exponent, optional
// trailing blanks. Eight decimal digits always pass.
bool isNumeric(std::string_view text);

// The number the text begins with. Blanks, tabs and line feeds are skipped
// wherever they stand; an optional sign, then digits with at most one
// decimal point; reading stops at the first character that cannot continue
// the number. Text without a leading number reads as 0.
double leadingNumber(std::string_view text);

// Rounds to the nearest integer, halves to the even one.
std::int64_t roundHalfEven(double value);

}  // namespace job
