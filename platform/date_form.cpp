// The locale's short-date form with the year always in four digits.
#include "platform/date_form.h"

namespace platform {

std::string withFourDigitYears(std::string_view dateForm) {
  std::string form;
  for (std::size_t i = 0; i < dateForm.size(); ++i) {
    if (dateForm[i] != '%' || i + 1 == dateForm.size()) {
      form += dateForm[i];
      continue;
    }
    std::size_t conversion = i + 1;
    // The alternative forms "%Ey" and "%Oy" are two-digit years too.
    const bool modified = dateForm[conversion] == 'E' || dateForm[conversion] == 'O';
    if (modified && conversion + 1 < dateForm.size()) ++conversion;
    const char what = dateForm[conversion];
    if (what == 'y') {
      form += "%Y";
    } else if (what == 'D') {
      form += "%m/%d/%Y";
    } else {
      form.append(dateForm.substr(i, conversion - i + 1));
    }
    i = conversion;
  }
  return form;
}

}  // namespace platform
